// The simulated board's descriptors: a sink that writes reports to a file
// descriptor (a pseudo-terminal that stands in for a hidraw node, a pipe, a
// file), and pacers that keep real time, one of them reading what the driver
// writes back while it waits.
#pragma once

#include "BoardSim.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

// A terminal (a pseudo-terminal standing in for a report node) passes bytes
// through its line discipline: carriage returns, ^C, ^S and friends would be
// changed or swallowed. Switches `fd` to raw mode when it is a terminal; the
// settings of a pseudo-terminal are shared by both ends. False only when a
// terminal could not be switched.
bool MakeRawIfTty(int fd);

class CFdSink : public CByteSink
{
public:
    // Writes to `fd`; closes it at the end when `owned`.
    explicit CFdSink(int fd, bool owned = false);
    ~CFdSink() override;
    CFdSink(const CFdSink&) = delete;
    CFdSink& operator=(const CFdSink&) = delete;

    // Opens a node or file for reading and writing, raw when it is a
    // terminal. Null with a message in `error` on failure.
    static std::unique_ptr<CFdSink> Open(const std::string& path, std::string& error);

    int Fd() const { return m_fd; }
    // Whole writes: retries after interruptions and short writes; waits up to
    // two seconds for a non-blocking descriptor that is full.
    bool Write(const SimBytes& bytes) override;

private:
    int m_fd;
    bool m_owned;
};

// Sleeps until each offset on the steady clock; the clock starts at the
// first call. Stops early when `*stop` turns true (checked every 20 ms).
class CSteadyPacer : public CPacer
{
public:
    explicit CSteadyPacer(const std::atomic<bool>* stop = nullptr) : m_stop(stop) {}
    bool WaitUntil(std::chrono::microseconds offset) override;

private:
    const std::atomic<bool>* m_stop;
    bool m_started = false;
    std::chrono::steady_clock::time_point m_start;
};

// Waits by watching `fd` for input and hands every chunk that arrives to
// `onBytes`. At end of file (a pipe or file with nothing more) it stops
// watching and keeps time alone. A pseudo-terminal whose other end is not
// open yet is looked at again every 10 ms.
class CReadingPacer : public CPacer
{
public:
    CReadingPacer(int fd, std::function<void(const std::uint8_t*, std::size_t)> onBytes,
                  const std::atomic<bool>* stop = nullptr);
    bool WaitUntil(std::chrono::microseconds offset) override;
    // True once the descriptor reached end of file or failed.
    bool Ended() const { return m_fd < 0; }

private:
    int m_fd;
    std::function<void(const std::uint8_t*, std::size_t)> m_onBytes;
    const std::atomic<bool>* m_stop;
    bool m_started = false;
    std::chrono::steady_clock::time_point m_start;
};
