// The whiteboard application link on loopback: its socket in a console
// application's event loop, the whiteboard application played by a plain UDP
// socket. Both ends use ephemeral ports on 127.0.0.1.
#include "DeviceInfo.h"
#include "SkribAppTypes.h"
#include "SkribIPCSock.h"
#include "SoftLinkFlags.h"

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/apptrait.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/socket.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// The console application (wxTheApp names a GUI application by type).
wxAppConsole* App()
{
    return wxAppConsole::GetInstance();
}

sockaddr_in Loopback(int port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// A UDP socket on 127.0.0.1 (port 0: ephemeral), without address reuse.
class CUdpPeer
{
public:
    explicit CUdpPeer(int port = 0)
    {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr = Loopback(port);
        socklen_t len = sizeof addr;
        m_bBound = m_fd >= 0 && bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                   getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
        m_port = ntohs(addr.sin_port);
    }
    ~CUdpPeer()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool Bound() const { return m_bBound; }
    int Port() const { return m_port; }

    void SendTo(int port, const std::string& data)
    {
        sockaddr_in to = Loopback(port);
        ASSERT_EQ(static_cast<ssize_t>(data.size()),
                  sendto(m_fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to));
    }

    struct Datagram
    {
        std::string text;
        std::string fromHost;
        int fromPort;
    };

    // The next datagram, waiting at most `ms`.
    bool Receive(Datagram& out, int ms)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, ms) != 1)
            return false;
        char buf[2048];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = recvfrom(m_fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            return false;
        char host[INET_ADDRSTRLEN] = "";
        inet_ntop(AF_INET, &from.sin_addr, host, sizeof host);
        out = {std::string(buf, static_cast<size_t>(n)), host, ntohs(from.sin_port)};
        return true;
    }

private:
    int m_fd = -1;
    int m_port = 0;
    bool m_bBound = false;
};

class CRecordingHost : public ISoftLinkHost
{
public:
    void NotifyWork(ClientNotify_Type kind, int value) override { notes.emplace_back(kind, value); }
    std::vector<std::pair<int, int>> notes;
};

class SoftSockTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_bSoftStart = false;
        g_bOnBoard = false;
        g_iSotfPort = -1;
        m_loop.reset(App()->GetTraits()->CreateEventLoop());
        m_activator.reset(new wxEventLoopActivator(m_loop.get()));
        // What the application's socket handler does.
        m_handler.Bind(
            wxEVT_SOCKET,
            [this](wxSocketEvent& event) {
                if (event.GetSocketEvent() == wxSOCKET_INPUT && m_pLink)
                    m_pLink->ReadDatagrams();
            },
            ID_SOFT_SOCKET);
    }

    void TearDown() override
    {
        m_pLink.reset();
        Pump(); // the socket object goes at idle time
        m_activator.reset();
        m_loop.reset();
    }

    // A link from an ephemeral port to `remotePort`, initialised.
    void MakeLink(int remotePort, int localPort = 0)
    {
        m_pLink.reset(new CSkribIPCSock(&m_host, &m_handler, localPort, remotePort));
        ASSERT_TRUE(m_pLink->Init());
    }

    int LinkPort()
    {
        std::string host;
        int port = 0;
        EXPECT_TRUE(m_pLink->LocalAddress(host, port));
        return port;
    }

    void Pump()
    {
        App()->ProcessPendingEvents();
        App()->ProcessIdle();
    }

    // Runs the event loop until `condition` holds or the deadline passes.
    bool PumpUntil(const std::function<bool()>& condition, int timeoutMs = 5000)
    {
        const Clock::time_point start = Clock::now();
        for (;;) {
            Pump();
            if (condition())
                return true;
            if (MsSince(start) >= timeoutMs)
                return false;
            m_loop->DispatchTimeout(5);
        }
    }

    CRecordingHost m_host;
    wxEvtHandler m_handler;
    std::unique_ptr<CSkribIPCSock> m_pLink;
    std::unique_ptr<wxEventLoopBase> m_loop;
    std::unique_ptr<wxEventLoopActivator> m_activator;
};

TEST_F(SoftSockTest, AnswersStartFromItsOwnLoopbackPort)
{
    CUdpPeer board;
    ASSERT_TRUE(board.Bound());
    MakeLink(board.Port());
    ASSERT_TRUE(m_pLink->IsUsable());
    std::string host;
    int port = 0;
    ASSERT_TRUE(m_pLink->LocalAddress(host, port));
    EXPECT_EQ("127.0.0.1", host);
    ASSERT_NE(0, port);

    m_pLink->SetDriverType(DRIVER_ZIW);
    board.SendTo(port, "#TQ@Start");
    std::vector<CUdpPeer::Datagram> got;
    ASSERT_TRUE(PumpUntil([&] {
        CUdpPeer::Datagram d;
        while (board.Receive(d, 0))
            got.push_back(d);
        return got.size() >= 2;
    }));
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ("#TQ@Connect@StyleZIW", got[0].text);
    EXPECT_EQ("#TQ@DouPenEnabled", got[1].text);
    for (const CUdpPeer::Datagram& d : got) {
        EXPECT_EQ("127.0.0.1", d.fromHost);
        EXPECT_EQ(port, d.fromPort);
    }
    EXPECT_TRUE(g_bSoftStart.load());
}

TEST_F(SoftSockTest, BurstIsHandledInOrderAndOversizeDatagramsAreIgnoredWhole)
{
    CUdpPeer board;
    MakeLink(board.Port());
    const int port = LinkPort();

    std::string fifty = "#TQ@StartDual@7000";
    fifty.resize(SOFT_RECV_BUFSIZE, ' ');
    std::string long300 = "#TQ@StartDual@7002";
    long300.resize(300, ' ');
    board.SendTo(port, fifty);
    board.SendTo(port, long300);
    board.SendTo(port, "");  // an empty datagram does not hold up the rest
    board.SendTo(port, "#TQ@StartDual@7001");
    const int rects = 20;
    for (int i = 0; i < rects; ++i)
        board.SendTo(port, "#TQ@WorkRect@" + std::to_string(i) + ",0,2,0");

    ASSERT_TRUE(PumpUntil([&] { return m_host.notes.size() >= 1 + rects; }))
        << m_host.notes.size() << " notifications";
    ASSERT_EQ(static_cast<size_t>(1 + rects), m_host.notes.size());
    EXPECT_EQ(std::make_pair(static_cast<int>(NOTIFY_DUAL_START), 7001), m_host.notes[0]);
    for (int i = 0; i < rects; ++i)
        EXPECT_EQ(std::make_pair(static_cast<int>(NOTIFY_WORK_RECT), i + 1), m_host.notes[1 + i]);
    EXPECT_EQ(7001, g_iSotfPort.load());
}

TEST_F(SoftSockTest, PortTakenStillInitialisesAndSendsNothing)
{
    CUdpPeer board;
    CUdpPeer holder; // holds a port without address reuse
    ASSERT_TRUE(holder.Bound());
    MakeLink(board.Port(), holder.Port());
    EXPECT_FALSE(m_pLink->IsUsable());
    m_pLink->OnSend("pend", 4);
    m_pLink->SendMsgToSoft(MSG_IS_START);

    // A working link's datagram after them is the first one to arrive.
    CSkribIPCSock other(&m_host, &m_handler, 0, board.Port());
    ASSERT_TRUE(other.Init());
    other.OnSend("moue", 4);
    CUdpPeer::Datagram d;
    ASSERT_TRUE(board.Receive(d, 5000));
    EXPECT_EQ("moue", d.text);
}

TEST_F(SoftSockTest, DeletingTheLinkFreesItsPort)
{
    CUdpPeer board;
    MakeLink(board.Port());
    const int port = LinkPort();
    ASSERT_NE(0, port);
    {
        CUdpPeer clash(port);
        EXPECT_FALSE(clash.Bound());
    }
    m_pLink.reset();
    CUdpPeer after(port);
    EXPECT_TRUE(after.Bound());
}

TEST_F(SoftSockTest, SendsFromSeveralThreadsArriveWhole)
{
    CUdpPeer board;
    MakeLink(board.Port());
    const int port = LinkPort();
    m_pLink->SetDriverType(DRIVER_ZIW);

    const int threads = 2, perThread = 100, starts = 10;
    const std::set<std::string> expected = {"elfc", "elbd", "#TQ@IsStart", "#TQ@Connect@StyleZIW",
                                            "#TQ@DouPenEnabled"};
    // The whiteboard application's end, receiving all the time.
    std::atomic<int> received{0}, foreign{0};
    std::atomic<bool> stop{false};
    std::thread receiver([&] {
        CUdpPeer::Datagram d;
        while (!stop)
            if (board.Receive(d, 20)) {
                ++received;
                if (!expected.count(d.text))
                    ++foreign;
            }
    });
    // Work threads send codes and framed messages while the main thread
    // answers "Start".
    std::vector<std::thread> senders;
    for (int t = 0; t < threads; ++t)
        senders.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                if (i % 2)
                    m_pLink->OnSend(t ? "elfc" : "elbd", 4);
                else
                    m_pLink->SendMsgToSoft(MSG_IS_START);
            }
        });
    CUdpPeer asker;
    for (int i = 0; i < starts; ++i)
        asker.SendTo(port, "#TQ@Start");
    const int total = threads * perThread + 2 * starts;
    const bool all = PumpUntil([&] { return received.load() >= total; }, 10000);
    for (std::thread& s : senders)
        s.join();
    stop = true;
    receiver.join();
    EXPECT_TRUE(all) << received.load() << " of " << total;
    EXPECT_EQ(total, received.load());
    EXPECT_EQ(0, foreign.load());
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    wxApp::SetInstance(new wxAppConsole);
    int wxArgc = 1;
    if (!wxEntryStart(wxArgc, argv)) {
        fprintf(stderr, "cannot start the toolkit\n");
        return 1;
    }
    const int result = RUN_ALL_TESTS();
    wxEntryCleanup();
    return result;
}
