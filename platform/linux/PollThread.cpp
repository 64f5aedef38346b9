#include "PollThread.h"

#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

bool CPollThread::Start(int fd, Handler handler, std::function<void()> first, short events)
{
    if (m_thread.joinable() || fd < 0)
        return false;
    m_stopFd = eventfd(0, EFD_CLOEXEC);
    if (m_stopFd < 0)
        return false;
    m_thread = std::thread([this, fd, events, handler = std::move(handler), first = std::move(first)] {
        if (first)
            first();
        Loop(fd, events, handler);
    });
    return true;
}

void CPollThread::Loop(int fd, short events, const Handler& handler)
{
    pollfd fds[2] = {{fd, events, 0}, {m_stopFd, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            handler(POLLERR);
            return;
        }
        if (fds[1].revents || !handler(fds[0].revents))
            return;
    }
}

bool CPollThread::StopAsked(int timeoutMs) const
{
    pollfd stop = {m_stopFd, POLLIN, 0};
    return poll(&stop, 1, timeoutMs) > 0;
}

void CPollThread::Stop()
{
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        ssize_t ignored = write(m_stopFd, &one, sizeof one);
        (void)ignored;
        m_thread.join();
    }
    if (m_stopFd >= 0)
        close(m_stopFd);
    m_stopFd = -1;
}
