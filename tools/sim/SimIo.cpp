#include "SimIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kStopCheck = std::chrono::milliseconds(20);
constexpr auto kPeerAbsentRetry = std::chrono::milliseconds(10);
constexpr int kFullWaitMs = 2000;

bool Stopped(const std::atomic<bool>* stop) { return stop && stop->load(); }

} // namespace

bool MakeRawIfTty(int fd)
{
    if (!isatty(fd))
        return true;
    termios raw;
    if (tcgetattr(fd, &raw) != 0)
        return false;
    cfmakeraw(&raw);
    return tcsetattr(fd, TCSANOW, &raw) == 0;
}

CFdSink::CFdSink(int fd, bool owned) : m_fd(fd), m_owned(owned) {}

CFdSink::~CFdSink()
{
    if (m_owned && m_fd >= 0)
        close(m_fd);
}

std::unique_ptr<CFdSink> CFdSink::Open(const std::string& path, std::string& error)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        if (errno == EACCES)
            error += " (no permission on the node: run as a member of its group, or as root)";
        return nullptr;
    }
    if (!MakeRawIfTty(fd)) {
        error = "cannot switch " + path + " to raw mode: " + std::strerror(errno);
        close(fd);
        return nullptr;
    }
    return std::make_unique<CFdSink>(fd, true);
}

bool CFdSink::Write(const SimBytes& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{m_fd, POLLOUT, 0};
            if (poll(&p, 1, kFullWaitMs) > 0 && (p.revents & POLLOUT))
                continue;
        }
        return false;
    }
    return true;
}

bool CSteadyPacer::WaitUntil(std::chrono::microseconds offset)
{
    if (!m_started) {
        m_start = Clock::now();
        m_started = true;
    }
    const Clock::time_point due = m_start + offset;
    while (!Stopped(m_stop)) {
        const Clock::time_point now = Clock::now();
        if (now >= due)
            return true;
        std::this_thread::sleep_until(std::min(due, now + kStopCheck));
    }
    return false;
}

CReadingPacer::CReadingPacer(int fd, std::function<void(const std::uint8_t*, std::size_t)> onBytes,
                             const std::atomic<bool>* stop)
    : m_fd(fd), m_onBytes(std::move(onBytes)), m_stop(stop)
{
}

bool CReadingPacer::WaitUntil(std::chrono::microseconds offset)
{
    if (!m_started) {
        m_start = Clock::now();
        m_started = true;
    }
    const Clock::time_point due = m_start + offset;
    std::uint8_t buf[4096];
    while (!Stopped(m_stop)) {
        const Clock::time_point now = Clock::now();
        if (now >= due)
            return true;
        const Clock::duration slice = std::min<Clock::duration>(due - now, kStopCheck);
        if (m_fd < 0) {
            std::this_thread::sleep_for(slice);
            continue;
        }
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(slice).count();
        const timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        pollfd p{m_fd, POLLIN, 0};
        const int ready = ppoll(&p, 1, &timeout, nullptr);
        if (ready <= 0)
            continue; // time passed, or a signal
        const ssize_t n = read(m_fd, buf, sizeof buf);
        if (n > 0) {
            m_onBytes(buf, static_cast<size_t>(n));
        } else if (n == 0) {
            m_fd = -1; // end of file: nothing more will come
        } else if (errno == EIO && isatty(m_fd)) {
            // A pseudo-terminal whose other end is closed: it may be opened
            // again (the driver reopens a board node), so look again later.
            std::this_thread::sleep_for(std::min<Clock::duration>(kPeerAbsentRetry, due - Clock::now()));
        } else if (errno != EINTR && errno != EAGAIN) {
            m_fd = -1;
        }
    }
    return false;
}
