// The settings server with the settings client as a separate process: what
// each topic and item hands the work thread, one client at a time, the
// advises' bytes, advises from another thread while clients come and go, and
// a server that listens on loopback only.
#include "ServerHarness.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

class DriverIPCTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(h.Start()) << "port " << ReadSettingsPort(h.workDir); }

    CServerHarness h;
};

const Note kGone[] = {{NOTIFY_ORIENT_END, 0}, {NOTIFY_DRIVERSET_DATA, 0}};

TEST_F(DriverIPCTest, EachTopicAndItemGivesItsNotification)
{
    struct Case
    {
        std::vector<std::string> args;
        std::vector<Note> start; // before the client's stop and disconnect
        std::vector<Note> stop;  // what its advise stop gives (--count 0 stops raw loops)
        bool valuesOn = false;   // it leaves with the press values on
    } cases[] = {
        // The press values' client leaves with them on: the work thread
        // switches them off and re-reads its settings.
        {{"--count", "0", "values"}, {{NOTIFY_DRIVERSET_DATA, 1}}, {}, true},
        {{"sidekey-reload"}, {{NOTIFY_SIDEKEY_RELOAD, 0}}, {}},
        {{"--count", "0", "raw", "SideKey", "28"}, {{NOTIFY_HOTKEY_START, 28}}, {{NOTIFY_ORIENT_END, 0}}},
        {{"--count", "0", "raw", "SideKey", "abc"}, {{NOTIFY_SIDEKEY_RELOAD, 0}}, {{NOTIFY_ORIENT_END, 0}}},
        {{"--count", "0", "raw", "Orient", "4"}, {{NOTIFY_ORIENT_START, 4}}, {{NOTIFY_ORIENT_END, 0}}},
        {{"auto", "2"}, {{NOTIFY_AUTO_LEVEL, 2}}, {}},
        {{"--count", "0", "raw", "DriversSet", "Auto2"}, {}, {}},
        {{"--count", "0", "raw", "DriversSet", "auto4"}, {}, {}},
        {{"driverset-reload"}, {{NOTIFY_DRIVERSET_RELOAD, 0}}, {}},
        {{"--count", "0", "raw", "DriversSet", "data"}, {{NOTIFY_DRIVERSET_DATA, 1}}, {{NOTIFY_DRIVERSET_DATA, 0}}},
        {{"penset-reload"}, {{NOTIFY_PENSET_RELOAD, 0}}, {}},
        {{"speed", "7"}, {{NOTIFY_SET_SPEED, 7}}, {}},
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::string name = "case" + std::to_string(index++);
        h.notes.clear();
        h.valuesOn = false;
        std::vector<Note> expected = c.start;
        expected.insert(expected.end(), c.stop.begin(), c.stop.end());
        expected.insert(expected.end(), std::begin(kGone), std::end(kGone));
        if (c.valuesOn)
            expected.emplace_back(NOTIFY_DRIVERSET_RELOAD, 0);

        EXPECT_EQ(0, h.RunClient(c.args, name)) << name << ": " << h.Output(name);
        EXPECT_TRUE(h.WaitNotes(expected.size())) << name;
        EXPECT_EQ(expected, h.notes) << name << ": " << c.args.back();
    }
}

// A local program that connects and then stalls, before or in the middle of
// the connect handshake, must not hold up the server (nor the main thread it
// shares with the whole driver): the next client is served at once.
TEST_F(DriverIPCTest, StalledConnectionsDoNotHoldUpTheServer)
{
    const std::vector<std::uint8_t> kConnect = {10};                                   // the connect code alone
    const std::vector<std::uint8_t> kHalfTopic = {10, 100, 0, 0, 0, 'D', 'r', 'i'}; // 100 bytes promised, 3 sent
    const struct
    {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } cases[] = {{"silent", {}}, {"connect-code", kConnect}, {"half-topic", kHalfTopic}};

    std::vector<int> stalled;
    for (const auto& c : cases) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(fd, 0);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(h.server->Port()));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(0, connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr)) << c.name;
        if (!c.bytes.empty()) {
            ASSERT_EQ(ssize_t(c.bytes.size()), send(fd, c.bytes.data(), c.bytes.size(), 0)) << c.name;
        }
        stalled.push_back(fd);
    }
    // Should the server wait on them after all, they hang up after 8 s, so
    // that the test ends and reports the delay instead of hanging.
    std::mutex mutex;
    std::condition_variable cond;
    bool done = false;
    std::thread hangUp([&] {
        std::unique_lock<std::mutex> lock(mutex);
        cond.wait_for(lock, std::chrono::seconds(8), [&] { return done; });
        for (int fd : stalled)
            shutdown(fd, SHUT_RDWR);
    });

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, h.RunClient({"auto", "2"}, "after-stall")) << h.Output("after-stall");
    const auto took = std::chrono::steady_clock::now() - start;
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    cond.notify_all();
    hangUp.join();
    for (int fd : stalled)
        close(fd);
    EXPECT_LT(took, std::chrono::seconds(3))
        << "the client waited " << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
        << " ms behind the stalled connections";
    EXPECT_TRUE(h.WaitNotes(1));
    ASSERT_FALSE(h.notes.empty());
    EXPECT_EQ(Note(NOTIFY_AUTO_LEVEL, 2), h.notes.front());
}

TEST_F(DriverIPCTest, ForeignTopicIsRefusedAndDropsThePreviousClient)
{
    CChildProcess first;
    ASSERT_TRUE(h.StartChild(first, h.Client({"values"}), "first"));
    ASSERT_TRUE(h.WaitNotes(1)) << h.Output("first");

    EXPECT_EQ(3, h.RunClient({"raw", "Calibrate", "4"}, "foreign")) << h.Output("foreign");
    EXPECT_NE(std::string::npos, h.Output("foreign").find("refused the topic"));

    EXPECT_EQ(5, h.WaitExit(first)) << h.Output("first");
    EXPECT_NE(std::string::npos, h.Output("first").find("closed the connection"));
    EXPECT_EQ(nullptr, h.server->Connection());
    // The dropped client's press values are switched off as if it had left.
    const std::vector<Note> expected = {{NOTIFY_DRIVERSET_DATA, 1},
                                        {NOTIFY_ORIENT_END, 0},
                                        {NOTIFY_DRIVERSET_DATA, 0},
                                        {NOTIFY_DRIVERSET_RELOAD, 0}};
    EXPECT_EQ(expected, h.notes);
}

TEST_F(DriverIPCTest, AdvisesCarryFourBytesUnderTheStartedItem)
{
    CChildProcess client;
    ASSERT_TRUE(h.StartChild(client, h.Client({"--count", "3", "raw", "Orient", "4"}), "client"));
    ASSERT_TRUE(h.WaitNotes(1)) << h.Output("client");
    ASSERT_EQ(Note(NOTIFY_ORIENT_START, 4), h.notes[0]);

    // As the work thread does.
    std::thread work([&] {
        for (const char* text : {"fin", "1234", "7"})
            h.server->Advise(text);
    });
    work.join();
    EXPECT_EQ(0, h.WaitExit(client)) << h.Output("client");
    EXPECT_NE(std::string::npos, h.Output("client").find("advise 4 66 69 6E 00\n"
                                                         "advise 4 31 32 33 00\n"
                                                         "advise 4 37 00 00 00\n"))
        << h.Output("client");
}

TEST_F(DriverIPCTest, AdvisesFromAnotherThreadFollowTheClientThatReplacesTheFirst)
{
    std::atomic<bool> stop{false};
    std::thread work([&] {
        for (int i = 0; !stop; ++i) {
            h.server->Advise(std::to_string(100 + i % 900));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    CChildProcess first, second;
    ASSERT_TRUE(h.StartChild(first, h.Client({"values"}), "first"));
    EXPECT_TRUE(h.PumpUntil([&] { return h.Output("first").find("\n1") != std::string::npos; }))
        << h.Output("first");
    ASSERT_TRUE(h.StartChild(second, h.Client({"--count", "20", "values"}), "second"));
    EXPECT_EQ(5, h.WaitExit(first)) << h.Output("first");
    EXPECT_EQ(0, h.WaitExit(second)) << h.Output("second");
    stop = true;
    work.join();

    // Whole three-digit values only, and the second client got its twenty.
    const std::string out = h.Output("second");
    int values = 0;
    size_t line = out.find('\n') + 1; // after "started ..."
    for (size_t end; (end = out.find('\n', line)) != std::string::npos; line = end + 1) {
        const std::string value = out.substr(line, end - line);
        EXPECT_EQ(3u, value.size()) << value;
        EXPECT_EQ(std::string::npos, value.find_first_not_of("0123456789")) << value;
        ++values;
    }
    EXPECT_EQ(20, values) << out;
}

TEST_F(DriverIPCTest, StartFailsWhenNoBoardIsActiveOrTheRunIsNotTaken)
{
    struct Case
    {
        bool boardActive;
        bool takeRuns;
        std::vector<Note> expected;
    } cases[] = {
        {false, true, {}},
        {true, false, {{NOTIFY_ORIENT_START, 40}, {NOTIFY_ORIENT_END, 0}, {NOTIFY_DRIVERSET_DATA, 0}}},
    };
    for (const Case& c : cases) {
        h.notes.clear();
        h.boardActive = c.boardActive;
        h.takeRuns = c.takeRuns;
        const std::string name = c.boardActive ? "not-taken" : "no-board";
        EXPECT_EQ(4, h.RunClient({"raw", "Orient", "40"}, name)) << h.Output(name);
        EXPECT_NE(std::string::npos, h.Output(name).find("no board is active")) << h.Output(name);
        EXPECT_TRUE(h.WaitNotes(c.expected.size()));
        EXPECT_EQ(c.expected, h.notes) << name;
    }
}

TEST_F(DriverIPCTest, ClientGoingAwayDuringCalibrationAbandonsIt)
{
    struct Case
    {
        int signal;
        int exitCode; // -1: killed
        std::vector<Note> expected;
    } cases[] = {
        // Killed: only the lost connection tells.
        {SIGKILL, -1, {{NOTIFY_ORIENT_START, 4}, {NOTIFY_ORIENT_END, 0}, {NOTIFY_DRIVERSET_DATA, 0}}},
        // Interrupted: the client stops its advise first.
        {SIGINT,
         6,
         {{NOTIFY_ORIENT_START, 4}, {NOTIFY_ORIENT_END, 0}, {NOTIFY_ORIENT_END, 0}, {NOTIFY_DRIVERSET_DATA, 0}}},
    };
    for (const Case& c : cases) {
        const std::string name = "signal" + std::to_string(c.signal);
        h.notes.clear();
        CChildProcess client;
        ASSERT_TRUE(h.StartChild(client, h.Client({"orient", "4"}), name));
        ASSERT_TRUE(h.WaitNotes(1)) << h.Output(name);
        h.server->Advise("fin");
        ASSERT_TRUE(h.WaitOutput(name, "point 1 of 4 done")) << h.Output(name);
        client.Signal(c.signal);
        EXPECT_EQ(c.exitCode, h.WaitExit(client)) << h.Output(name);
        EXPECT_TRUE(h.WaitNotes(c.expected.size()));
        EXPECT_EQ(c.expected, h.notes) << name;
    }
}

// ---------------------------------------------------------------------------
// Loopback only

const char kNamespaceMark[] = "SKRIB_TEST_PRIVATE_NETWORK";
const char kPrivateAddress[] = "10.213.7.1";

// Whether a TCP connection to address:port is accepted (within 2 s).
bool Connects(const std::string& address, int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (!ok && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int error = 0;
        socklen_t len = sizeof error;
        ok = poll(&p, 1, 2000) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
    }
    close(fd);
    return ok;
}

// The IPv4 addresses of this machine's interfaces that are up, loopback aside.
std::vector<std::string> NonLoopbackAddresses()
{
    std::vector<std::string> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return out;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !(a->ifa_flags & IFF_UP) ||
            (a->ifa_flags & IFF_LOOPBACK))
            continue;
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text, sizeof text);
        out.push_back(text);
    }
    freeifaddrs(list);
    return out;
}

// A listener on every interface, as the toolkit's server is before it is
// narrowed: it shows that an address is reachable at all.
struct CPlainListener
{
    CPlainListener()
    {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        socklen_t len = sizeof addr;
        if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(fd, 4) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            port = ntohs(addr.sin_port);
    }
    ~CPlainListener() { close(fd); }
    int fd = -1;
    int port = 0;
};

// Runs `command` with sh, the system tools' folders on the path; its exit code.
int Shell(const std::string& command)
{
    return ExitCode(system(("PATH=\"$PATH:/usr/sbin:/sbin\"; " + command).c_str()));
}

TEST_F(DriverIPCTest, NotReachableOnANonLoopbackAddress)
{
    const int port = h.server->Port();
    ASSERT_NE(0, port);
    CPlainListener plain;
    ASSERT_NE(0, plain.port);

    if (!getenv(kNamespaceMark)) {
        if (Shell("unshare -rn true >/dev/null 2>&1") == 0) {
            // The same test again in a private network namespace (a user
            // namespace, no privileges needed): it then does not depend on
            // the interfaces this machine happens to have.
            const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
            char self[4096];
            const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
            ASSERT_GT(len, 0);
            self[len] = '\0';
            CChildProcess child;
            ASSERT_TRUE(h.StartChild(child,
                                     {"/usr/bin/unshare", "-rn", self,
                                      std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name()},
                                     "namespace", {{kNamespaceMark, "1"}}));
            EXPECT_EQ(0, h.WaitExit(child, 60000)) << h.Output("namespace");
            EXPECT_NE(std::string::npos, h.Output("namespace").find("[  PASSED  ] 1 test")) << h.Output("namespace");
            return;
        }
        // Without user namespaces: this machine's own addresses, if any.
        const std::vector<std::string> addresses = NonLoopbackAddresses();
        if (addresses.empty())
            GTEST_SKIP() << "no user namespaces and no network interface besides loopback";
        EXPECT_TRUE(Connects("127.0.0.1", port));
        for (const std::string& address : addresses) {
            EXPECT_TRUE(Connects(address, plain.port)) << address << " is not reachable at all";
            EXPECT_FALSE(Connects(address, port)) << "the settings server answers on " << address;
        }
        return;
    }

    // A private network: this end of a veth pair holds 10.213.7.1; the other
    // end, 10.213.7.2, sits in a second namespace, a peer on the network.
    CChildProcess peer;
    ASSERT_TRUE(h.StartChild(peer, {"/usr/bin/unshare", "-n", "sleep", "600"}, "peer"));
    auto netns = [](const std::string& pid) {
        char link[64] = "";
        const ssize_t n = readlink(("/proc/" + pid + "/ns/net").c_str(), link, sizeof link - 1);
        return std::string(link, n > 0 ? static_cast<size_t>(n) : 0);
    };
    const std::string pid = std::to_string(peer.Pid());
    ASSERT_TRUE(WaitUntil([&] { return !netns(pid).empty() && netns(pid) != netns("self"); }, 10000));
    ASSERT_EQ(0, Shell("ip link set lo up && ip link add skrib0 type veth peer name skrib1 && "
                       "ip addr add 10.213.7.1/24 dev skrib0 && ip link set skrib0 up && "
                       "ip link set skrib1 netns " + pid + " && nsenter -t " + pid + " -n sh -c '"
                       "ip link set lo up && ip addr add 10.213.7.2/24 dev skrib1 && ip link set skrib1 up'"));
    auto peerConnects = [&](int to) {
        return Shell("nsenter -t " + pid + " -n timeout 5 bash -c 'exec 3<>/dev/tcp/" + kPrivateAddress + "/" +
                     std::to_string(to) + "' 2>/dev/null") == 0;
    };

    EXPECT_TRUE(Connects("127.0.0.1", port));
    // This machine's own non-loopback address.
    EXPECT_TRUE(Connects(kPrivateAddress, plain.port)) << "the private address is not reachable at all";
    EXPECT_FALSE(Connects(kPrivateAddress, port)) << "the settings server answers on " << kPrivateAddress;
    // A peer on the network.
    EXPECT_TRUE(peerConnects(plain.port)) << "the peer reaches nothing";
    EXPECT_FALSE(peerConnects(port)) << "a peer on the network reaches the settings server";
}

} // namespace

int main(int argc, char** argv)
{
    return RunTestsInConsoleApp(argc, argv);
}
