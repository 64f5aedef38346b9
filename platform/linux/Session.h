// The driver's link to the session it runs in: whether a display can be
// reached, and the signals and events that end the session.
#pragma once

#include "PollThread.h"

#include <functional>

// Makes Xlib safe for use from several threads; before any other Xlib call.
void InitDisplayThreads();

// True when an X display answers (DISPLAY), or a Wayland display is named.
bool DisplayReachable();

// Calls `onLost` on the main thread when the X connection of the toolkit
// breaks (the X server or the desktop session ended), then ends the process
// with status 0. The toolkit would otherwise end it without any teardown.
void InstallDisplayLossHandler(void (*onLost)());

// SIGTERM, SIGINT and SIGHUP end the driver in order. They are blocked in
// every thread (call BlockEndSignals() in main before any thread exists) and
// taken by one watcher thread, which hands them to `onSignal`.
void BlockEndSignals();

class CEndSignalWatcher
{
public:
    explicit CEndSignalWatcher(std::function<void(int)> onSignal);
    ~CEndSignalWatcher(); // stops and joins the watcher thread

    bool Start();
    void Stop();

private:

    std::function<void(int)> m_onSignal;
    int m_sigFd = -1;
    CPollThread m_thread;
};
