// The pointer as a reader of its event node sees it, and as the driver's
// pointer engine means it to be: both as a list of frames, the pointer's
// state after each report boundary (EV_SYN), so that the two can be compared.
//
// The kernel passes on no event for a value that did not change and no
// boundary without an event before it: a move to where the pointer already
// is never reaches a reader. Expected frames are therefore compared after
// Collapse.
#pragma once

#include "MouseCtrl.h"

#include <linux/input.h>

#include <string>
#include <vector>

struct PointerFrame
{
    int x = 0;
    int y = 0;
    bool left = false;
    bool right = false;
};

bool operator==(const PointerFrame& a, const PointerFrame& b);
inline bool operator!=(const PointerFrame& a, const PointerFrame& b) { return !(a == b); }
std::string ToString(const PointerFrame& frame);       // "640,400 L"
std::string ToString(const std::vector<PointerFrame>& frames);

// Frames from the events of an absolute pointer, in order.
class CPointerTrack
{
public:
    explicit CPointerTrack(PointerFrame start = PointerFrame()) : m_state(start) {}

    void Feed(const input_event& event);

    const std::vector<PointerFrame>& Frames() const { return m_frames; }
    const PointerFrame& State() const { return m_state; }
    // The reader fell behind and the kernel dropped events (SYN_DROPPED).
    bool Dropped() const { return m_dropped; }

private:
    PointerFrame m_state;
    std::vector<PointerFrame> m_frames;
    bool m_dropped = false;
};

// `frames` without the frames that change nothing, starting from `start`.
std::vector<PointerFrame> Collapse(const std::vector<PointerFrame>& frames, PointerFrame start);

// The driver's pointer engine (the real one, with the settings of the
// working folder) whose operations become frames, one per operation as the
// uinput engine writes them. Needs the working folder as current folder.
class CExpectedPointer : public CMouseCtrlBase
{
public:
    explicit CExpectedPointer(const wxString& family);

    // Frames since the last Take.
    std::vector<PointerFrame> Take();
    const PointerFrame& State() const { return m_state; }

protected:
    void LButtonDown() override;
    void RButton() override;
    void LButtonUp() override;
    void RButtonUp() override;
    void LButtonDoubleClick() override;
    void MouseMove(int x, int y) override;
    void Pause(unsigned int) override {}

private:
    void Push();

    PointerFrame m_state;
    std::vector<PointerFrame> m_frames;
};
