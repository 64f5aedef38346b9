// Side keys from tables with a controllable side-key timer: pen buttons and
// hot-key zones through the shipped board's work thread (single and double
// presses, the zone test, one press per touch), the hand flag, the timer's
// window across threads, and presses racing the timer's expiry.
#include "ConfigXML.h"
#include "Conversion.h"
#include "Injection.h"
#include "SidekeyProcess.h"
#include "SidekeyTimerGate.h"
#include "SoftLinkFlags.h"
#include "TestSupport.h"
#include "ZiwDoubles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Log = std::vector<std::string>;

constexpr int kHalfSide = 30;

// Zone i: first centre (1000 + 100 i, 1000), second centre (1000 + 100 i, 5000).
wxPoint Centre(int zone, int which = 0)
{
    return wxPoint(1000 + 100 * zone, which == 0 ? 1000 : 5000);
}

int Zone(const std::string& name)
{
    const char* names[] = {"anew", "save", "prev", "next", "mous", "bpen", "rpen",
                           "lpen", "gpen", "eare", "cust", "cusp", "orient", "board"};
    for (int i = 0; i < 14; ++i)
        if (name == names[i])
            return i;
    ADD_FAILURE() << "no zone " << name;
    return 0;
}

void WriteZones(bool enable)
{
    wxRealPoint centres[SIDEKEY_POINT_COUNT];
    for (int i = 0; i < SIDEKEY_POINT_COUNT; ++i) {
        const wxPoint c = Centre(i % 14, i / 14);
        centres[i] = wxRealPoint(c.x, c.y);
    }
    ASSERT_TRUE(EditSettings(CONFIG_FILE, [&](CConfigXML& c) {
        return c.writeDot("SkribWorkZIW", "HOTKEY", "key", SIDEKEY_POINT_COUNT, centres) &&
               c.writeInt("SkribWorkZIW", "Constants", "SIDEKEY_POINT_SIZE", kHalfSide) &&
               c.writeInt("SkribWorkZIW", "Flag", "Enable_Soft_Sidekey", enable ? 1 : 0);
    }));
}

class SidekeyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_folder.Path().empty());
        WriteZones(true);
        SetInjection(INJECT_NONE, 1440, 900);
        m_work.reset(new CRecordingZIW(m_log));
        ASSERT_TRUE(m_work->Start());
        g_bOnBoard = false;
    }
    void TearDown() override { g_bOnBoard = false; }

    // A touch on the pointer's way: press, then release.
    static Log PointerTouch(int x, int y)
    {
        CConversion conversion("SkribWorkZIW");
        conversion.Init(1440, 900);
        const wxPoint p = conversion.Conversion(wxRealPoint(x, y));
        return {"move " + std::to_string(p.x) + "," + std::to_string(p.y), "ldown", "lup"};
    }

    // One step of a case, returning what it sent:
    //   "front", "back"    a pen button press
    //   "zone NAME"        a touch of three reports on the zone's first centre
    //   "zone2 NAME"       the same on its second centre
    //   "at X,Y"           a touch of three reports at a device point
    //   "slide A B"        one touch: a report on zone A, then one on zone B
    //   "expire"           the side-key timer expires
    Log Step(const std::string& step)
    {
        m_log.Clear();
        char a[16] = {}, b[16] = {};
        int x = 0, y = 0;
        if (step == "front" || step == "back") {
            m_work->PressKey(step);
        } else if (step == "expire") {
            m_work->OnTimer(TIMEOUT_SIDEKEY);
        } else if (sscanf(step.c_str(), "zone2 %15s", a) == 1) {
            m_work->Touch(Centre(Zone(a), 1).x, Centre(Zone(a), 1).y, 3);
        } else if (sscanf(step.c_str(), "zone %15s", a) == 1) {
            m_work->Touch(Centre(Zone(a)).x, Centre(Zone(a)).y, 3);
        } else if (sscanf(step.c_str(), "at %d,%d", &x, &y) == 2) {
            m_work->Touch(x, y, 1);
        } else if (sscanf(step.c_str(), "slide %15s %15s", a, b) == 2) {
            m_work->HandleReport(ZiwTouch(7, Centre(Zone(a)).x, Centre(Zone(a)).y).data());
            m_work->HandleReport(ZiwTouch(7, Centre(Zone(b)).x, Centre(Zone(b)).y).data());
            m_work->HandleReport(ZiwTouch(0, 0, 0).data());
        } else {
            ADD_FAILURE() << "unknown step " << step;
        }
        return m_log.Snapshot();
    }

    CWorkingFolder m_folder;
    CEventLog m_log;
    std::unique_ptr<CRecordingZIW> m_work;
};

TEST_F(SidekeyTest, PressesFromTables)
{
    // Events: 0 starts the whiteboard application, 1 the calibration
    // application. A right click is "lup", "rdown", "rup".
    struct Act
    {
        std::string step;
        Log sent;
    };
    struct Case
    {
        const char* name;
        std::vector<Act> steps;
        bool boardInFront = false;
        const char* backCode = "elbc";
    } cases[] = {
        {"front once", {{"front", {"elfc"}}, {"expire", {}}}},
        {"front twice", {{"front", {"elfc"}}, {"front", {"elfd"}}, {"expire", {}}}},
        {"back once", {{"back", {"elbc"}}, {"expire", {"lup", "rdown", "rup"}}}},
        {"back once, board window in front", {{"back", {"elbc"}}, {"expire", {}}}, true},
        {"back twice", {{"back", {"elbc"}}, {"back", {"elbd", "event 0"}}, {"expire", {}}}},
        {"custom back code twice", {{"back", {}}, {"back", {"moue", "moue", "event 0"}}, {"expire", {}}}, false, "moue"},
        {"bpen once", {{"zone bpen", {}}, {"expire", {"bpen"}}}},
        {"bpen twice", {{"zone bpen", {}}, {"zone2 bpen", {"bped"}}, {"expire", {}}}},
        {"save, then next", {{"zone save", {}}, {"zone next", {"save"}}, {"expire", {"next"}}}},
        {"anew twice", {{"zone anew", {}}, {"zone anew", {"anew"}}, {"expire", {"anew"}}}},
        {"orient once", {{"zone orient", {}}, {"expire", {"event 1"}}}},
        {"sliding from prev onto next", {{"slide prev next", {}}, {"expire", {"prev"}}}},
        {"29 units from a centre is inside",
         {{"at 1229,1000", {}}, {"expire", {"prev"}}, {"at 1200,971", {}}, {"expire", {"prev"}}}},
        {"30 units from a centre is outside", {{"at 1230,1000", PointerTouch(1230, 1000)}, {"expire", {}}}},
    };
    for (const Case& c : cases) {
        Step("expire"); // no window left open by the case before
        g_bOnBoard = c.boardInFront;
        m_work->SetBackCode(c.backCode);
        for (const Act& s : c.steps)
            EXPECT_EQ(s.sent, Step(s.step)) << c.name << ": " << s.step;
    }
}

TEST_F(SidekeyTest, BoardKeysAndReloadsReachTheZones)
{
    // The zone switch is re-read on request (settings server "SideKey"/"0").
    WriteZones(false);
    EXPECT_TRUE(m_work->DealClientNotify(NOTIFY_SIDEKEY_RELOAD, 0));
    EXPECT_EQ(PointerTouch(1100, 1000), Step("at 1100,1000"));
    WriteZones(true);
    EXPECT_TRUE(m_work->DealClientNotify(NOTIFY_SIDEKEY_RELOAD, 0));
    EXPECT_EQ(Log{}, Step("at 1100,1000"));
    EXPECT_EQ(Log{"save"}, Step("expire"));
}

TEST(SidekeyZones, TheHandFlagKeepsZonesOff)
{
    CWorkingFolder folder;
    ASSERT_FALSE(folder.Path().empty());
    WriteZones(true);
    for (bool hadHand : {false, true}) {
        CSidekeyProcess keys(hadHand, "SkribWorkZIW");
        keys.ReadConfig();
        int handled = 0;
        EXPECT_EQ(!hadHand, keys.DealSidekey(Centre(3).x, Centre(3).y, handled)) << hadHand;
        EXPECT_EQ(hadHand ? 0 : 1, handled) << hadHand;
        keys.ReadEnable();
        EXPECT_EQ(!hadHand, keys.m_bEnable) << hadHand;
    }
}

TEST(SidekeyTimerGate, WindowOpenedStoppedArmedAndClaimed)
{
    // request: the start event is posted; arm: the main thread handles it
    // (result: whether the timer runs); claim: the timer expired (result:
    // whether the single press runs); open: is the window open?
    struct Op
    {
        const char* op;
        bool result;
    };
    struct Case
    {
        const char* name;
        std::vector<Op> ops;
    } cases[] = {
        {"nothing to claim", {{"open", false}, {"claim", false}}},
        {"one window, one expiry", {{"request", true}, {"open", true}, {"arm", true}, {"claim", true}, {"open", false}, {"claim", false}}},
        {"open before the main thread armed it", {{"request", true}, {"open", true}, {"claim", false}, {"arm", true}, {"claim", true}}},
        {"stopped before armed: the timer is not started", {{"request", true}, {"stop", true}, {"arm", false}, {"claim", false}}},
        {"stopped after armed: the expiry is dropped", {{"request", true}, {"arm", true}, {"stop", true}, {"open", false}, {"claim", false}}},
        {"an old expiry does not close a newer window",
         {{"request", true}, {"arm", true}, {"stop", true}, {"request", true}, {"claim", false}, {"open", true}, {"arm", true}, {"claim", true}}},
    };
    for (const Case& c : cases) {
        CSidekeyTimerGate gate;
        for (const Op& o : c.ops) {
            const std::string op = o.op;
            if (op == "request")
                gate.RequestStart();
            else if (op == "stop")
                gate.Stop();
            else if (op == "arm")
                EXPECT_EQ(o.result, gate.Arm()) << c.name;
            else if (op == "claim")
                EXPECT_EQ(o.result, gate.Claim()) << c.name;
            else
                EXPECT_EQ(o.result, gate.IsRunning()) << c.name;
        }
    }
}

// The work thread touches zone "save" again and again while the main thread
// lets the timer expire at random moments: each press is sent exactly once,
// either by the next press inside the window or by the expiry.
TEST_F(SidekeyTest, PressesRacingTheExpiryAreEachSentOnce)
{
    constexpr int kTouches = 300;
    m_log.Clear();
    std::atomic<bool> done{false};
    std::thread work([&] {
        for (int i = 0; i < kTouches; ++i)
            m_work->Touch(Centre(1).x, Centre(1).y, 1);
        done = true;
    });
    while (!done)
        m_work->OnTimer(TIMEOUT_SIDEKEY);
    work.join();
    m_work->OnTimer(TIMEOUT_SIDEKEY);
    const Log sent = m_log.Snapshot();
    EXPECT_EQ(kTouches, std::count(sent.begin(), sent.end(), "save"));
    EXPECT_EQ(static_cast<size_t>(kTouches), sent.size()) << "nothing but the codes";
}

} // namespace
