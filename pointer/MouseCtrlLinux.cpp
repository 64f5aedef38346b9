#include "MouseCtrlLinux.h"

#include "Injection.h"
#include "SkribLog.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

std::mutex g_injectionMutex; // guards the choice below (set once at start)
InjectionKind g_kind = INJECT_AUTO;
int g_uinputWidth = 1920, g_uinputHeight = 1080;

bool XTestAvailable(int* width, int* height)
{
    const char* name = getenv("DISPLAY");
    if (!name || !*name)
        return false;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    int event, error, major, minor;
    bool ok = XTestQueryExtension(display, &event, &error, &major, &minor);
    if (width)
        *width = DisplayWidth(display, DefaultScreen(display));
    if (height)
        *height = DisplayHeight(display, DefaultScreen(display));
    XCloseDisplay(display);
    return ok;
}

} // namespace

void SetInjection(InjectionKind kind, int uinputWidth, int uinputHeight)
{
    std::lock_guard<std::mutex> lock(g_injectionMutex);
    g_kind = kind;
    if (uinputWidth > 0 && uinputHeight > 0) {
        g_uinputWidth = uinputWidth;
        g_uinputHeight = uinputHeight;
    }
}

bool ParseInjectionKind(const std::string& text, InjectionKind& kind)
{
    static const struct
    {
        const char* name;
        InjectionKind kind;
    } kNames[] = {{"auto", INJECT_AUTO}, {"xtest", INJECT_XTEST}, {"uinput", INJECT_UINPUT}, {"none", INJECT_NONE}};
    for (const auto& n : kNames)
        if (text == n.name) {
            kind = n.kind;
            return true;
        }
    return false;
}

InjectionKind ResolveInjection(std::string* why)
{
    InjectionKind kind;
    {
        std::lock_guard<std::mutex> lock(g_injectionMutex);
        kind = g_kind;
    }
    if (kind != INJECT_AUTO) {
        if (why)
            *why = "chosen by option";
        return kind;
    }
    if (XTestAvailable(nullptr, nullptr)) {
        if (why)
            *why = "an X display with the XTest extension answers";
        return INJECT_XTEST;
    }
    if (why)
        *why = "no X display with XTest; a virtual pointer through /dev/uinput";
    return INJECT_UINPUT;
}

bool InjectionScreenSize(int& width, int& height)
{
    InjectionKind kind = ResolveInjection();
    if (kind == INJECT_XTEST)
        return XTestAvailable(&width, &height);
    std::lock_guard<std::mutex> lock(g_injectionMutex);
    width = g_uinputWidth;
    height = g_uinputHeight;
    return true;
}

CMouseCtrlBase* CMouseCtrlBase::CreateMouseCtrl(const wxString& name)
{
    std::string why;
    InjectionKind kind = ResolveInjection(&why);
    switch (kind) {
    case INJECT_XTEST: {
        CMouseCtrlXTest* engine = new CMouseCtrlXTest(name);
        SkribLog("pointer injection: XTest (%s)%s", why.c_str(), engine->IsReady() ? "" : ", but the display is gone");
        return engine;
    }
    case INJECT_UINPUT: {
        int width = 0, height = 0;
        InjectionScreenSize(width, height);
        CMouseCtrlUinput* engine = new CMouseCtrlUinput(name, width, height);
        SkribLog("pointer injection: uinput %dx%d (%s)%s", width, height, why.c_str(),
                 engine->IsReady() ? "" : ", but /dev/uinput cannot be used: the pointer will not move");
        return engine;
    }
    default:
        SkribLog("pointer injection: none (%s)", why.c_str());
        return new CMouseCtrlNull(name);
    }
}

CMouseCtrlXTest::CMouseCtrlXTest(const wxString& name) : CMouseCtrlBase(name)
{
    m_pDisplay = XOpenDisplay(nullptr);
}

CMouseCtrlXTest::~CMouseCtrlXTest()
{
    if (m_pDisplay)
        XCloseDisplay(m_pDisplay);
}

void CMouseCtrlXTest::Button(unsigned int button, bool down)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_pDisplay)
        return;
    XTestFakeButtonEvent(m_pDisplay, button, down ? True : False, CurrentTime);
    XFlush(m_pDisplay);
}

void CMouseCtrlXTest::LButtonDown()
{
    Button(1, true);
}

void CMouseCtrlXTest::RButton()
{
    Button(3, true);
}

void CMouseCtrlXTest::LButtonUp()
{
    Button(1, false);
}

void CMouseCtrlXTest::RButtonUp()
{
    Button(3, false);
}

void CMouseCtrlXTest::LButtonDoubleClick()
{
    // X clients tell a double click by the time between clicks: the second
    // click follows at once.
    Button(1, false);
    Button(1, true);
    Button(1, false);
}

void CMouseCtrlXTest::MouseMove(int x, int y)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_pDisplay)
        return;
    // A motion with the left button held is a drag for X clients.
    XTestFakeMotionEvent(m_pDisplay, -1, x, y, CurrentTime);
    XFlush(m_pDisplay);
}

CMouseCtrlUinput::CMouseCtrlUinput(const wxString& name, int width, int height, Sink sink)
    : CMouseCtrlBase(name), m_sink(std::move(sink))
{
    if (m_sink)
        return;
    m_fd = open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        SkribLog("/dev/uinput: %s%s", strerror(errno),
                 errno == EACCES ? " (the user needs write access to /dev/uinput)" : "");
        return;
    }
    bool ok = ioctl(m_fd, UI_SET_EVBIT, EV_KEY) == 0 && ioctl(m_fd, UI_SET_EVBIT, EV_ABS) == 0 &&
              ioctl(m_fd, UI_SET_EVBIT, EV_SYN) == 0 && ioctl(m_fd, UI_SET_KEYBIT, BTN_LEFT) == 0 &&
              ioctl(m_fd, UI_SET_KEYBIT, BTN_RIGHT) == 0 && ioctl(m_fd, UI_SET_ABSBIT, ABS_X) == 0 &&
              ioctl(m_fd, UI_SET_ABSBIT, ABS_Y) == 0;
    uinput_abs_setup axes[2] = {};
    axes[0].code = ABS_X;
    axes[0].absinfo.maximum = width > 1 ? width - 1 : 1;
    axes[1].code = ABS_Y;
    axes[1].absinfo.maximum = height > 1 ? height - 1 : 1;
    for (uinput_abs_setup& axis : axes)
        ok = ok && ioctl(m_fd, UI_ABS_SETUP, &axis) == 0;
    uinput_setup setup = {};
    setup.id.bustype = BUS_VIRTUAL;
    setup.id.vendor = 0x1477;
    setup.id.product = 0x0001;
    snprintf(setup.name, sizeof setup.name, "SkribZIW pointer");
    ok = ok && ioctl(m_fd, UI_DEV_SETUP, &setup) == 0 && ioctl(m_fd, UI_DEV_CREATE) == 0;
    if (!ok) {
        SkribLog("/dev/uinput: cannot create the virtual pointer: %s", strerror(errno));
        close(m_fd);
        m_fd = -1;
    }
}

CMouseCtrlUinput::~CMouseCtrlUinput()
{
    if (m_fd >= 0) {
        ioctl(m_fd, UI_DEV_DESTROY);
        close(m_fd);
    }
}

void CMouseCtrlUinput::Emit(const InputEvents& events)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_sink) {
        m_sink(events);
        return;
    }
    if (m_fd < 0)
        return;
    ssize_t ignored = write(m_fd, events.data(), events.size() * sizeof(input_event));
    (void)ignored;
}

void CMouseCtrlUinput::LButtonDown()
{
    Emit(UinputButton(BTN_LEFT, true));
}

void CMouseCtrlUinput::RButton()
{
    Emit(UinputButton(BTN_RIGHT, true));
}

void CMouseCtrlUinput::LButtonUp()
{
    Emit(UinputButton(BTN_LEFT, false));
}

void CMouseCtrlUinput::RButtonUp()
{
    Emit(UinputButton(BTN_RIGHT, false));
}

void CMouseCtrlUinput::LButtonDoubleClick()
{
    Emit(UinputDoubleClick());
}

void CMouseCtrlUinput::MouseMove(int x, int y)
{
    Emit(UinputMove(x, y));
}
