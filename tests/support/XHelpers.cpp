#include "XHelpers.h"

#include <X11/Xlib.h>

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <functional>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>

namespace {

using Match = std::function<bool(Display*, Window)>;

bool Search(Display* display, Window window, const Match& match, XWindowInfo& info)
{
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable &&
        match(display, window)) {
        Window child;
        info.window = window;
        info.width = attributes.width;
        info.height = attributes.height;
        XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &info.x, &info.y, &child);
        return true;
    }
    Window root, parent, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count))
        return false;
    bool found = false;
    for (unsigned int i = 0; i < count && !found; ++i)
        found = Search(display, children[i], match, info);
    if (children)
        XFree(children);
    return found;
}

} // namespace

bool FindViewableWindow(Display* display, const std::string& name, XWindowInfo& info)
{
    XSync(display, False);
    return Search(
        display, DefaultRootWindow(display),
        [&](Display* d, Window w) {
            char* title = nullptr;
            if (!XFetchName(d, w, &title) || !title)
                return false;
            bool same = name == title;
            XFree(title);
            return same;
        },
        info);
}

bool FindViewableWindowOfProcess(Display* display, long pid, XWindowInfo& info)
{
    XSync(display, False);
    Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    return Search(
        display, DefaultRootWindow(display),
        [&](Display* d, Window w) {
            Atom type;
            int format;
            unsigned long count, after;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(d, w, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data) !=
                    Success ||
                !data)
                return false;
            bool same = count == 1 && *reinterpret_cast<unsigned long*>(data) == static_cast<unsigned long>(pid);
            XFree(data);
            return same;
        },
        info);
}

void PressReturnOver(Display* display, const XWindowInfo& info)
{
    PressKeyOver(display, info, XK_Return);
}

void PressKeyOver(Display* display, const XWindowInfo& info, unsigned long keysym)
{
    int screen = DefaultScreen(display);
    XTestFakeMotionEvent(display, screen, info.x + 1, info.y + 1, CurrentTime);
    XTestFakeMotionEvent(display, screen, info.x + info.width / 2, info.y + info.height / 2, CurrentTime);
    KeyCode key = XKeysymToKeycode(display, static_cast<KeySym>(keysym));
    XTestFakeKeyEvent(display, key, True, CurrentTime);
    XTestFakeKeyEvent(display, key, False, CurrentTime);
    XFlush(display);
}

bool ScreenPixel(Display* display, int x, int y, unsigned long& rgb)
{
    XImage* image = XGetImage(display, DefaultRootWindow(display), x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return false;
    rgb = XGetPixel(image, 0, 0) & 0xffffff;
    XDestroyImage(image);
    return true;
}

Display* OpenDisplay(const std::string& name)
{
    return XOpenDisplay(name.empty() ? nullptr : name.c_str());
}

void CloseDisplay(Display* display)
{
    XCloseDisplay(display);
}

void ScreenSize(Display* display, int& width, int& height)
{
    width = DisplayWidth(display, DefaultScreen(display));
    height = DisplayHeight(display, DefaultScreen(display));
}
