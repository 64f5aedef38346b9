// Looking at and driving a private X server from a second client.
#pragma once

// Xlib types without Xlib's macros, which clash with other headers.
typedef struct _XDisplay Display;
typedef unsigned long XID;
typedef XID Window;

#include <string>

struct XWindowInfo
{
    Window window = 0;
    int x = 0, y = 0;
    int width = 0, height = 0;
};

// The first viewable window whose WM_NAME equals `name`, searched over the
// whole tree; false when none is mapped.
bool FindViewableWindow(Display* display, const std::string& name, XWindowInfo& info);

// The first viewable top-level window that the process `pid` owns (_NET_WM_PID).
bool FindViewableWindowOfProcess(Display* display, long pid, XWindowInfo& info);

// Moves the pointer over the window's centre and presses Return, as a user
// would answer a message box. A first motion warms up the server's input.
void PressReturnOver(Display* display, const XWindowInfo& info);
// The same with any key (an X keysym, e.g. 0xff1b for Escape).
void PressKeyOver(Display* display, const XWindowInfo& info, unsigned long keysym);

// The colour of one pixel of the screen as 0xRRGGBB; false when it cannot
// be read.
bool ScreenPixel(Display* display, int x, int y, unsigned long& rgb);

Display* OpenDisplay(const std::string& name); // "" for $DISPLAY
void CloseDisplay(Display* display);
void ScreenSize(Display* display, int& width, int& height);
