#include "PointerFrames.h"

bool operator==(const PointerFrame& a, const PointerFrame& b)
{
    return a.x == b.x && a.y == b.y && a.left == b.left && a.right == b.right;
}

std::string ToString(const PointerFrame& frame)
{
    std::string text = std::to_string(frame.x) + "," + std::to_string(frame.y);
    if (frame.left)
        text += " L";
    if (frame.right)
        text += " R";
    return text;
}

std::string ToString(const std::vector<PointerFrame>& frames)
{
    std::string text;
    for (const PointerFrame& frame : frames)
        text += (text.empty() ? "" : " | ") + ToString(frame);
    return text.empty() ? "(none)" : text;
}

void CPointerTrack::Feed(const input_event& event)
{
    switch (event.type) {
    case EV_ABS:
        if (event.code == ABS_X)
            m_state.x = event.value;
        else if (event.code == ABS_Y)
            m_state.y = event.value;
        break;
    case EV_KEY:
        if (event.code == BTN_LEFT)
            m_state.left = event.value != 0;
        else if (event.code == BTN_RIGHT)
            m_state.right = event.value != 0;
        break;
    case EV_SYN:
        if (event.code == SYN_REPORT)
            m_frames.push_back(m_state);
        else if (event.code == SYN_DROPPED)
            m_dropped = true;
        break;
    default:
        break;
    }
}

std::vector<PointerFrame> Collapse(const std::vector<PointerFrame>& frames, PointerFrame start)
{
    std::vector<PointerFrame> kept;
    PointerFrame last = start;
    for (const PointerFrame& frame : frames) {
        if (frame != last)
            kept.push_back(frame);
        last = frame;
    }
    return kept;
}

CExpectedPointer::CExpectedPointer(const wxString& family) : CMouseCtrlBase(family)
{
    ReadConfig();
}

std::vector<PointerFrame> CExpectedPointer::Take()
{
    std::vector<PointerFrame> frames;
    frames.swap(m_frames);
    return frames;
}

void CExpectedPointer::Push()
{
    m_frames.push_back(m_state);
}

void CExpectedPointer::LButtonDown()
{
    m_state.left = true;
    Push();
}

void CExpectedPointer::RButton()
{
    m_state.right = true;
    Push();
}

void CExpectedPointer::LButtonUp()
{
    m_state.left = false;
    Push();
}

void CExpectedPointer::RButtonUp()
{
    m_state.right = false;
    Push();
}

void CExpectedPointer::LButtonDoubleClick()
{
    // Up, down, up: three reports.
    for (bool down : {false, true, false}) {
        m_state.left = down;
        Push();
    }
}

void CExpectedPointer::MouseMove(int x, int y)
{
    m_state.x = x;
    m_state.y = y;
    Push();
}
