// The dual-user link against a real TCP peer on 127.0.0.1 at an ephemeral
// port: the bytes of the records, connecting, and the connection's end.
#include "SkribDualSock.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;

long MsSince(Clock::time_point start)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// A TCP socket bound to 127.0.0.1 at an ephemeral port; listening when
// `backlog` is not negative.
class CPeer
{
public:
    explicit CPeer(int backlog = 8)
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (m_fd < 0 || bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
            (backlog >= 0 && listen(m_fd, backlog) != 0))
            ADD_FAILURE() << "peer socket: " << strerror(errno);
        m_port = ntohs(addr.sin_port);
    }
    ~CPeer()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    int Port() const { return m_port; }
    int Fd() const { return m_fd; }

    // The next connection, waiting at most `ms`; -1 when none came.
    int Accept(int ms = 5000)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, ms) != 1)
            return -1;
        return accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    }

private:
    int m_fd = -1;
    int m_port = 0;
};

// Reads until `count` bytes, the end of the stream or the deadline.
Bytes ReadUpTo(int fd, size_t count, int ms = 5000)
{
    Bytes data;
    const Clock::time_point start = Clock::now();
    while (data.size() < count) {
        const long left = ms - MsSince(start);
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) != 1)
            break;
        unsigned char buf[4096];
        const ssize_t n = read(fd, buf, std::min(sizeof buf, count - data.size()));
        if (n <= 0)
            break;
        data.insert(data.end(), buf, buf + n);
    }
    return data;
}

// Whether the peer's end reports the end of the stream within the deadline.
bool SeesEnd(int fd, int ms = 5000)
{
    const Clock::time_point start = Clock::now();
    unsigned char buf[4096];
    while (MsSince(start) < ms) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) != 1)
            continue;
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n == 0)
            return true;
        if (n < 0)
            return false;
    }
    return false;
}

int32_t LE32(const unsigned char* at)
{
    return static_cast<int32_t>(static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
                                static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24);
}

TEST(DualSock, RecordsArriveByteForByte)
{
    struct Case
    {
        int action, x, y;
        Bytes bytes;
    } cases[] = {
        {1, 100, 200,
         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00, 0x64, 0x00, 0x00, 0x00, 0xC8, 0x00, 0x00, 0x00}},
        {0, -1, -2,
         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF}},
        {3, 0x12345678, INT_MIN,
         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12, 0x00, 0x00, 0x00, 0x80}},
        {2, INT_MAX, 1920,
         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x7F, 0x80, 0x07, 0x00, 0x00}},
    };
    CPeer peer;
    CSkribDualSock link;
    ASSERT_TRUE(link.ConnectToSoft(peer.Port()));
    const int conn = peer.Accept();
    ASSERT_GE(conn, 0);
    IDualLink& engineView = link;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.action) + " " + std::to_string(c.x) + " " + std::to_string(c.y));
        ASSERT_TRUE(engineView.SendDualData(c.action, c.x, c.y));
        EXPECT_EQ(c.bytes, ReadUpTo(conn, DUAL_RECORD_SIZE));
    }
    link.DisConnect();
    EXPECT_TRUE(SeesEnd(conn)) << "nothing but the records";
    close(conn);
}

TEST(DualSock, NoListenerFailsAtOnceAndDropsRecords)
{
    CPeer bound(-1); // the port is held, nobody listens
    CSkribDualSock link;
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(link.ConnectToSoft(bound.Port()));
    EXPECT_LT(MsSince(start), DUAL_CONNECT_TIMEOUT_MS / 2);
    EXPECT_FALSE(link.IsConnected());
    EXPECT_FALSE(link.SendDualData(1, 100, 200));
    link.DisConnect(); // nothing to close
    EXPECT_FALSE(link.IsConnected());
}

TEST(DualSock, ConnectWaitIsBounded)
{
    // A listener whose queue is full drops further connection requests: the
    // connect would wait for the system's retries.
    CPeer peer(0);
    const int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(peer.Port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, connect(filler, reinterpret_cast<sockaddr*>(&addr), sizeof addr));

    CSkribDualSock link(300);
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(link.ConnectToSoft(peer.Port()));
    const long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 290);
    EXPECT_LT(elapsed, 3000);
    EXPECT_FALSE(link.IsConnected());
    close(filler);
}

TEST(DualSock, PortIsTakenAsUnsigned16Bits)
{
    CPeer peer;
    CSkribDualSock link;
    ASSERT_TRUE(link.ConnectToSoft(peer.Port() + 65536));
    const int conn = peer.Accept();
    ASSERT_GE(conn, 0);
    close(conn);
}

TEST(DualSock, ConnectingAgainClosesTheFormerConnection)
{
    CPeer first, second;
    CSkribDualSock link;
    ASSERT_TRUE(link.ConnectToSoft(first.Port()));
    const int a = first.Accept();
    ASSERT_GE(a, 0);
    ASSERT_TRUE(link.ConnectToSoft(second.Port()));
    const int b = second.Accept();
    ASSERT_GE(b, 0);
    EXPECT_TRUE(SeesEnd(a));
    ASSERT_TRUE(link.SendDualData(2, 5, 6));
    const Bytes record = ReadUpTo(b, DUAL_RECORD_SIZE);
    ASSERT_EQ(static_cast<size_t>(DUAL_RECORD_SIZE), record.size());
    EXPECT_EQ(2, LE32(&record[8]));
    close(a);
    close(b);
}

TEST(DualSock, PeerGoneClosesTheLinkWithoutSignal)
{
    CPeer peer;
    CSkribDualSock link;
    ASSERT_TRUE(link.ConnectToSoft(peer.Port()));
    const int conn = peer.Accept();
    ASSERT_GE(conn, 0);
    close(conn);
    // The first record may still be taken by the system; the reset that the
    // peer's end answers with fails a later one (and raises no SIGPIPE).
    const Clock::time_point start = Clock::now();
    while (link.SendDualData(1, 0, 0) && MsSince(start) < 5000)
        std::this_thread::yield();
    EXPECT_FALSE(link.IsConnected());
    EXPECT_FALSE(link.SendDualData(1, 0, 0));
}

// Checks a stream of records (1, i, -i), i counting up from 0: all whole and
// in order, except a part of one at the very end.
void CheckRecordStream(const Bytes& stream, size_t& records)
{
    records = stream.size() / DUAL_RECORD_SIZE;
    for (size_t i = 0; i < records; ++i) {
        const unsigned char* r = &stream[i * DUAL_RECORD_SIZE];
        ASSERT_EQ(-1, LE32(r)) << "record " << i;
        ASSERT_EQ(-1, LE32(r + 4)) << "record " << i;
        ASSERT_EQ(1, LE32(r + 8)) << "record " << i;
        ASSERT_EQ(static_cast<int32_t>(i), LE32(r + 12)) << "record " << i;
        ASSERT_EQ(-static_cast<int32_t>(i), LE32(r + 16)) << "record " << i;
    }
}

TEST(DualSock, DisConnectDuringWritesNeverCutsARecordShort)
{
    CPeer peer;
    CSkribDualSock link;
    ASSERT_TRUE(link.ConnectToSoft(peer.Port()));
    const int conn = peer.Accept();
    ASSERT_GE(conn, 0);

    // The peer reads everything until the end of the stream.
    Bytes stream;
    std::thread reader([&] { stream = ReadUpTo(conn, SIZE_MAX, 20000); });
    std::atomic<int> handed{0};
    std::thread writer([&] {
        for (int i = 0; link.SendDualData(1, i, -i); ++i)
            handed = i + 1;
    });
    // Close while the writer is busy.
    const Clock::time_point start = Clock::now();
    while (handed < 200 && MsSince(start) < 10000)
        std::this_thread::yield();
    EXPECT_GE(handed.load(), 200);
    link.DisConnect();
    writer.join();
    reader.join();
    close(conn);

    EXPECT_EQ(0u, stream.size() % DUAL_RECORD_SIZE);
    size_t records = 0;
    CheckRecordStream(stream, records);
    EXPECT_EQ(static_cast<size_t>(handed.load()), records);
    EXPECT_FALSE(link.IsConnected());
}

TEST(DualSock, PeerThatStopsReadingLosesTheLink)
{
    CPeer peer;
    // A small receive window, so that the connection fills up soon.
    const int small = 4096;
    setsockopt(peer.Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    CSkribDualSock link;
    ASSERT_TRUE(link.ConnectToSoft(peer.Port()));
    const int conn = peer.Accept();
    ASSERT_GE(conn, 0);

    const Clock::time_point start = Clock::now();
    int sent = 0;
    while (MsSince(start) < 20000 && link.SendDualData(1, sent, -sent))
        ++sent;
    ASSERT_FALSE(link.IsConnected()) << "the link kept a peer that takes nothing";
    // Whatever got through is whole records in order; nothing follows a part.
    const Bytes stream = ReadUpTo(conn, SIZE_MAX, 10000);
    close(conn);
    size_t records = 0;
    CheckRecordStream(stream, records);
    EXPECT_EQ(static_cast<size_t>(sent), records);
}

} // namespace
