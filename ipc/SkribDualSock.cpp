#include "SkribDualSock.h"

#include "SkribLog.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

namespace {

using Clock = std::chrono::steady_clock;

void PutLE32(unsigned char* at, int value)
{
    const uint32_t bits = static_cast<uint32_t>(value);
    at[0] = static_cast<unsigned char>(bits);
    at[1] = static_cast<unsigned char>(bits >> 8);
    at[2] = static_cast<unsigned char>(bits >> 16);
    at[3] = static_cast<unsigned char>(bits >> 24);
}

// Milliseconds left until `deadline`, never negative.
int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on `fd` until `deadline`; true when they came.
bool WaitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int ready = poll(&p, 1, MsLeft(deadline));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

// A connected socket to 127.0.0.1:port, or -1.
int Connect(uint16_t port, int timeoutMs)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
    if (!connected && (errno == EINPROGRESS || errno == EINTR)) {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        int error = 0;
        socklen_t len = sizeof error;
        connected = WaitFor(fd, POLLOUT, deadline) && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 &&
                    error == 0;
    }
    // The socket must report itself connected.
    sockaddr_in check{};
    socklen_t checkLen = sizeof check;
    if (connected && getpeername(fd, reinterpret_cast<sockaddr*>(&check), &checkLen) != 0)
        connected = false;
    if (!connected) {
        close(fd);
        return -1;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

} // namespace

void FormatDualRecord(int action, int x, int y, unsigned char (&record)[DUAL_RECORD_SIZE])
{
    PutLE32(record, -1);
    PutLE32(record + 4, -1);
    PutLE32(record + 8, action);
    PutLE32(record + 12, x);
    PutLE32(record + 16, y);
}

CSkribDualSock::CSkribDualSock(int connectTimeoutMs) : m_iConnectTimeoutMs(connectTimeoutMs)
{
}

CSkribDualSock::~CSkribDualSock()
{
    DisConnect();
}

bool CSkribDualSock::ConnectToSoft(int port)
{
    DisConnect();
    // The wait for the peer runs without the lock; writers meanwhile see no
    // connection and drop their records.
    const int fd = Connect(static_cast<uint16_t>(port), m_iConnectTimeoutMs);
    if (fd < 0) {
        SkribLog("dual-user link: no connection to 127.0.0.1:%u", static_cast<unsigned>(static_cast<uint16_t>(port)));
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_iSocket >= 0)
        close(m_iSocket); // connected again meanwhile from another thread: the newer one stays
    m_iSocket = fd;
    return true;
}

bool CSkribDualSock::SendDualData(int action, int x, int y)
{
    unsigned char record[DUAL_RECORD_SIZE];
    FormatDualRecord(action, x, y, record);

    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_iSocket < 0)
        return false;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(DUAL_WRITE_TIMEOUT_MS);
    size_t sent = 0;
    while (sent < sizeof record) {
        const ssize_t n = send(m_iSocket, record + sent, sizeof record - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(m_iSocket, POLLOUT, deadline))
            continue;
        // Gone, or no room in time: nothing may follow a part of a record.
        close(m_iSocket);
        m_iSocket = -1;
        return false;
    }
    return true;
}

void CSkribDualSock::DisConnect()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_iSocket >= 0) {
        close(m_iSocket);
        m_iSocket = -1;
    }
}

bool CSkribDualSock::IsConnected() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_iSocket >= 0;
}
