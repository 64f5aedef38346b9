// The shipped board end to end, as processes: the real driver under a
// private X server, its board on a mock bus (umockdev) fed by the board
// simulator, and the whiteboard application's side on real sockets. Every
// test has its own X server, working folder, lock folder and ports, so tests
// run in parallel.
//
// The settings of these tests turn the pointer smoothing off (RC1 1, RC2 0):
// the pointer then lands exactly on the converted position of each report,
// which the tests compute with the driver's own conversion and settings.
#include "ConfigXML.h"
#include "Conversion.h"
#include "MockBoard.h"
#include "OrientTargets.h"
#include "PeerFormat.h"
#include "PeerSockets.h"
#include "SimIo.h"
#include "TestSupport.h"
#include "XHelpers.h"
#include "ZiwReportEncoder.h"

#include <gtest/gtest.h>

#include "XObserver.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <memory>
#include <random>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using Strings = std::vector<std::string>;

const int kScreenWidth = 1440;
const int kScreenHeight = 900;

SimContact Contact(int x, int y, int size1 = 0, int size2 = 0) { return Touching({x, y}, size1, size2); }

SimContact WithStatus(int status, int x, int y)
{
    SimContact c = Touching({x, y});
    c.rawStatus = status;
    return c;
}

SimFrame Frame(std::vector<SimContact> contacts)
{
    SimFrame f;
    f.contacts = std::move(contacts);
    return f;
}

// A descriptor that the test closes.
struct Fd
{
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            close(fd);
    }
};

class ZiwEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_bus.Ready()) << "not under the mock's preload";
        ASSERT_FALSE(m_folder.Path().empty());
        m_lockDir = MakeTempDir();
        ASSERT_TRUE(m_xvfb.Start(kScreenWidth, kScreenHeight));
        std::string error;
        m_peer.fd = BindLoopback(SOCK_DGRAM, 0, m_peerPort, error);
        ASSERT_GE(m_peer.fd, 0) << error;
        m_softPort = FreeLoopbackUdpPort();
        ASSERT_GT(m_softPort, 0);
        Configure([](CConfigXML& c) {
            c.writeStr("SkribWorkZIW", "Constants", "RC1", "1");
            c.writeStr("SkribWorkZIW", "Constants", "RC2", "0");
        });
    }

    void TearDown() override
    {
        if (m_driverStarted) {
            m_driver.Signal(SIGTERM);
            int status = 0;
            EXPECT_TRUE(m_driver.WaitExit(15000, status)) << Log();
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status << "\n" << Log();
        }
        // Under the mock, sanitizer reports go to the driver's own output.
        const std::string log = Log();
        for (const char* report : {"ERROR: AddressSanitizer", "runtime error:", "WARNING: ThreadSanitizer",
                                   "ERROR: LeakSanitizer"})
            EXPECT_EQ(std::string::npos, log.find(report)) << log;
        m_observer.reset();
        RemoveTree(m_lockDir);
    }

    void Configure(const std::function<void(CConfigXML&)>& edit)
    {
        ASSERT_TRUE(EditSettings(CONFIG_FILE, [&](CConfigXML& c) {
            edit(c);
            return true;
        }));
    }

    std::string Log() const { return ReadFile(m_folder.Path() + "/driver.log"); }

    // Plugs the board in, starts the driver, and waits for the board's
    // announcement and the connect command.
    void StartWithBoard(const Strings& extra = {})
    {
        std::string error;
        ASSERT_TRUE(m_bus.Plug(error)) << error;
        m_observer.reset(new CObserver(m_xvfb.Display()));
        ASSERT_TRUE(m_observer->Ready());
        Strings argv = {SKRIB_BINARY,   "--workdir",     m_folder.Path(),
                        "--lockdir",    m_lockDir,       "--inject",
                        "xtest",        "--soft-port",   std::to_string(m_softPort),
                        "--soft-peer-port", std::to_string(m_peerPort)};
        argv.insert(argv.end(), extra.begin(), extra.end());
        ASSERT_TRUE(m_driver.Start(argv, {{"DISPLAY", m_xvfb.Display()}, {"WAYLAND_DISPLAY", ""}, {"LANG", "C"}},
                                   m_folder.Path() + "/driver.log", "/"));
        m_driverStarted = true;
        ExpectDatagrams({"#TQ@Connect@StyleZIW", "#TQ@IsStart", "#TQ@DouPenEnabled"});
        ExpectOutputReport(CZiwReportEncoder::ConnectCommand());
    }

    // The next datagram the whiteboard application's side receives ("" after
    // the time-out).
    std::string NextDatagram(int timeoutMs = 10000)
    {
        if (!WaitReadable(m_peer.fd, timeoutMs))
            return std::string();
        char buf[256];
        ssize_t n = recv(m_peer.fd, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }

    void ExpectDatagrams(const Strings& expected)
    {
        Strings got;
        for (size_t i = 0; i < expected.size(); ++i)
            got.push_back(NextDatagram());
        EXPECT_EQ(expected, got) << Log();
    }

    void ExpectNoDatagram(int forMs)
    {
        std::string stray = NextDatagram(forMs);
        EXPECT_EQ("", stray);
    }

    void Send(const std::string& text) { ASSERT_TRUE(SendDatagram(m_peer.fd, m_softPort, text)); }

    // The next output report the driver writes to the board.
    SimBytes NextOutputReport(int timeoutMs = 10000)
    {
        SimBytes got;
        Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < 64 && Clock::now() < deadline) {
            if (!WaitReadable(m_bus.NodeFd(), 50))
                continue;
            unsigned char buf[64];
            ssize_t n = read(m_bus.NodeFd(), buf, 64 - got.size());
            if (n > 0)
                got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

    void ExpectOutputReport(const SimBytes& expected)
    {
        EXPECT_EQ(expected, NextOutputReport()) << Log();
    }

    void Board(const SimFrame& frame) { ASSERT_TRUE(m_bus.Send(m_encoder.Encode(frame))); }
    void Lift() { Board(SimFrame()); }

    // The screen position the driver gives a device point.
    wxPoint Screen(double x, double y)
    {
        if (!m_conversion) {
            m_conversion.reset(CConversionBase::CreateConversion("SkribWorkZIW"));
            m_conversion->Init(kScreenWidth, kScreenHeight);
        }
        return m_conversion->Conversion(wxRealPoint(x, y));
    }

    // A device X that the conversion puts on screen column `column` (at
    // device row y); -1 when none does.
    int DeviceXForColumn(int column, int y)
    {
        for (int x = 0; x < 32768; ++x)
            if (Screen(x, y).x == column)
                return x;
        return -1;
    }

    static Seen Motion(const wxPoint& p, bool held) { return {MotionNotify, held ? Button1Mask : 0, p.x, p.y}; }
    static Seen Press(const wxPoint& p) { return {ButtonPress, 1, p.x, p.y}; }
    static Seen Release(const wxPoint& p) { return {ButtonRelease, 1, p.x, p.y}; }

    std::vector<Seen> Pointer(size_t count) { return m_observer->Collect(count, true); }

    CWorkingFolder m_folder;
    CMockBoard m_bus;
    CZiwReportEncoder m_encoder;
    CXvfb m_xvfb;
    std::unique_ptr<CObserver> m_observer;
    CChildProcess m_driver;
    bool m_driverStarted = false;
    std::string m_lockDir;
    Fd m_peer;
    int m_peerPort = 0;
    int m_softPort = 0;
    std::unique_ptr<CConversionBase> m_conversion;
};

TEST_F(ZiwEndToEnd, OneContactStrokeTwoContactsAndTheirRelease)
{
    StartWithBoard();

    // One contact: pressed where it lands, dragged through each report,
    // released where it left.
    const std::vector<SimPoint> stroke = Stroke({4000, 4000}, {12000, 9000}, 5);
    for (const SimPoint& p : stroke)
        Board(Frame({Contact(p.x, p.y)}));
    Lift();
    std::vector<Seen> expected = {Motion(Screen(4000, 4000), false), Press(Screen(4000, 4000))};
    for (size_t i = 1; i < stroke.size(); ++i)
        expected.push_back(Motion(Screen(stroke[i].x, stroke[i].y), true));
    expected.push_back(Release(Screen(12000, 9000)));
    EXPECT_EQ(expected, Pointer(expected.size())) << Log();

    // Two contacts: the pointer is their midpoint, in whole device units.
    // Status 4 of the second contact releases.
    Board(Frame({Contact(1001, 10), Contact(2000, 21)}));
    Board(Frame({Contact(1001, 10), WithStatus(4, 2000, 21)}));
    const wxPoint mid = Screen(1500, 15);
    EXPECT_EQ((std::vector<Seen>{Motion(mid, false), Press(mid), Release(mid)}), Pointer(3)) << Log();
}

TEST_F(ZiwEndToEnd, GesturesChooseTheToolFromTheThirdReport)
{
    Configure([](CConfigXML& c) {
        c.writeInt("SkribWorkZIW", "DriverSet", "GESTURE_T", 1);
        c.writeInt("SkribWorkZIW", "DriverSet", "VALUE1_T", 10);
        c.writeInt("SkribWorkZIW", "DriverSet", "VALUE2_T", 30);
    });
    const std::string marker = m_folder.Path() + "/board-app-launched";
    const std::string app = m_folder.Path() + "/board-app.sh";
    WriteFile(app, "#!/bin/sh\necho launched >> '" + marker + "'\n", 0755);
    StartWithBoard({"--board-app", app});

    // A touch of two reports: held back, then dropped. Nothing is pressed
    // and no tool is chosen: the next touch's code and press come first.
    Board(Frame({Contact(8000, 8000, 100, 60)}));
    Board(Frame({Contact(8000, 8000, 100, 60)}));
    Lift();

    struct Case
    {
        int size1, size2;
        const char* code;
    };
    const Case cases[] = {
        {100, 60, "pend"},  // press value 8, below 10
        {400, 200, "moue"}, // 30: equal to the upper threshold is not above it
        {420, 200, "earh"}, // 31: the eraser, and the whiteboard application is started
        {100, 100, "moue"}, // 10: equal to the lower threshold is not below it
    };
    int y = 3000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        y += 2000;
        const SimPoint points[3] = {{5000, y}, {5600, y}, {6200, y}};
        for (const SimPoint& p : points)
            Board(Frame({Contact(p.x, p.y, c.size1, c.size2)}));
        Lift();
        EXPECT_EQ(c.code, NextDatagram()) << Log();
        // The held points are replayed: pressed at the first, moved through.
        EXPECT_EQ((std::vector<Seen>{Motion(Screen(5000, y), false), Press(Screen(5000, y)),
                                     Motion(Screen(5600, y), true), Motion(Screen(6200, y), true),
                                     Release(Screen(6200, y))}),
                  Pointer(5))
            << Log();
    }
    EXPECT_TRUE(WaitUntil([&] { return ReadFile(marker) == "launched\n"; }, 10000)) << Log();
}

TEST_F(ZiwEndToEnd, SilenceIsAnnouncedOnceAndTheReturnAgain)
{
    StartWithBoard();
    // The read loop starts with the connect command. Reads 2 and 3 without
    // a report write it again; read 3 reports the board gone, read 4 writes
    // the command once more but says nothing more.
    for (int i = 0; i < 3; ++i)
        ExpectOutputReport(CZiwReportEncoder::ConnectCommand());
    EXPECT_EQ("#TQ@DisConnect@StyleZIW", NextDatagram()) << Log();
    ExpectOutputReport(CZiwReportEncoder::ConnectCommand());
    ExpectNoDatagram(300);

    // While silent the board has no style: a "Start" is answered bare.
    Send("#TQ@Start");
    EXPECT_EQ("#TQ@DisConnect", NextDatagram());

    Lift(); // any report brings the board back
    ExpectDatagrams({"#TQ@Connect@StyleZIW", "#TQ@IsStart", "#TQ@DouPenEnabled"});
    Send("#TQ@Start");
    ExpectDatagrams({"#TQ@Connect@StyleZIW", "#TQ@DouPenEnabled"});
}

TEST_F(ZiwEndToEnd, UnplugWithdrawsTheBoardAndClosesTheLinkASecondLater)
{
    StartWithBoard();
    m_bus.Unplug();
    EXPECT_EQ("#TQ@DisConnect@StyleZIW", NextDatagram()) << Log();
    const Clock::time_point withdrawn = Clock::now();

    // The link's port is free again once the link is gone.
    int port = 0;
    std::string error;
    Fd again;
    ASSERT_TRUE(WaitUntil(
        [&] {
            again.fd = BindLoopback(SOCK_DGRAM, m_softPort, port, error);
            return again.fd >= 0;
        },
        10000))
        << Log();
    EXPECT_GE(Clock::now() - withdrawn, std::chrono::milliseconds(800));
    EXPECT_TRUE(m_driver.Running());
    close(again.fd);
    again.fd = -1;

    // No board, no link: a "Start" goes unanswered.
    Send("#TQ@Start");
    ExpectNoDatagram(300);
}

TEST_F(ZiwEndToEnd, HotKeyZonesSendTheirCodesInsteadOfPressing)
{
    // Zones far from the origin (the other 26 centres stay at 0,0): "anew"
    // is key 0, "bpen" key 5, each 300 device units to either side.
    Configure([](CConfigXML& c) {
        wxPoint keys[28];
        keys[0] = wxPoint(30000, 30000);
        keys[5] = wxPoint(26000, 30000);
        c.writeDot("SkribWorkZIW", "HOTKEY", "key", 28, keys);
        c.writeInt("SkribWorkZIW", "Flag", "Enable_Soft_Sidekey", 1);
    });
    StartWithBoard();

    // One touch: "anew" when the side-key window closes; no pointer press.
    Board(Frame({Contact(30100, 29800)}));
    Board(Frame({Contact(30150, 29850)}));
    Lift();
    EXPECT_EQ("anew", NextDatagram()) << Log();
    // Two touches within the window: the pen's double code, once.
    for (int i = 0; i < 2; ++i) {
        Board(Frame({Contact(26000, 30000)}));
        Lift();
    }
    EXPECT_EQ("bped", NextDatagram()) << Log();
    ExpectNoDatagram(800);
    // Off the zones the board is a pointer again; the first pointer event
    // seen at all is this press.
    Board(Frame({Contact(16000, 16000)}));
    Lift();
    const wxPoint p = Screen(16000, 16000);
    EXPECT_EQ((std::vector<Seen>{Motion(p, false), Press(p), Release(p)}), Pointer(3)) << Log();
}

// The dual-user link's next record (false when none came).
bool NextRecord(int fd, DualRecord& record, int timeoutMs = 10000)
{
    std::uint8_t bytes[DualRecord::kSize];
    size_t have = 0;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (have < sizeof bytes && Clock::now() < deadline) {
        if (!WaitReadable(fd, 50))
            continue;
        ssize_t n = recv(fd, bytes + have, sizeof bytes - have, 0);
        if (n <= 0)
            return false;
        have += static_cast<size_t>(n);
    }
    if (have < sizeof bytes)
        return false;
    record = DualRecord::Decode(bytes);
    return record.marker1 == -1 && record.marker2 == -1;
}

struct ExpectedRecord
{
    int action;
    wxPoint at;
};

// The next records on the dual-user link are these, in order.
void ExpectRecords(int fd, const std::vector<ExpectedRecord>& expected)
{
    for (const ExpectedRecord& e : expected) {
        DualRecord r;
        ASSERT_TRUE(NextRecord(fd, r));
        EXPECT_EQ(e.action, r.action);
        EXPECT_EQ(e.at.x, r.x);
        EXPECT_EQ(e.at.y, r.y);
    }
}

// Accepts the driver's dual-user connection on `listener`.
int AcceptDual(int listener)
{
    if (!WaitReadable(listener, 10000))
        return -1;
    return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

TEST_F(ZiwEndToEnd, TwoUsersOverTheDualLinkAndSplitByScreenColumn)
{
    StartWithBoard();
    std::string error;
    int dualPort = 0, splitPort = 0;
    Fd dualListen{BindLoopback(SOCK_STREAM, 0, dualPort, error)};
    Fd splitListen{BindLoopback(SOCK_STREAM, 0, splitPort, error)};
    ASSERT_GE(dualListen.fd, 0);
    ASSERT_GE(splitListen.fd, 0);

    // No dual-user link yet: ending the mode changes nothing.
    Send("#TQ@ShutDownDual");
    Board(Frame({Contact(3000, 3000)}));
    Lift();
    EXPECT_EQ((std::vector<Seen>{Motion(Screen(3000, 3000), false), Press(Screen(3000, 3000)),
                                 Release(Screen(3000, 3000))}),
              Pointer(3));

    // Two users: the first contact is the pointer, the second goes over
    // the link as records.
    Send("#TQ@StartDual@" + std::to_string(dualPort));
    Fd dual{AcceptDual(dualListen.fd)};
    ASSERT_GE(dual.fd, 0) << Log();
    Board(Frame({Contact(6000, 6000), Contact(20000, 20000)}));
    Board(Frame({Contact(6000, 6000), Contact(24000, 22000)}));
    Lift();
    const wxPoint s1 = Screen(20000, 20000), s2 = Screen(24000, 22000);
    ExpectRecords(dual.fd, {{1, s1}, {0, s1}, {1, s2}, {2, s2}});
    // The first user's second report, on the same spot, moves it there again.
    EXPECT_EQ((std::vector<Seen>{Motion(Screen(6000, 6000), false), Press(Screen(6000, 6000)),
                                 Motion(Screen(6000, 6000), true), Release(Screen(6000, 6000))}),
              Pointer(4));

    // Split screen at the working area's middle, 100 + 1240 / 2 = 720:
    // columns 717 to 723 belong to nobody, 716 is the first user's, 724 the
    // second's. The new link replaces the old one, which closes.
    Send("#TQ@StartDualSplit@" + std::to_string(splitPort));
    Fd split{AcceptDual(splitListen.fd)};
    ASSERT_GE(split.fd, 0) << Log();
    DualRecord none;
    EXPECT_FALSE(NextRecord(dual.fd, none, 3000)) << "the replaced link stays open";
    Send("#TQ@WorkRect@100,0,1240,900");
    ExpectNoDatagram(200); // the working area is not answered
    const int y = 16000;
    const int x716 = DeviceXForColumn(716, y), x717 = DeviceXForColumn(717, y), x723 = DeviceXForColumn(723, y),
              x724 = DeviceXForColumn(724, y);
    ASSERT_TRUE(x716 >= 0 && x717 >= 0 && x723 >= 0 && x724 >= 0);
    Board(Frame({Contact(x717, y)}));
    Board(Frame({Contact(x723, y)}));
    Board(Frame({Contact(x716, y)}));
    Lift();
    EXPECT_EQ((std::vector<Seen>{Motion(Screen(x716, y), false), Press(Screen(x716, y)), Release(Screen(x716, y))}),
              Pointer(3))
        << Log();
    Board(Frame({Contact(x724, y)}));
    Lift();
    const wxPoint s724 = Screen(x724, y);
    ExpectRecords(split.fd, {{1, s724}, {0, s724}, {2, s724}});

    // The end of the mode closes the link.
    Send("#TQ@ShutDownDual");
    EXPECT_FALSE(NextRecord(split.fd, none, 3000)) << "the link stays open after the mode ended";
}

// The settings client as a process, against this test's driver.
class CSettingsClient
{
public:
    CSettingsClient(const std::string& workDir, const std::string& name)
        : m_workDir(workDir), m_log(workDir + "/" + name + ".log")
    {
    }
    bool Start(const Strings& args)
    {
        return m_process.Start(SettingsClientArgv(SKRIB_SETTINGS_EXE, m_workDir, args), {}, m_log);
    }
    std::string Output() const { return ReadFile(m_log); }
    bool WaitOutput(const std::string& text)
    {
        return WaitUntil([&] { return Output().find(text) != std::string::npos; }, 10000);
    }
    // Its exit code; -1 when it did not end normally in time.
    int Wait()
    {
        int status = 0;
        return m_process.WaitExit(10000, status) ? ExitCode(status) : -1;
    }

private:
    std::string m_workDir, m_log;
    CChildProcess m_process;
};

TEST_F(ZiwEndToEnd, PressValuesGoToTheSettingsClientAndTheThresholdsReload)
{
    Configure([](CConfigXML& c) {
        c.writeInt("SkribWorkZIW", "DriverSet", "GESTURE_T", 1);
        c.writeInt("SkribWorkZIW", "DriverSet", "VALUE1_T", 10);
        c.writeInt("SkribWorkZIW", "DriverSet", "VALUE2_T", 30);
    });
    StartWithBoard();
    auto touch = [&](int size1, int size2, int y) {
        for (int x : {5000, 5600, 6200})
            Board(Frame({Contact(x, y, size1, size2)}));
        Lift();
    };

    // While a client watches, each touch's press value goes to it alone; a
    // value of four digits arrives cut to three.
    CSettingsClient values(m_folder.Path(), "values");
    ASSERT_TRUE(values.Start({"--count", "2", "values"}));
    ASSERT_TRUE(values.WaitOutput("started DriversSet/data")) << values.Output() << Log();
    // New thresholds in the file; the driver reads them when the client leaves.
    Configure([](CConfigXML& c) { c.writeInt("SkribWorkZIW", "DriverSet", "VALUE1_T", 50); });
    touch(100, 60, 6000);      // 8
    touch(30000, 30000, 9000); // 3000
    EXPECT_EQ(0, values.Wait()) << values.Output();
    EXPECT_NE(std::string::npos, values.Output().find("\n8\n300\n")) << values.Output();
    ExpectNoDatagram(300);
    ASSERT_TRUE(WaitUntil([&] { return Log().find("VALUE1=50 ") != std::string::npos; }, 10000)) << Log();
    touch(400, 200, 12000); // 30: below the new lower threshold
    EXPECT_EQ("pend", NextDatagram()) << Log();

    // A reload on request.
    Configure([](CConfigXML& c) { c.writeInt("SkribWorkZIW", "DriverSet", "VALUE1_T", 5); });
    CSettingsClient reload(m_folder.Path(), "reload");
    ASSERT_TRUE(reload.Start({"driverset-reload"}));
    EXPECT_EQ(0, reload.Wait()) << reload.Output();
    ASSERT_TRUE(WaitUntil([&] { return Log().find("VALUE1=5 ") != std::string::npos; }, 10000)) << Log();
    touch(100, 60, 15000); // 8: between 5 and 30
    EXPECT_EQ("moue", NextDatagram()) << Log();
}

// The board's device position of a screen pixel: offset, scale, skew, a
// slight rotation and a slight bow (about 10 pixels across the screen), as a
// mounted board and its projector give.
SimPoint TrueDevice(double sx, double sy)
{
    return {static_cast<int>(std::lround(1800 + 20.9 * sx + 0.9 * sy + 0.001 * (sy - 450) * (sy - 450))),
            static_cast<int>(std::lround(1100 - 0.7 * sx + 33.6 * sy + 0.0006 * (sx - 720) * (sx - 720)))};
}

TEST_F(ZiwEndToEnd, CalibrationWithTheCalibrationApplication)
{
    StartWithBoard();
    Display* display = OpenDisplay(m_xvfb.Display());
    ASSERT_NE(nullptr, display);
    // Not on the mock bus: the calibration application is an ordinary program.
    CChildProcess orient;
    const std::string orientLog = m_folder.Path() + "/orient.log";
    ASSERT_TRUE(orient.Start({ORIENT_APP_EXE, "--workdir", m_folder.Path(), "--points", "9"},
                             {{"DISPLAY", m_xvfb.Display()}}, orientLog));
    auto orientSaid = [&](const std::string& text) {
        return WaitUntil([&] { return ReadFile(orientLog).find(text) != std::string::npos; }, 15000);
    };
    ASSERT_TRUE(orientSaid("calibration of 9 points started")) << ReadFile(orientLog) << Log();

    // Each target as the user touches it: the first 8 reports are skipped,
    // the next 20 sampled (a finger's jitter of up to 2 pixels and one stray
    // report), the 29th finishes the point.
    const std::vector<wxPoint> targets = OrientTargets(9, kScreenWidth, kScreenHeight);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-40, 40);
    for (size_t k = 0; k < targets.size(); ++k) {
        SCOPED_TRACE(k);
        unsigned long rgb = 0;
        ASSERT_TRUE(WaitUntil([&] { return ScreenPixel(display, targets[k].x, targets[k].y, rgb) && rgb == 0xFF0000; },
                              10000))
            << "target " << k << " not shown\n" << ReadFile(orientLog);
        // Played at the board's report rate: the driver's receive queue holds
        // 16 reports, as the board's does.
        const SimPoint at = TrueDevice(targets[k].x, targets[k].y);
        CBoardScript touch(m_encoder, 100);
        for (int r = 0; r < 29; ++r) {
            const int stray = r == 15 ? 900 : 0;
            touch.Frame(Frame({Contact(at.x + noise(random) + stray, at.y + noise(random))}));
        }
        touch.Frame(SimFrame());
        CFdSink sink(m_bus.NodeFd());
        CSteadyPacer pacer;
        ASSERT_EQ(30, CTimelineFeeder(sink, pacer).Play(touch.Timeline()));
        ASSERT_TRUE(orientSaid("point " + std::to_string(k + 1) + " of 9 done")) << ReadFile(orientLog) << Log();
    }
    ASSERT_TRUE(orientSaid("calibration complete"));
    int status = 0;
    ASSERT_TRUE(orient.WaitExit(10000, status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(orientLog);
    CloseDisplay(display);

    // The settings file holds the run; the driver's conversion takes each
    // target's device position back onto the target, and the rest of the
    // screen close to where it belongs.
    CConfigXML config;
    ASSERT_TRUE(config.open(CONFIG_FILE));
    int dotNum = 0;
    config.readInt("SkribWorkZIW", "coordinate", "dotNum", dotNum, 0);
    config.close();
    EXPECT_EQ(9, dotNum);
    m_conversion.reset();
    for (const wxPoint& t : targets) {
        const SimPoint d = TrueDevice(t.x, t.y);
        const wxPoint back = Screen(d.x, d.y);
        EXPECT_LE(std::abs(back.x - t.x), 1) << t.x << "," << t.y;
        EXPECT_LE(std::abs(back.y - t.y), 1) << t.x << "," << t.y;
    }
    double worst = 0, sum = 0;
    int count = 0;
    for (int sx = 0; sx <= kScreenWidth; sx += kScreenWidth / 12)
        for (int sy = 0; sy <= kScreenHeight; sy += kScreenHeight / 9) {
            const SimPoint d = TrueDevice(sx, sy);
            const wxPoint got = Screen(d.x, d.y);
            const double error = std::hypot(got.x - sx, got.y - sy);
            worst = std::max(worst, error);
            sum += error;
            ++count;
        }
    RecordProperty("calibration_error_max_px", std::to_string(worst));
    RecordProperty("calibration_error_mean_px", std::to_string(sum / count));
    printf("calibration error over %d screen points: mean %.2f px, max %.2f px\n", count, sum / count, worst);
    EXPECT_LE(worst, 4.0);

    // The driver uses the new calibration: a stroke lands where it should.
    // (Reports wait while the driver finishes the run.)
    const wxPoint from(400, 300), to(1000, 600);
    const SimPoint dFrom = TrueDevice(from.x, from.y), dTo = TrueDevice(to.x, to.y);
    for (const SimPoint& p : Stroke(dFrom, dTo, 5))
        Board(Frame({Contact(p.x, p.y)}));
    Lift();
    std::vector<Seen> seen;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const Seen& s : m_observer->Collect(1, true))
                seen.push_back(s);
            return !seen.empty() && seen.back().type == ButtonRelease;
        },
        15000))
        << Log();
    const auto press = std::find_if(seen.begin(), seen.end(), [](const Seen& s) { return s.type == ButtonPress; });
    ASSERT_NE(seen.end(), press);
    EXPECT_LE(std::abs(press->x - from.x), 3) << *press;
    EXPECT_LE(std::abs(press->y - from.y), 3) << *press;
    EXPECT_LE(std::abs(seen.back().x - to.x), 3) << seen.back();
    EXPECT_LE(std::abs(seen.back().y - to.y), 3) << seen.back();
}

} // namespace
