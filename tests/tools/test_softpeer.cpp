// skrib-softpeer, the stand-in for the whiteboard application: how it shows
// datagrams and dual-user records, and the program on ephemeral ports:
// printing datagrams, sending messages at their delays, decoding records from
// a TCP stream, ending on its own or on a signal, and refusing a taken port.
#include "PeerFormat.h"
#include "PeerSockets.h"
#include "ToolProcess.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kPeer = SKRIB_SOFTPEER_EXE;

Bytes Record(std::int32_t m1, std::int32_t m2, std::int32_t action, std::int32_t x, std::int32_t y)
{
    Bytes r;
    for (std::int32_t v : {m1, m2, action, x, y})
        for (int b = 0; b < 4; ++b)
            r.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * b)));
    return r;
}

// The peer's output lines without their time stamps ("HH:MM:SS.mmm "); a
// line without a well-formed stamp shows as "unstamped: <line>".
std::vector<std::string> Lines(const std::string& output)
{
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        bool stamped = line.size() > 13;
        for (size_t i = 0; stamped && i < 13; ++i) {
            const char want = i == 2 || i == 5 ? ':' : i == 8 ? '.' : i == 12 ? ' ' : '0';
            stamped = want == '0' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0 : line[i] == want;
        }
        lines.push_back(stamped ? line.substr(13) : "unstamped: " + line);
    }
    return lines;
}

// "127.0.0.1:<port>" written as "LOCAL".
std::string MaskLocal(std::string text)
{
    const std::string key = "127.0.0.1:";
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at)) {
        size_t end = at + key.size();
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])))
            ++end;
        text.replace(at, end - at, "LOCAL");
    }
    return text;
}

TEST(PeerFormat, DescribesDualRecords)
{
    EXPECT_EQ(DescribeDualRecord(Record(-1, -1, 1, 100, 200).data()),
              "move x=100 y=200 [ff ff ff ff ff ff ff ff 01 00 00 00 64 00 00 00 c8 00 00 00]");
    const struct
    {
        Bytes record;
        const char* text;
    } cases[] = {
        {Record(-1, -1, 0, -1, 0), "down x=-1 y=0"},
        {Record(-1, -1, 2, 1919, 1079), "up x=1919 y=1079"},
        {Record(-1, -1, 3, 5, 6), "double x=5 y=6"},
        {Record(-1, -1, 7, 5, 6), "action7 x=5 y=6"},
        {Record(-1, -1, -2, 0, 0), "action-2 x=0 y=0"},
        {Record(0, -1, 1, 5, 6), "move x=5 y=6 markers=0,-1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DescribeDualRecord(c.record.data()), std::string(c.text) + " [" + Hex(c.record) + "]");
}

TEST(PeerFormat, QuotesDatagramTextsSoThatEveryByteShows)
{
    const std::pair<std::string, std::string> cases[] = {
        {"#TQ@Connect@StyleZIW", "\"#TQ@Connect@StyleZIW\""},
        {"#TQ@Start ", "\"#TQ@Start \""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {std::string("p\0\x01\xff", 4), "\"p\\x00\\x01\\xff\""},
        {"", "\"\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QuoteText(c.first.data(), c.first.size()), c.second);
}

// --- The program --------------------------------------------------------------

// A socket of `type` bound to a free port on 127.0.0.1.
int BoundSocket(int type, int& port)
{
    std::string error;
    return BindLoopback(type, 0, port, error);
}

class SoftPeer : public ::testing::Test
{
protected:
    std::string Output() const { return ReadWholeFile(m_dir.File("out")); }

    // Starts the peer and waits for the line that names the port of `what`
    // ("udp" or "dual"); -1 when it did not come.
    int StartPeer(const std::vector<std::string>& args, const char* what = "udp")
    {
        std::vector<std::string> argv = {kPeer};
        argv.insert(argv.end(), args.begin(), args.end());
        if (!m_peer.Start(argv, m_dir.File("out")))
            return -1;
        return PortOf(what);
    }

    int PortOf(const char* what)
    {
        const std::string key = std::string(what) + " listening on 127.0.0.1:";
        size_t at = std::string::npos;
        std::string out;
        if (!WaitUntil([&] { return (at = (out = Output()).find(key)) != std::string::npos; }, 10000))
            return -1;
        return std::atoi(out.c_str() + at + key.size());
    }

    bool WaitForOutput(const std::string& text)
    {
        return WaitUntil([&] { return Output().find(text) != std::string::npos; }, 10000);
    }

    // Ends the peer with SIGTERM; true when it exited with status 0.
    bool Terminate()
    {
        m_peer.Signal(SIGTERM);
        int status = 0;
        return m_peer.WaitExit(10000, status) && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    CTempDir m_dir;
    CToolProcess m_peer;
};

TEST_F(SoftPeer, PrintsEachDatagramOnALineOfItsOwnWithATimeStamp)
{
    const int port = StartPeer({"--listen-port", "0"});
    ASSERT_GT(port, 0) << Output();
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    const sockaddr_in to = LoopbackAddress(port);
    const std::vector<std::string> datagrams = {"#TQ@Connect@StyleZIW", "pend", std::string("a\0b", 3)};
    for (const std::string& d : datagrams)
        ASSERT_EQ(sendto(fd, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to),
                  static_cast<ssize_t>(d.size()));
    close(fd);
    ASSERT_TRUE(WaitForOutput("udp \"a\\x00b\"")) << Output();

    std::vector<std::string> received;
    for (const std::string& line : Lines(Output()))
        if (line.rfind("udp \"", 0) == 0 || line.rfind("unstamped", 0) == 0)
            received.push_back(line);
    const std::vector<std::string> expected = {"udp \"#TQ@Connect@StyleZIW\"", "udp \"pend\"", "udp \"a\\x00b\""};
    EXPECT_EQ(received, expected);
    EXPECT_TRUE(Terminate()) << Output();
}

TEST_F(SoftPeer, SendsMessagesAtTheirDelaysAndDecodesTheDualLink)
{
    int driverPort = 0;
    const int driver = BoundSocket(SOCK_DGRAM, driverPort);
    ASSERT_GE(driver, 0);
    // The kernel stamps each datagram with its arrival time.
    const int on = 1;
    ASSERT_EQ(setsockopt(driver, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on), 0);
    ASSERT_GT(StartPeer({"--listen-port", "0", "--dual-port", "0", "--send-port", std::to_string(driverPort),
                         "--send", "#TQ@Start", "--delay-ms", "80", "--send", "#TQ@StartDual@{dual}"}),
              0)
        << Output();
    const int dualPort = PortOf("dual");
    ASSERT_GT(dualPort, 0) << Output();

    // The two messages, with the kernel's arrival time of each.
    std::vector<std::string> got;
    std::vector<double> arrived;
    ASSERT_TRUE(WaitUntil(
        [&] {
            pollfd p{driver, POLLIN, 0};
            char buf[100];
            while (poll(&p, 1, 0) > 0) {
                iovec iov{buf, sizeof buf};
                alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timeval))];
                msghdr msg{};
                msg.msg_iov = &iov;
                msg.msg_iovlen = 1;
                msg.msg_control = control;
                msg.msg_controllen = sizeof control;
                const ssize_t n = recvmsg(driver, &msg, 0);
                const cmsghdr* stamp = CMSG_FIRSTHDR(&msg);
                if (n < 0 || !stamp || stamp->cmsg_type != SCM_TIMESTAMP)
                    return true; // fails below
                timeval tv;
                memcpy(&tv, CMSG_DATA(stamp), sizeof tv);
                got.emplace_back(buf, static_cast<size_t>(n));
                arrived.push_back(tv.tv_sec * 1000.0 + tv.tv_usec / 1000.0);
            }
            return got.size() >= 2;
        },
        10000));
    close(driver);
    const std::vector<std::string> expected = {"#TQ@Start", "#TQ@StartDual@" + std::to_string(dualPort)};
    ASSERT_EQ(got, expected);
    EXPECT_GE(arrived[1] - arrived[0], 79.0);

    // Records from the driver's side: one whole, one in two pieces, then the
    // start of a third and the end of the connection.
    const int link = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = LoopbackAddress(dualPort);
    ASSERT_EQ(connect(link, reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
    const Bytes move = Record(-1, -1, 1, 100, 200);
    const Bytes down = Record(-1, -1, 0, -1, 5);
    ASSERT_EQ(write(link, move.data(), move.size()), 20);
    ASSERT_TRUE(WaitForOutput("dual move")) << Output();
    ASSERT_EQ(write(link, down.data(), 7), 7);
    ASSERT_EQ(write(link, down.data() + 7, 13), 13);
    ASSERT_EQ(write(link, move.data(), 5), 5);
    close(link);
    ASSERT_TRUE(WaitForOutput("dual closed")) << Output();

    std::vector<std::string> dualLines;
    for (const std::string& line : Lines(Output()))
        if (line.rfind("dual ", 0) == 0 || line.rfind("unstamped", 0) == 0)
            dualLines.push_back(MaskLocal(line.substr(5)));
    const std::vector<std::string> expectedLines = {
        "listening on LOCAL",
        "connected from LOCAL",
        "move x=100 y=200 [" + Hex(move) + "]",
        "down x=-1 y=5 [" + Hex(down) + "]",
        "closed from LOCAL with 5 bytes of an incomplete record",
    };
    EXPECT_EQ(dualLines, expectedLines);
    EXPECT_TRUE(Terminate()) << Output();
}

TEST_F(SoftPeer, EndsAfterItsDurationOrRefusesToStart)
{
    int takenPort = 0;
    const int taken = BoundSocket(SOCK_DGRAM, takenPort);
    ASSERT_GE(taken, 0);
    const struct
    {
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        {{"--listen-port", "0", "--duration-ms", "100"}, 0, "udp listening on 127.0.0.1:"},
        {{"--listen-port", std::to_string(takenPort), "--duration-ms", "100"}, 1, "Address already in use"},
        {{"--listen-port", "70000"}, 2, "bad arguments: --listen-port 70000"},
        {{"--dual-port", "-1"}, 2, "bad arguments: --dual-port -1"},
        {{"--send"}, 2, "bad arguments: --send"},
        {{"--bogus", "1"}, 2, "bad arguments: --bogus"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        CTempDir dir;
        std::vector<std::string> argv = {kPeer};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(RunTool(argv, dir.File("out"), 10000), c.status);
        EXPECT_NE(ReadWholeFile(dir.File("out")).find(c.says), std::string::npos) << ReadWholeFile(dir.File("out"));
    }
    close(taken);
}

} // namespace
