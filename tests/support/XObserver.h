// A second X client that watches the pointer: a window over the whole
// screen that records the button and motion events it receives.
#pragma once

#include <X11/Xlib.h>

#include <ostream>
#include <string>
#include <vector>

#include "TestSupport.h"

struct Seen
{
    int type;   // ButtonPress, ButtonRelease, MotionNotify
    int detail; // button, or the held buttons' mask for a motion
    int x, y;
    bool operator==(const Seen& o) const { return type == o.type && detail == o.detail && x == o.x && y == o.y; }
};

inline std::ostream& operator<<(std::ostream& out, const Seen& s)
{
    static const char* names[] = {"?", "?", "?", "?", "press", "release", "motion"};
    return out << names[s.type < 7 ? s.type : 0] << "(" << s.detail << ") at " << s.x << "," << s.y;
}

class CObserver
{
public:
    explicit CObserver(const std::string& display)
    {
        m_display = XOpenDisplay(display.c_str());
        if (!m_display)
            return;
        int screen = DefaultScreen(m_display);
        m_window = XCreateSimpleWindow(m_display, RootWindow(m_display, screen), 0, 0,
                                       static_cast<unsigned>(DisplayWidth(m_display, screen)),
                                       static_cast<unsigned>(DisplayHeight(m_display, screen)), 0, 0, 0);
        XSelectInput(m_display, m_window,
                     ButtonPressMask | ButtonReleaseMask | PointerMotionMask | StructureNotifyMask);
        XMapWindow(m_display, m_window);
        XEvent e;
        do
            XNextEvent(m_display, &e);
        while (e.type != MapNotify);
    }
    ~CObserver()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    bool Ready() const { return m_display != nullptr; }

    // Collects pointer events until `count` of the wanted kinds arrived.
    std::vector<Seen> Collect(size_t count, bool withMotion)
    {
        std::vector<Seen> seen;
        WaitUntil(
            [&] {
                while (XPending(m_display)) {
                    XEvent e;
                    XNextEvent(m_display, &e);
                    if (e.type == ButtonPress || e.type == ButtonRelease)
                        seen.push_back({e.type, static_cast<int>(e.xbutton.button), e.xbutton.x, e.xbutton.y});
                    else if (e.type == MotionNotify && withMotion)
                        seen.push_back({e.type, static_cast<int>(e.xmotion.state & (Button1Mask | Button3Mask)),
                                        e.xmotion.x, e.xmotion.y});
                }
                return seen.size() >= count;
            },
            5000);
        return seen;
    }

private:
    Display* m_display = nullptr;
    Window m_window = 0;
};

