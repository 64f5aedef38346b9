#include "Session.h"

#include <X11/Xlib.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

void (*g_onDisplayLost)() = nullptr;

int OnXIOError(Display*)
{
    if (g_onDisplayLost)
        g_onDisplayLost();
    _exit(0);
}

sigset_t EndSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

} // namespace

void InitDisplayThreads()
{
    XInitThreads();
}

bool DisplayReachable()
{
    const char* wayland = getenv("WAYLAND_DISPLAY");
    if (wayland && *wayland)
        return true;
    const char* name = getenv("DISPLAY");
    if (!name || !*name)
        return false;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XCloseDisplay(display);
    return true;
}

void InstallDisplayLossHandler(void (*onLost)())
{
    g_onDisplayLost = onLost;
    XSetIOErrorHandler(OnXIOError);
}

void BlockEndSignals()
{
    sigset_t set = EndSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A peer that goes away must not end the driver through a write.
    signal(SIGPIPE, SIG_IGN);
}

CEndSignalWatcher::CEndSignalWatcher(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal)) {}

CEndSignalWatcher::~CEndSignalWatcher()
{
    Stop();
}

bool CEndSignalWatcher::Start()
{
    sigset_t set = EndSignals();
    m_sigFd = signalfd(-1, &set, SFD_CLOEXEC);
    if (m_sigFd < 0 || !m_thread.Start(m_sigFd, [this](short revents) {
            signalfd_siginfo info;
            if ((revents & POLLIN) && read(m_sigFd, &info, sizeof info) == sizeof info)
                m_onSignal(static_cast<int>(info.ssi_signo));
            return !(revents & (POLLERR | POLLNVAL));
        })) {
        Stop();
        return false;
    }
    return true;
}

void CEndSignalWatcher::Stop()
{
    m_thread.Stop();
    if (m_sigFd >= 0)
        close(m_sigFd);
    m_sigFd = -1;
}
