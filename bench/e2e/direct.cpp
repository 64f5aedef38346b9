// skrib-bench-direct: the floor that the driver is measured against. It
// reads the board's node and, for every report, moves the pointer through
// XTest at once: no reader thread, no queue, no pointer engine; the same
// conversion and the same X requests as the driver for a drag (a motion and
// a press for the first touching report, a motion for each further one, a
// release for the lift), one flush per report.
//
// usage: skrib-bench-direct --node PATH
// Runs in the driver's working folder (the conversion reads
// Config/config.xml). Prints "ready" once the node and the display are
// open; ends at the end of the node or on a signal.
#include "Conversion.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kReportSize = 64;

int U16(const unsigned char* p)
{
    return p[0] | p[1] << 8;
}

} // namespace

int main(int argc, char** argv)
{
    std::string node;
    for (int i = 1; i + 1 < argc; i += 2)
        if (strcmp(argv[i], "--node") == 0)
            node = argv[i + 1];
    if (node.empty()) {
        fprintf(stderr, "usage: skrib-bench-direct --node PATH\n");
        return 2;
    }
    const int fd = open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        fprintf(stderr, "skrib-bench-direct: %s: %s\n", node.c_str(), strerror(errno));
        return 1;
    }
    termios raw;
    if (isatty(fd) && tcgetattr(fd, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(fd, TCSANOW, &raw);
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        fprintf(stderr, "skrib-bench-direct: no display\n");
        return 1;
    }
    std::unique_ptr<CConversionBase> conversion(CConversionBase::CreateConversion("SkribWorkZIW"));
    conversion->Init(DisplayWidth(display, DefaultScreen(display)), DisplayHeight(display, DefaultScreen(display)));
    printf("ready\n");
    fflush(stdout);

    unsigned char buf[4096];
    size_t have = 0;
    bool down = false;
    for (;;) {
        const ssize_t n = read(fd, buf + have, sizeof buf - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        have += static_cast<size_t>(n);
        size_t at = 0;
        for (; have - at >= kReportSize; at += kReportSize) {
            const unsigned char* r = buf + at;
            if (r[0] != 1)
                continue;
            if (r[1] == 7) {
                const wxPoint p = conversion->Conversion(wxRealPoint(U16(r + 3), U16(r + 5)));
                XTestFakeMotionEvent(display, -1, p.x, p.y, CurrentTime);
                if (!down)
                    XTestFakeButtonEvent(display, 1, True, CurrentTime);
                down = true;
            } else if (down) {
                XTestFakeButtonEvent(display, 1, False, CurrentTime);
                down = false;
            }
            XFlush(display);
        }
        memmove(buf, buf + at, have - at);
        have -= at;
    }
    XCloseDisplay(display);
    return 0;
}
