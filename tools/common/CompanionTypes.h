// What the companion programs (the settings client and the calibration
// application) share without the toolkit: the outcomes of talking to the
// settings server, their exit statuses, number arguments and the screen
// calibration's point counts.
#pragma once

#include <cerrno>
#include <cstdlib>

// Outcomes of connecting and of starting an advise loop.
enum LinkResult
{
    LINK_OK = 0,
    LINK_NO_DRIVER,  // nothing listens on the port
    LINK_REFUSED,    // the server refused the topic
    LINK_NO_BOARD,   // the server refused the advise start: no board is active, or it did not start the run
    LINK_LOST,       // the connection broke
};

// Exit statuses of the companion programs.
enum ClientExit
{
    EXIT_DONE = 0,
    EXIT_USAGE = 1,
    EXIT_NO_DRIVER = 2,    // nothing listens on the settings port
    EXIT_REFUSED = 3,      // the driver refused the topic
    EXIT_NO_BOARD = 4,     // no board is active, or it did not start the run
    EXIT_LOST = 5,         // the driver closed the connection before the end
    EXIT_INTERRUPTED = 6,  // a signal ended a calibration before its last point
};

inline ClientExit ExitFor(LinkResult result)
{
    switch (result) {
    case LINK_OK:
        return EXIT_DONE;
    case LINK_NO_DRIVER:
        return EXIT_NO_DRIVER;
    case LINK_REFUSED:
        return EXIT_REFUSED;
    case LINK_NO_BOARD:
        return EXIT_NO_BOARD;
    case LINK_LOST:
        break;
    }
    return EXIT_LOST;
}

// The screen calibration's point counts: the grids the conversion knows.
inline bool IsScreenPointCount(int n)
{
    return n == 4 || n == 9 || n == 12 || n == 20;
}

// A whole decimal number from min to max; false for anything else (also
// for a missing text).
inline bool ParseBoundedInt(const char* text, long min, long max, int& out)
{
    if (!text || !*text)
        return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return false;
    out = static_cast<int>(v);
    return true;
}
