// The driver's virtual pointer as a program on the machine sees it: its
// event node, found by the device's name, read on a thread of its own.
#pragma once

#include "PointerFrames.h"
#include "PollThread.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

// "/dev/input/eventN" of the input device named `name`; empty when none.
std::string FindEventNode(const std::string& name);

class CEvdevPointer
{
public:
    ~CEvdevPointer();

    // Opens the node, takes the pointer's present state as the start and
    // starts reading. False with a message in `error`.
    bool Open(const std::string& node, std::string& error);
    void Close();

    // The largest value of an absolute axis; -1 when it cannot be read.
    int AbsMaximum(int axis) const;

    // Copies of what was read so far.
    CPointerTrack Track() const;
    // Waits until `condition` holds for what was read, at most `timeoutMs`.
    bool WaitFor(const std::function<bool(const CPointerTrack&)>& condition, int timeoutMs) const;
    // The node went away (the device was destroyed).
    bool Gone() const;

private:
    bool OnReadable(short revents);

    int m_fd = -1;
    CPollThread m_reader;
    // Guards m_track and m_gone between the reader thread and the callers.
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    CPointerTrack m_track;
    bool m_gone = false;
};
