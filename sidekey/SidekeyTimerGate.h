// The window of the side-key timer (500 ms, one-shot), shared between the
// work thread that presses keys and the main thread that owns the timer.
//
// The work thread asks whether the window is open and closes it directly;
// it opens it by posting the timer's start event, which the main thread
// handles a little later. The gate keeps the answers consistent across
// that delay:
//
// - RequestStart (with the start event): the window counts as open at once,
//   so a second press that comes before the main thread has handled the
//   event is a press inside the window, not a fresh first press.
// - Stop: the window closes. An expiry of the timer that was armed for it
//   is dropped when it fires; the main thread does not start the timer for
//   a start event whose window was closed before it was handled.
// - Arm (main thread, handling a start event): whether the timer is to run.
// - Claim (with the expiry): true once, for the window that is open and
//   whose latest start has been armed; the window is then closed. An expiry
//   that a stop or a newer start overtook is refused.
//
// The work thread calls Stop and RequestStart, and the expiry calls Claim,
// while each holds the work thread's lock; so "is the window open, then act
// on it" cannot interleave with an expiry. All members are guarded by the
// gate's own mutex, which is taken last and calls nothing.
#pragma once

#include <mutex>

class CSidekeyTimerGate
{
public:
    void RequestStart();
    bool Arm();
    bool IsRunning() const;
    void Stop();
    bool Claim();

private:
    mutable std::mutex m_mutex;
    bool m_bRunning = false;
    unsigned m_requested = 0; // start requests so far
    unsigned m_armed = 0;     // the request that the running timer was armed for
};
