// The work thread's read loop with a scripted board: silence handling and
// the lost/back announcements, the report check, dispatch and the board's
// own hot keys, time-outs, and the hand-overs between the main thread and
// the loop while the board is unplugged.
#include "Injection.h"
#include "MouseCtrl.h"
#include "SkribWorkBase.h"
#include "TestSupport.h"
#include "WorkDoubles.h"

#include <gtest/gtest.h>

#include "MouseCtrlLinux.h"
#include "XObserver.h" // after gtest: Xlib defines macros that gtest uses as names

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// A board that plays a script of reads: a report, or an empty read. When the
// script is used up it waits (as a silent board does) until it is closed,
// or until more script arrives.
class CScriptedBoard : public CDeviceBase
{
public:
    CScriptedBoard(CEventLog& log, bool hadHand) : CDeviceBase(Info()), m_log(log)
    {
        m_timeout = 1000;
        m_bHadHand = hadHand;
        m_bOpen = true;
    }
    static tagDevice_Info Info()
    {
        tagDevice_Info info;
        info.location = "0x1130000";
        info.driverType = DRIVER_ZIW;
        return info;
    }
    void Play(std::vector<Bytes> reads)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (Bytes& r : reads)
            m_script.push_back(std::move(r));
        m_cond.notify_all();
    }
    bool Drained()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_script.empty() && m_waiting;
    }

    bool Open() override { return true; }
    bool Init() override { return true; }
    void Close() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bOpen = false;
        m_cond.notify_all();
    }
    int Read(unsigned char* buf, int len) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_waiting = true;
        m_cond.wait(lock, [&] { return !m_script.empty() || !m_bOpen; });
        m_waiting = false;
        if (!m_bOpen)
            return -1;
        Bytes r = m_script.front();
        m_script.pop_front();
        if (r.empty())
            return 0;
        std::copy(r.begin(), r.begin() + std::min<size_t>(r.size(), static_cast<size_t>(len)), buf);
        return static_cast<int>(std::min<size_t>(r.size(), static_cast<size_t>(len)));
    }
    int Write(const unsigned char*, int len) override { return len; }
    int WriteConnect() override
    {
        m_log.Add("connect");
        return 8;
    }

private:
    CEventLog& m_log;
    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::deque<Bytes> m_script;
    bool m_waiting = false;
};

// A family of 8-byte reports: byte 1 is the command type, bytes 2-3 and 4-5
// the device point (little endian).
class CTestFamily : public CSkribWorkBase
{
public:
    explicit CTestFamily(CEventLog& log, bool realEngine = false) : m_log(log), m_bRealEngine(realEngine)
    {
        m_strName = "SkribWorkZIW"; // a section that the shipped settings have
        m_keyMap[0x33] = "save";
    }
    bool Init(CDeviceBase* device) override
    {
        if (!CSkribWorkBase::Init(device))
            return false;
        if (!m_bRealEngine) {
            delete m_pMouseCtrl;
            m_pMouseCtrl = new CRecordingEngine(m_log);
        }
        return true;
    }
    bool Check(const Bytes& report)
    {
        std::copy(report.begin(), report.end(), m_pBuf);
        return DataHeadCheck();
    }
    void SetPoints(const wxRealPoint& dev, const wxPoint& scr)
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        m_devPoint = dev;
        m_scrPoint = scr;
    }

protected:
    bool Dev2Scr() override
    {
        m_devPoint = wxRealPoint(m_pBuf[2] | m_pBuf[3] << 8, m_pBuf[4] | m_pBuf[5] << 8);
        return true;
    }
    int GetCmdType() override { return static_cast<signed char>(m_pBuf[1]); }
    // A touch: the converted point drives the pointer engine.
    void OnPressT() override
    {
        m_log.Add("pressT");
        m_scrPoint = Convert(m_devPoint);
        m_pMouseCtrl->MouseAction(m_scrPoint, MOUSE_ACTION_DOWN);
    }
    void OnReleaseT() override
    {
        m_log.Add("releaseT");
        m_pMouseCtrl->MouseAction(m_scrPoint, MOUSE_ACTION_UP);
    }
    void OnHadKey(const wxString& name) override
    {
        m_log.Add("key " + name.ToStdString());
        CSkribWorkBase::OnHadKey(name); // a side-key press
    }

private:
    CEventLog& m_log;
    bool m_bRealEngine;
};

// A valid report with command `cmd` (the check byte is the xor of 0-6).
Bytes Report(unsigned char cmd, unsigned char b2 = 0, int x = 0, int y = 0)
{
    Bytes r = {0xAA, cmd, b2, 0, 0, 0, 0, 0};
    if (cmd != 10) {
        r[2] = static_cast<unsigned char>(x & 0xFF);
        r[3] = static_cast<unsigned char>(x >> 8);
        r[4] = static_cast<unsigned char>(y & 0xFF);
        r[5] = static_cast<unsigned char>(y >> 8);
    }
    for (int i = 0; i < 7; ++i)
        r[7] ^= r[static_cast<size_t>(i)];
    return r;
}

const Bytes kEmpty;

class WorkLoopTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_folder.Path().empty());
        SetInjection(INJECT_NONE, 1440, 900);
    }
    void TearDown() override
    {
        m_work.reset();
    }

    void Start(bool hadHand, bool realEngine = false)
    {
        m_board = new CScriptedBoard(m_log, hadHand);
        m_work.reset(new CTestFamily(m_log, realEngine));
        m_work->SetHost(&m_host);
        ASSERT_TRUE(m_work->Init(m_board));
        ASSERT_TRUE(m_work->Run());
    }

    // Plays `reads` and waits until the loop has taken them all.
    void Play(std::vector<Bytes> reads)
    {
        m_board->Play(std::move(reads));
        ASSERT_TRUE(WaitUntil([&] { return m_board->Drained(); }, 10000));
    }

    CWorkingFolder m_folder;
    CEventLog m_log;
    CRecordingHost m_host{m_log};
    CScriptedBoard* m_board = nullptr;
    std::unique_ptr<CTestFamily> m_work;
};

TEST_F(WorkLoopTest, SilenceIsPingedThenAnnouncedLostAndBack)
{
    Start(false);
    Play({Report(0), kEmpty, kEmpty, kEmpty, kEmpty, Report(2)});
    EXPECT_EQ(1, CSkribWorkBase::SilenceLimit());
    const std::vector<std::string> expected = {
        "connect",                                     // the loop starts
        "pressT",          "move 0,0", "ldown",        // a report
        /* empty 1: nothing */ "connect",              // empty 2
        "connect",         "DisConnect",               // empty 3
        "connect",                                     // empty 4
        "Connect IsStart", "releaseT", "lup",          // the board is back
    };
    EXPECT_EQ(expected, m_log.Snapshot());
}

TEST_F(WorkLoopTest, ReportCheckAndDispatch)
{
    Start(true);
    struct Case
    {
        Bytes report;
        bool passes;
    } checks[] = {
        {{0xAA, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xAD}, true},
        {{0xAA, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x00}, false},
        {{0xEE, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xE9}, true},
        {{0xAB, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xAC}, false},
    };
    Play({}); // the loop is waiting for the board: the buffer is ours
    for (const Case& c : checks)
        EXPECT_EQ(c.passes, m_work->Check(c.report)) << int(c.report[0]) << " " << int(c.report[7]);

    // Command 10 goes to the board's own hot-key table (hand flag set):
    // a known key is handed on, an unknown one is not; a bad check byte drops
    // the report before dispatch.
    Bytes bad = Report(0);
    bad[7] ^= 1;
    Play({Report(10, 0x33), Report(10, 0x44), bad, Report(0)});
    // The side-key timer's expiry sends the key's single press.
    m_work->OnTimer(TIMEOUT_SIDEKEY);
    const std::vector<std::string> expected = {"connect", "key save", "pressT", "move 0,0", "ldown", "save"};
    EXPECT_EQ(expected, m_log.Snapshot());
}

TEST_F(WorkLoopTest, BoardKeysNeedTheHandFlag)
{
    Start(false);
    Play({Report(10, 0x33), Report(-1, 0x33), Report(2)});
    const std::vector<std::string> expected = {"connect", "releaseT"};
    EXPECT_EQ(expected, m_log.Snapshot());
}

TEST_F(WorkLoopTest, ReleaseTimeoutMovesThePointerOnlyInNormalWork)
{
    Start(false);
    Play({});
    struct Case
    {
        ClientNotify_Type notify;
        int value;
        bool moves;
    } cases[] = {
        {NOTIFY_ORIENT_START, 4, false},
        {NOTIFY_ORIENT_END, 1, false}, // value 1 leaves the calibration running
        {NOTIFY_ORIENT_END, 0, true},
        {NOTIFY_HOTKEY_START, 28, false},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(m_work->DealClientNotify(c.notify, c.value));
        m_work->SetPoints(wxRealPoint(0, 0), wxPoint(300, 200));
        size_t before = m_log.Snapshot().size();
        m_work->OnTimer(TIMEOUT_RELEASE);
        std::vector<std::string> after = m_log.Snapshot();
        bool moved = false;
        for (size_t i = before; i < after.size(); ++i)
            moved = moved || after[i].compare(0, 4, "move") == 0;
        EXPECT_EQ(c.moves, moved) << c.notify << "/" << c.value;
    }
    EXPECT_FALSE(m_work->DealClientNotify(NOTIFY_DUAL_START, 5000)) << "a family's notification";
}

// The application's pattern: a guarded slot holding a shared pointer. The
// main thread delivers time-outs and notifications through copies while
// reports flow; the board goes away (slot cleared, thread stopped) in the
// middle of it. The sanitizer builds judge the hand-overs.
TEST_F(WorkLoopTest, TimersAndNotificationsWhileReportsFlowAndTheBoardGoes)
{
    Start(false);
    std::shared_ptr<CTestFamily> slot(m_work.release());
    std::mutex slotLock;
    auto current = [&] {
        std::lock_guard<std::mutex> lock(slotLock);
        return slot;
    };

    std::atomic<bool> done{false};
    std::atomic<int> calls{0};
    std::thread mainThread([&] {
        const Timeout_Type kinds[] = {TIMEOUT_RELEASE, TIMEOUT_DUAL_RELEASE, TIMEOUT_SIDEKEY, TIMEOUT_REPRESS};
        for (int i = 0; !done; ++i) {
            if (std::shared_ptr<CTestFamily> w = current()) {
                w->OnTimer(kinds[i % 4]);
                w->DealClientNotify(i % 2 ? NOTIFY_ORIENT_START : NOTIFY_ORIENT_END, 0);
                ++calls;
            }
        }
    });
    std::thread feeder([&] {
        for (int i = 0; i < 200; ++i)
            m_board->Play({Report(static_cast<unsigned char>(i % 3 == 2 ? 2 : 0)), kEmpty});
    });
    feeder.join();
    ASSERT_TRUE(WaitUntil([&] { return calls > 100; }, 10000));

    // The board goes: out of the slot, then stopped and joined.
    std::shared_ptr<CTestFamily> gone;
    {
        std::lock_guard<std::mutex> lock(slotLock);
        gone.swap(slot);
    }
    gone->Stop();
    EXPECT_TRUE(gone->TestDestroy());
    gone.reset(); // destroyed here, or by the main thread's last copy
    done = true;
    mainThread.join();
    EXPECT_EQ(nullptr, current());
}

// A scripted board's touch, through the loop, the shipped default
// calibration (device 1310.72 .. 31457.28 on the 4 % margins), the pointer
// engine and XTest, reaches a real X server where it should.
TEST_F(WorkLoopTest, ScriptedTouchDrivesTheXPointer)
{
    CXvfb xvfb;
    ASSERT_TRUE(xvfb.Start(1440, 900));
    setenv("DISPLAY", xvfb.Display().c_str(), 1);
    CObserver observer(xvfb.Display());
    ASSERT_TRUE(observer.Ready());
    SetInjection(INJECT_XTEST, 0, 0);
    Start(false, true);

    // Device 1310.72 maps onto pixel 57 (x) and 36 (y); the middle of the
    // device range onto the middle of the screen.
    Play({Report(0, 0, 1311, 1311), Report(0, 0, 16384, 16384), Report(2)});
    std::vector<Seen> seen = observer.Collect(4, true);
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ((Seen{MotionNotify, 0, 57, 36}), seen.front());
    EXPECT_EQ((Seen{ButtonPress, 1, 57, 36}), seen[1]);
    EXPECT_EQ(ButtonRelease, seen.back().type);
    // The drag ends near the middle (the filter smooths its way there).
    EXPECT_NEAR(720, seen.back().x, 200);
    EXPECT_NEAR(450, seen.back().y, 150);
    for (size_t i = 2; i + 1 < seen.size(); ++i)
        EXPECT_EQ(MotionNotify, seen[i].type) << seen[i];
    m_work.reset(); // its X connection goes before the server does
}

} // namespace
