// A thread that waits on one descriptor beside a stop signal (an eventfd)
// and hands every wake-up to a handler, until Stop() or the handler ends it.
// Readers of board nodes, uinput devices and uhid devices all run on one.
#pragma once

#include <functional>
#include <poll.h>
#include <thread>

class CPollThread
{
public:
    // Gets the poll events of the descriptor (a failing poll arrives as
    // POLLERR); returns false to end the thread.
    using Handler = std::function<bool(short revents)>;

    CPollThread() = default;
    CPollThread(const CPollThread&) = delete;
    CPollThread& operator=(const CPollThread&) = delete;
    ~CPollThread() { Stop(); }

    // Runs `first` (when given) on the new thread, then waits for `events`
    // on fd. False when a thread runs already or no stop signal can be made.
    bool Start(int fd, Handler handler, std::function<void()> first = {}, short events = POLLIN);
    // Signals the thread and joins it; nothing when none runs. Not from the
    // thread itself.
    void Stop();
    bool Running() const { return m_thread.joinable(); }
    // For a handler that must pause: waits up to timeoutMs; true when Stop
    // was asked meanwhile (the handler should then return false).
    bool StopAsked(int timeoutMs) const;

private:
    void Loop(int fd, short events, const Handler& handler);

    int m_stopFd = -1;
    std::thread m_thread;
};
