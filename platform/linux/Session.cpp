#include "Session.h"

#include <X11/Xlib.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <sys/eventfd.h>
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
    m_wakeFd = eventfd(0, EFD_CLOEXEC);
    if (m_sigFd < 0 || m_wakeFd < 0) {
        Stop();
        return false;
    }
    m_thread = std::thread(&CEndSignalWatcher::Run, this);
    return true;
}

void CEndSignalWatcher::Stop()
{
    if (m_thread.joinable()) {
        uint64_t one = 1;
        ssize_t ignored = write(m_wakeFd, &one, sizeof one);
        (void)ignored;
        m_thread.join();
    }
    if (m_sigFd >= 0)
        close(m_sigFd);
    if (m_wakeFd >= 0)
        close(m_wakeFd);
    m_sigFd = m_wakeFd = -1;
}

void CEndSignalWatcher::Run()
{
    pollfd fds[2] = {{m_sigFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        signalfd_siginfo info;
        if (fds[0].revents && read(m_sigFd, &info, sizeof info) == sizeof info)
            m_onSignal(static_cast<int>(info.ssi_signo));
    }
}
