#include "UhidBoard.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// uhid takes and gives whole events: one struct per read and per write.
bool WriteEvent(int fd, const uhid_event& event)
{
    ssize_t n;
    do {
        n = write(fd, &event, sizeof event);
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(sizeof event);
}

} // namespace

bool UhidCreateRequest(const UhidIdentity& identity, uhid_event& request, std::string& error)
{
    if (identity.descriptor.empty() || identity.descriptor.size() > HID_MAX_DESCRIPTOR_SIZE) {
        error = "a report descriptor of 1 to " + std::to_string(HID_MAX_DESCRIPTOR_SIZE) + " bytes is needed";
        return false;
    }
    memset(&request, 0, sizeof request);
    request.type = UHID_CREATE2;
    uhid_create2_req& c = request.u.create2;
    const size_t nameLen = std::min(identity.name.size(), sizeof c.name - 1);
    memcpy(c.name, identity.name.data(), nameLen);
    c.rd_size = static_cast<__u16>(identity.descriptor.size());
    c.bus = static_cast<__u16>(identity.bus);
    c.vendor = static_cast<__u32>(identity.vendor);
    c.product = static_cast<__u32>(identity.product);
    memcpy(c.rd_data, identity.descriptor.data(), identity.descriptor.size());
    return true;
}

bool UhidInputRequest(const SimBytes& report, uhid_event& request)
{
    if (report.empty() || report.size() > UHID_DATA_MAX)
        return false;
    memset(&request, 0, sizeof request);
    request.type = UHID_INPUT2;
    request.u.input2.size = static_cast<__u16>(report.size());
    memcpy(request.u.input2.data, report.data(), report.size());
    return true;
}

bool UhidApply(const uhid_event& event, UhidState& state, uhid_event& reply)
{
    switch (event.type) {
    case UHID_START:
        state.started = true;
        state.startFlags = event.u.start.dev_flags;
        return false;
    case UHID_STOP:
        state.started = false;
        return false;
    case UHID_OPEN:
        state.open = true;
        ++state.opens;
        return false;
    case UHID_CLOSE:
        state.open = false;
        ++state.closes;
        return false;
    case UHID_OUTPUT: {
        // The size comes from the kernel; never trust it beyond the buffer.
        const size_t size = std::min<size_t>(event.u.output.size, UHID_DATA_MAX);
        state.outputs.push_back({SimBytes(event.u.output.data, event.u.output.data + size), event.u.output.rtype});
        return false;
    }
    case UHID_GET_REPORT:
        memset(&reply, 0, sizeof reply);
        reply.type = UHID_GET_REPORT_REPLY;
        reply.u.get_report_reply.id = event.u.get_report.id;
        reply.u.get_report_reply.err = EIO;
        ++state.refusedRequests;
        return true;
    case UHID_SET_REPORT:
        memset(&reply, 0, sizeof reply);
        reply.type = UHID_SET_REPORT_REPLY;
        reply.u.set_report_reply.id = event.u.set_report.id;
        reply.u.set_report_reply.err = EIO;
        ++state.refusedRequests;
        return true;
    default:
        return false;
    }
}

CUhidBoard::~CUhidBoard()
{
    Destroy();
}

bool CUhidBoard::Create(const UhidIdentity& identity, std::string& error)
{
    Destroy();
    uhid_event request;
    if (!UhidCreateRequest(identity, request, error))
        return false;
    m_fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (m_fd < 0) {
        error = std::string("cannot open /dev/uhid: ") + strerror(errno) +
                (errno == ENOENT ? " (load the uhid module)" : "");
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_state = UhidState();
    }
    if (!WriteEvent(m_fd, request)) {
        error = std::string("cannot create the uhid device: ") + strerror(errno);
        Destroy();
        return false;
    }
    if (!m_reader.Start(m_fd, [this](short revents) { return OnReadable(revents); })) {
        error = "cannot start the reader of /dev/uhid";
        Destroy();
        return false;
    }
    return true;
}

void CUhidBoard::Destroy()
{
    if (m_fd >= 0) {
        uhid_event request;
        memset(&request, 0, sizeof request);
        request.type = UHID_DESTROY;
        std::lock_guard<std::mutex> lock(m_writeMutex);
        WriteEvent(m_fd, request); // closing the descriptor below destroys it as well
    }
    m_reader.Stop();
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}

bool CUhidBoard::Write(const SimBytes& report)
{
    uhid_event request;
    if (m_fd < 0 || !UhidInputRequest(report, request))
        return false;
    std::lock_guard<std::mutex> lock(m_writeMutex);
    return WriteEvent(m_fd, request);
}

UhidState CUhidBoard::State() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}

bool CUhidBoard::WaitFor(const std::function<bool(const UhidState&)>& condition, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return condition(m_state); });
}

bool CUhidBoard::OnReadable(short revents)
{
    if (!(revents & POLLIN))
        return false;
    uhid_event event;
    uhid_event reply;
    memset(&event, 0, sizeof event);
    const ssize_t n = read(m_fd, &event, sizeof event);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return true;
    if (n <= 0)
        return false;
    bool answer;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        answer = UhidApply(event, m_state, reply);
    }
    m_changed.notify_all();
    if (answer) {
        std::lock_guard<std::mutex> lock(m_writeMutex);
        WriteEvent(m_fd, reply);
    }
    return true;
}
