#include "EvdevPointer.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

std::string FindEventNode(const std::string& name)
{
    DIR* dir = opendir("/dev/input");
    if (!dir)
        return "";
    std::string found;
    while (dirent* entry = readdir(dir)) {
        if (strncmp(entry->d_name, "event", 5) != 0)
            continue;
        const std::string node = std::string("/dev/input/") + entry->d_name;
        const int fd = open(node.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            continue;
        char devName[256] = {};
        const bool match = ioctl(fd, EVIOCGNAME(sizeof devName - 1), devName) >= 0 && name == devName;
        close(fd);
        if (match) {
            found = node;
            break;
        }
    }
    closedir(dir);
    return found;
}

CEvdevPointer::~CEvdevPointer()
{
    Close();
}

bool CEvdevPointer::Open(const std::string& node, std::string& error)
{
    Close();
    m_fd = open(node.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0) {
        error = "cannot open " + node + ": " + strerror(errno);
        Close();
        return false;
    }
    // Where the pointer is now: events before the open are not replayed.
    PointerFrame start;
    input_absinfo abs{};
    if (ioctl(m_fd, EVIOCGABS(ABS_X), &abs) == 0)
        start.x = abs.value;
    if (ioctl(m_fd, EVIOCGABS(ABS_Y), &abs) == 0)
        start.y = abs.value;
    unsigned char keys[KEY_MAX / 8 + 1] = {};
    if (ioctl(m_fd, EVIOCGKEY(sizeof keys), keys) >= 0) {
        start.left = keys[BTN_LEFT / 8] & (1 << (BTN_LEFT % 8));
        start.right = keys[BTN_RIGHT / 8] & (1 << (BTN_RIGHT % 8));
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_track = CPointerTrack(start);
        m_gone = false;
    }
    if (!m_reader.Start(m_fd, [this](short revents) { return OnReadable(revents); })) {
        error = "cannot start the reader of " + node;
        Close();
        return false;
    }
    return true;
}

void CEvdevPointer::Close()
{
    m_reader.Stop();
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}

int CEvdevPointer::AbsMaximum(int axis) const
{
    input_absinfo abs{};
    return m_fd >= 0 && ioctl(m_fd, EVIOCGABS(axis), &abs) == 0 ? abs.maximum : -1;
}

CPointerTrack CEvdevPointer::Track() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_track;
}

bool CEvdevPointer::WaitFor(const std::function<bool(const CPointerTrack&)>& condition, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return condition(m_track); });
}

bool CEvdevPointer::Gone() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_gone;
}

bool CEvdevPointer::OnReadable(short revents)
{
    input_event events[64];
    const ssize_t n = (revents & POLLIN) ? read(m_fd, events, sizeof events) : 0;
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return true;
    if (n > 0) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (size_t i = 0; i < static_cast<size_t>(n) / sizeof events[0]; ++i)
                m_track.Feed(events[i]);
        }
        m_changed.notify_all();
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gone = true; // ENODEV: the device is gone
    }
    m_changed.notify_all();
    return false;
}
