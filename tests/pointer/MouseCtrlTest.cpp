// The pointer action engine, driven through its entry points: filters, press,
// drag and release, the hold rule, double clicks, the VU filter, the
// second user's records and the settings it reads.
#include "RecordingMouseCtrl.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using ptrtest::CRecordingLink;
using ptrtest::CRecordingMouseCtrl;
using ptrtest::Settings;

using Entry = void (CMouseCtrlBase::*)(wxPoint, int);
using Ops = std::vector<std::string>;

const Entry MA = &CMouseCtrlBase::MouseAction;
const Entry MA3 = &CMouseCtrlBase::MouseAction3;
const Entry VU = &CMouseCtrlBase::VUMouseAction;
const Entry DUAL = &CMouseCtrlBase::DualMouseAction;

const Ops RIGHT_CLICK = {"lup", "pause 500", "rdown", "pause 500", "rup"};

std::string Mv(int x, int y)
{
    return "move " + std::to_string(x) + "," + std::to_string(y);
}

Ops Press(int x, int y)
{
    return {Mv(x, y), "ldown"};
}

// A second-user record.
std::string Rec(int action, int x, int y)
{
    return std::to_string(action) + ":" + std::to_string(x) + "," + std::to_string(y);
}

// Every operation but the moves.
Ops Buttons(const Ops& ops)
{
    Ops out;
    for (const std::string& op : ops)
        if (op.rfind("move ", 0) != 0)
            out.push_back(op);
    return out;
}

// Each test starts with the process-wide MouseAction3 filter reset and with a
// link set.
template <class T>
class EngineTest : public ::testing::TestWithParam<T>
{
protected:
    void SetUp() override
    {
        CRecordingMouseCtrl::mouseProc(-1, -1);
        m_engine.SetDualLink(&m_link);
    }

    void Call(Entry entry, wxPoint pt, int action) { (m_engine.*entry)(pt, action); }

    CRecordingLink m_link;
    CRecordingMouseCtrl m_engine;
};

template <class T>
std::string CaseName(const ::testing::TestParamInfo<T>& info)
{
    return info.param.name;
}

// ---------------------------------------------------------------------------
// Step tables: (action, point) -> operations posted and records sent.

struct Step
{
    int action;
    wxPoint pt;
    Ops ops;
    Ops sends;
};

struct StepsCase
{
    const char* name;
    Entry entry;
    Settings settings;
    std::vector<Step> steps;
};

void PrintTo(const StepsCase& c, std::ostream* os)
{
    *os << c.name;
}

const int UP = MOUSE_ACTION_UP;
const int DOWN = MOUSE_ACTION_DOWN;
const int RCLICK = MOUSE_ACTION_RCLICK;
const int LCLICK = MOUSE_ACTION_LCLICK;
const int MOVE = MOUSE_ACTION_MOVE;
const int REPRESS = MOUSE_ACTION_REPRESS;

const StepsCase STEPS_CASES[] = {
    {"RcHalfTrack", MA, {0, 0, 0.5f, 0.5f},
     {{DOWN, {100, 100}, Press(100, 100), {}},
      {DOWN, {110, 100}, {Mv(105, 100)}, {}},
      {DOWN, {110, 100}, {Mv(107, 100)}, {}},
      {UP, {110, 100}, {"lup"}, {}}}},
    {"BothWeightsZeroTakePointAsIs", MA, {0, 0, 0.0f, 0.0f},
     {{DOWN, {100, 100}, Press(100, 100), {}},
      {DOWN, {110, 120}, {Mv(110, 120)}, {}},
      {DOWN, {131, 95}, {Mv(131, 95)}, {}}}},
    {"OnlyPreviousWeightZero", MA, {0, 0, 0.5f, 0.0f},
     {{DOWN, {100, 100}, Press(100, 100), {}},
      {DOWN, {110, 121}, {Mv(55, 60)}, {}}}},
    {"OnlyNewWeightZero", MA, {0, 0, 0.0f, 0.5f},
     {{DOWN, {100, 100}, Press(100, 100), {}},
      {DOWN, {110, 120}, {Mv(50, 50)}, {}},
      {DOWN, {7, 7}, {Mv(25, 25)}, {}}}},
    {"TruncatesTowardZero", MA, {0, 0, 0.5f, 0.5f},
     {{DOWN, {-100, -100}, Press(-100, -100), {}},
      {DOWN, {-111, -101}, {Mv(-105, -100)}, {}}}},
    {"MoveLeavesFilterAlone", MA, {0, 0, 0.5f, 0.5f},
     {{DOWN, {100, 100}, Press(100, 100), {}},
      {MOVE, {500, 500}, {Mv(500, 500)}, {}},
      {DOWN, {110, 100}, {Mv(105, 100)}, {}}}},
    {"RepressKeepsTheContact", MA, {0, 0, 0.5f, 0.5f},
     {{DOWN, {100, 100}, Press(100, 100), {}},
      {REPRESS, {0, 0}, {"lup", "ldown"}, {}},
      {DOWN, {110, 100}, {Mv(105, 100)}, {}},
      {UP, {110, 100}, {"lup"}, {}},
      {REPRESS, {0, 0}, {}, {}}}},
    {"IdleCodes", MA, {10, 5, 0.5f, 0.5f},
     {{REPRESS, {1, 2}, {}, {}},
      {UP, {1, 2}, {}, {}},
      {RCLICK, {5, 5}, RIGHT_CLICK, {}},
      {LCLICK, {5, 5}, {"ldown", "lup"}, {}},
      {MOVE, {7, 8}, {Mv(7, 8)}, {}},
      {6, {7, 8}, {}, {}},
      {-1, {7, 8}, {}, {}},
      {DOWN, {9, 9}, Press(9, 9), {}}}},
    {"VuCodes", VU, {10, 5, 0.5f, 0.5f},
     {{REPRESS, {1, 2}, {}, {}},
      {DOWN, {10, 10}, Press(10, 10), {}},
      {REPRESS, {0, 0}, {"lup", "ldown"}, {}},
      {RCLICK, {0, 0}, RIGHT_CLICK, {}},
      {LCLICK, {0, 0}, {"ldown", "lup"}, {}},
      {MOVE, {3, 4}, {Mv(3, 4)}, {}},
      {6, {3, 4}, {}, {}},
      {UP, {10, 10}, {"lup"}, {}},
      {UP, {10, 10}, {}, {}}}},
    // The VU filter: the first report after the press goes straight through,
    // then the second-order smoother (x 100, 200, 300, 300 -> 100, 150, 225,
    // 256).
    {"VuSecondOrderSmoother", VU, {0, 0, 0.0f, 0.0f},
     {{DOWN, {100, 100}, Press(100, 100), {}},
      {DOWN, {150, 150}, {Mv(150, 150)}, {}},
      {DOWN, {100, 10}, {Mv(100, 10)}, {}},
      {DOWN, {200, 20}, {Mv(150, 15)}, {}},
      {DOWN, {300, 30}, {Mv(225, 22)}, {}},
      {DOWN, {300, 30}, {Mv(256, 25)}, {}}}},
    // The two-stage filter ignores the weights; its first point passes, the
    // second stage starts with the next one, and a release resets both.
    {"TwoStageFilter", MA3, {0, 0, 0.5f, 0.5f},
     {{DOWN, {50, 50}, Press(50, 50), {}},
      {DOWN, {100, 100}, {Mv(100, 100)}, {}},
      {DOWN, {200, 200}, {Mv(120, 120)}, {}},
      {DOWN, {200, 200}, {Mv(128, 128)}, {}},
      {UP, {200, 200}, {"lup"}, {}},
      {DOWN, {10, 10}, Press(10, 10), {}},
      {DOWN, {20, 30}, {Mv(20, 30)}, {}},
      {DOWN, {30, 40}, {Mv(22, 32)}, {}}}},
    {"MouseAction3Codes", MA3, {10, 5, 0.5f, 0.5f},
     {{REPRESS, {1, 2}, {}, {}},
      {UP, {1, 2}, {}, {}},
      {RCLICK, {5, 5}, RIGHT_CLICK, {}},
      {LCLICK, {5, 5}, {"ldown", "lup"}, {}},
      {MOVE, {7, 8}, {Mv(7, 8)}, {}},
      {DOWN, {1, 1}, Press(1, 1), {}},
      {REPRESS, {1, 1}, {}, {}},
      {6, {1, 1}, {}, {}},
      {UP, {1, 1}, {"lup"}, {}}}},
    // The release goes to the last position sent, not to the release point.
    {"DualTrack", DUAL, {0, 0, 0.5f, 0.5f},
     {{DOWN, {100, 100}, {}, {Rec(1, 100, 100), Rec(0, 100, 100)}},
      {DOWN, {110, 100}, {}, {Rec(1, 105, 100)}},
      {DOWN, {110, 100}, {}, {Rec(1, 107, 100)}},
      {UP, {200, 200}, {}, {Rec(2, 107, 100)}}}},
    {"DualBothWeightsZeroTakePointAsIs", DUAL, {0, 0, 0.0f, 0.0f},
     {{DOWN, {100, 100}, {}, {Rec(1, 100, 100), Rec(0, 100, 100)}},
      {DOWN, {110, 120}, {}, {Rec(1, 110, 120)}}}},
    {"DualCodes", DUAL, {10, 5, 0.5f, 0.5f},
     {{UP, {1, 2}, {}, {}},
      {RCLICK, {1, 2}, {}, {}},
      {LCLICK, {5, 6}, {}, {Rec(0, 5, 6), Rec(2, 5, 6)}},
      {MOVE, {7, 8}, {}, {Rec(1, 7, 8)}},
      {REPRESS, {7, 8}, {}, {}},
      {7, {7, 8}, {}, {}}}},
};

using StepsTest = EngineTest<StepsCase>;

TEST_P(StepsTest, PostsAndSends)
{
    const StepsCase& c = GetParam();
    m_engine.Configure(c.settings);
    for (size_t i = 0; i < c.steps.size(); ++i) {
        const Step& s = c.steps[i];
        SCOPED_TRACE("step " + std::to_string(i) + " action " + std::to_string(s.action));
        Call(c.entry, s.pt, s.action);
        EXPECT_EQ(m_engine.Take(), s.ops);
        EXPECT_EQ(m_link.Take(), s.sends);
    }
}

INSTANTIATE_TEST_SUITE_P(Engine, StepsTest, ::testing::ValuesIn(STEPS_CASES),
                         CaseName<StepsCase>);

// ---------------------------------------------------------------------------
// Hold rule: LIMIT_MOVE 5; a report is still when it is within 4 pixels of the
// press point on both axes.

// n reports within the radius.
std::vector<wxPoint> Still(int n)
{
    static const wxPoint pattern[] = {{4, -4}, {-4, 4}, {0, 0}, {4, 4}, {-4, -4}};
    std::vector<wxPoint> v;
    for (int i = 0; i < n; ++i)
        v.push_back(pattern[i % 5]);
    return v;
}

// n reports exactly on the radius (not still).
std::vector<wxPoint> Edge(int n)
{
    static const wxPoint pattern[] = {{5, 0}, {0, -5}, {-5, 5}};
    std::vector<wxPoint> v;
    for (int i = 0; i < n; ++i)
        v.push_back(pattern[i % 3]);
    return v;
}

std::vector<wxPoint> operator+(std::vector<wxPoint> a, const std::vector<wxPoint>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct HoldCase
{
    const char* name;
    Entry entry;
    int limitCount;
    std::vector<wxPoint> offsets;  // of the reports after the press
    int clickAt;                   // 1-based report after the press; 0: none
};

void PrintTo(const HoldCase& c, std::ostream* os)
{
    *os << c.name;
}

const HoldCase HOLD_CASES[] = {
    // The twelfth report of the contact is its eleventh still one.
    {"MouseActionStill", MA, 10, Still(20), 11},
    {"VuStill", VU, 10, Still(20), 11},
    {"MouseAction3Still", MA3, 10, Still(20), 11},
    // Leaving the radius keeps the count.
    {"MouseActionLeaveAndReturn", MA, 10, Still(5) + Edge(3) + Still(10), 14},
    {"VuLeaveAndReturn", VU, 10, Still(5) + Edge(3) + Still(10), 14},
    {"MouseAction3LeaveAndReturn", MA3, 10, Still(5) + Edge(3) + Still(10), 14},
    // The still flag's cap of 16 does not stop the count.
    {"MouseActionCountPastCap", MA, 20, Still(25), 21},
    {"MouseActionLimitZeroIsOff", MA, 0, Still(30), 0},
    {"MouseActionNegativeLimitIsOff", MA, -1, Still(30), 0},
    {"VuLimitZeroIsOff", VU, 0, Still(30), 0},
    {"MouseAction3LimitZeroFirstStill", MA3, 0, Still(5), 1},
    {"MouseAction3LimitZeroAfterMoving", MA3, 0, Edge(2) + Still(3), 3},
};

using HoldTest = EngineTest<HoldCase>;

// Two contacts, each expected to right-click once at the same report.
TEST_P(HoldTest, RightClickOncePerContact)
{
    const HoldCase& c = GetParam();
    m_engine.Configure({c.limitCount, 5, 1.0f, 0.0f});
    const wxPoint press(200, 200);
    for (int contact = 0; contact < 2; ++contact) {
        Call(c.entry, press, DOWN);
        EXPECT_EQ(m_engine.Take(), Press(200, 200));
        wxPoint last = press;
        for (size_t i = 0; i < c.offsets.size(); ++i) {
            SCOPED_TRACE("contact " + std::to_string(contact) + " report "
                         + std::to_string(i + 1));
            last = press + c.offsets[i];
            Call(c.entry, last, DOWN);
            const Ops expected = static_cast<int>(i + 1) == c.clickAt ? RIGHT_CLICK : Ops{};
            EXPECT_EQ(Buttons(m_engine.Take()), expected);
        }
        // The release posts a left up even after the right click.
        Call(c.entry, last, UP);
        EXPECT_EQ(m_engine.Take(), Ops{"lup"});
    }
}

INSTANTIATE_TEST_SUITE_P(Engine, HoldTest, ::testing::ValuesIn(HOLD_CASES), CaseName<HoldCase>);

// ---------------------------------------------------------------------------
// Local double click: taps at (300 + dx, 300), each a press and a release at
// the same point, `dtMs` after the previous release.

struct Tap
{
    int dx;
    long long dtMs;
    bool strayUp = false;  // a release without a contact comes first
};

struct DoubleClickCase
{
    const char* name;
    Entry entry;
    std::vector<Tap> taps;
    std::vector<int> dblAt;  // 1-based taps whose release double-clicks
};

void PrintTo(const DoubleClickCase& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<Tap> Taps(int n, long long dtMs, bool strayUp = false)
{
    return std::vector<Tap>(n, Tap{0, dtMs, strayUp});
}

const DoubleClickCase DOUBLE_CLICK_CASES[] = {
    {"ThirdAndEverySecond", MA, Taps(7, 100), {3, 5, 7}},
    {"VuThirdAndEverySecond", VU, Taps(7, 100), {3, 5, 7}},
    {"MouseAction3Never", MA3, Taps(5, 100), {}},
    {"FourPixelsAway", MA, {{0, 100}, {0, 100}, {4, 100}}, {3}},
    // The counter restarts even when the test fails.
    {"FivePixelsAwayThenFifth", MA, {{0, 100}, {0, 100}, {5, 100}, {5, 100}, {5, 100}}, {5}},
    {"JustInTime", MA, {{0, 100}, {0, 100}, {0, 9999}}, {3}},
    {"TooLate", MA, {{0, 100}, {0, 100}, {0, 10000}}, {}},
    {"ClockWentBack", MA, {{0, 100}, {0, 100}, {0, -5000}}, {3}},
    {"StrayReleasesDoNotCount", MA, Taps(3, 100, true), {3}},
};

using DoubleClickTest = EngineTest<DoubleClickCase>;

TEST_P(DoubleClickTest, AtTheExpectedReleases)
{
    const DoubleClickCase& c = GetParam();
    m_engine.Configure({0, 5, 1.0f, 0.0f});
    for (size_t i = 0; i < c.taps.size(); ++i) {
        SCOPED_TRACE("tap " + std::to_string(i + 1));
        const Tap& t = c.taps[i];
        const wxPoint pt(300 + t.dx, 300);
        m_engine.Advance(t.dtMs);
        if (t.strayUp) {
            Call(c.entry, pt, UP);
            EXPECT_EQ(m_engine.Take(), Ops{});
        }
        Call(c.entry, pt, DOWN);
        EXPECT_EQ(m_engine.Take(), Press(pt.x, pt.y));
        Call(c.entry, pt, UP);
        const bool dbl = std::count(c.dblAt.begin(), c.dblAt.end(), static_cast<int>(i + 1)) > 0;
        EXPECT_EQ(m_engine.Take(), (dbl ? Ops{"dbl", "lup"} : Ops{"lup"}));
    }
}

INSTANTIATE_TEST_SUITE_P(Engine, DoubleClickTest, ::testing::ValuesIn(DOUBLE_CLICK_CASES),
                         CaseName<DoubleClickCase>);

// ---------------------------------------------------------------------------
// VU filter: every tenth sample decides whether the pen stayed within 19
// pixels of where it was nine samples before; while it has, only every fourth
// report moves the pointer.

struct VuSlowCase
{
    const char* name;
    wxPoint eleventh;             // the 11th report after the press
    std::vector<int> moving;      // reports 11..18 that move the pointer
    int probe;                    // a report whose move is checked exactly
    std::string probeMove;
    std::vector<int> nextMoving;  // reports 2..5 of the next contact that move
};

void PrintTo(const VuSlowCase& c, std::ostream* os)
{
    *os << c.name;
}

// Compared with the 2nd report, (180, 200).
const VuSlowCase VU_SLOW_CASES[] = {
    {"StayedWithin19", {199, 219}, {14, 18}, 14, Mv(199, 209), {5}},
    {"MovedBy20", {200, 200}, {11, 12, 13, 14, 15, 16, 17, 18}, 11, Mv(199, 200), {2, 3, 4, 5}},
    {"MovedBy20Vertically", {180, 220}, {11, 12, 13, 14, 15, 16, 17, 18}, 11, Mv(189, 210),
     {2, 3, 4, 5}},
};

using VuSlowTest = EngineTest<VuSlowCase>;

// Press at (100, 100), report 1 at (150, 150), report 2 at (180, 200), then
// (200, 200) up to report 18 except the 11th. The slow flag outlives the
// contact; the rest of the filter starts again.
TEST_P(VuSlowTest, MovesOnlyEveryFourthReportWhileSlow)
{
    const VuSlowCase& c = GetParam();
    m_engine.Configure({0, 0, 0.0f, 0.0f});
    const wxPoint rest(200, 200);
    m_engine.VUMouseAction(wxPoint(100, 100), DOWN);
    m_engine.VUMouseAction(wxPoint(150, 150), DOWN);
    EXPECT_EQ(Buttons(m_engine.Take()), Ops{"ldown"});
    for (int r = 2; r <= 18; ++r) {
        SCOPED_TRACE("report " + std::to_string(r));
        m_engine.VUMouseAction(r == 2 ? wxPoint(180, 200) : r == 11 ? c.eleventh : rest, DOWN);
        const Ops ops = m_engine.Take();
        const bool moves = r <= 10
            || std::count(c.moving.begin(), c.moving.end(), r) > 0;
        EXPECT_EQ(ops.size(), moves ? 1u : 0u);
        if (r == c.probe) {
            EXPECT_EQ(ops, Ops{c.probeMove});
        }
    }
    m_engine.VUMouseAction(rest, UP);
    EXPECT_EQ(m_engine.Take(), Ops{"lup"});

    m_engine.VUMouseAction(wxPoint(100, 100), DOWN);
    m_engine.VUMouseAction(wxPoint(150, 150), DOWN);
    EXPECT_EQ(m_engine.Take(), (Ops{Mv(100, 100), "ldown", Mv(150, 150)}));
    for (int r = 2; r <= 5; ++r) {
        SCOPED_TRACE("next contact report " + std::to_string(r));
        m_engine.VUMouseAction(rest, DOWN);
        const bool moves = std::count(c.nextMoving.begin(), c.nextMoving.end(), r) > 0;
        EXPECT_EQ(m_engine.Take().size(), moves ? 1u : 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Engine, VuSlowTest, ::testing::ValuesIn(VU_SLOW_CASES),
                         CaseName<VuSlowCase>);

TEST(BezierMiddle, LargerCoordinateOrOneLess)
{
    struct Row
    {
        wxPoint a, b, out;
    };
    const Row rows[] = {
        {{0, 0}, {10, 20}, {10, 20}},
        {{6, 2}, {3, 9}, {5, 8}},       // both halves drop a remainder
        {{1, 4}, {4, 1}, {3, 3}},
        {{-3, -5}, {3, -2}, {3, -2}},   // halves truncate toward zero
        {{-4, 7}, {-1, 7}, {-1, 7}},
        {{-5, -8}, {-2, -1}, {-2, -1}},
    };
    for (const Row& r : rows) {
        wxPoint out(12345, 12345);
        CRecordingMouseCtrl::Bezier_middle(out, r.a, r.b);
        EXPECT_EQ(out, r.out) << "a (" << r.a.x << "," << r.a.y << ") b (" << r.b.x << ","
                              << r.b.y << ")";
    }
}

TEST(TwoStageFilter, ResetGivesOriginAndRestartsBothStages)
{
    EXPECT_EQ(CRecordingMouseCtrl::mouseProc(-1, -1), wxPoint(0, 0));
    EXPECT_EQ(CRecordingMouseCtrl::mouseProc(100, 100), wxPoint(100, 100));
    EXPECT_EQ(CRecordingMouseCtrl::mouseProc(200, 200), wxPoint(120, 120));
    EXPECT_EQ(CRecordingMouseCtrl::mouseProc(200, 200), wxPoint(128, 128));
    EXPECT_EQ(CRecordingMouseCtrl::mouseProc(-5, 300), wxPoint(0, 0));
    EXPECT_EQ(CRecordingMouseCtrl::mouseProc(40, 60), wxPoint(40, 60));
    // First stage trunc(8 + 32) = 40, trunc(12 + 48) = 60; the second stage
    // takes its first point as it is.
    EXPECT_EQ(CRecordingMouseCtrl::mouseProc(40, 60), wxPoint(40, 60));
    CRecordingMouseCtrl::mouseProc(-1, -1);
}

// ---------------------------------------------------------------------------
// Second user: LIMIT_MOVE 5 (presses within 20 pixels on both axes make a
// double click), weights 1/0. A tap is a press, `still` reports at one pixel
// from it, and a release at the last report, `dtMs` after the previous tap.

struct DualTap
{
    wxPoint press;
    int still;
    long long dtMs;
    bool dbl;
};

struct DualCase
{
    const char* name;
    int limitCount;
    std::vector<DualTap> taps;
};

void PrintTo(const DualCase& c, std::ostream* os)
{
    *os << c.name;
}

const wxPoint P(300, 300);

const DualCase DUAL_CASES[] = {
    {"QuickTapsRepeat", 0, {{{300, 300}, 1, 0, false}, {{302, 300}, 1, 100, true},
                            {{301, 302}, 1, 100, true}}},
    {"FirstTapNotStill", 0, {{P, 0, 0, false}, {P, 1, 100, false}}},
    // A tap without a still report leaves the previous tap's time and place.
    {"SingleReportTapIsSkipped", 0, {{P, 1, 0, false}, {P, 0, 100, false}, {P, 1, 100, true}}},
    {"JustInTime", 0, {{P, 1, 0, false}, {P, 1, 499, true}}},
    {"TooLate", 0, {{P, 1, 0, false}, {P, 1, 500, false}}},
    {"ClockWentBack", 0, {{P, 1, 0, false}, {P, 1, -1000, true}}},
    {"PressesNineteenApart", 0, {{{300, 300}, 1, 0, false}, {{319, 300}, 1, 100, true}}},
    {"PressesTwentyApartAcross", 0, {{{300, 300}, 1, 0, false}, {{320, 300}, 1, 100, false}}},
    {"PressesTwentyApartDown", 0, {{{300, 300}, 1, 0, false}, {{300, 320}, 1, 100, false}}},
    {"TwentyStillReports", 0, {{P, 20, 0, false}, {P, 20, 100, true}}},
    {"TwentyOneStillReportsAreAHold", 0, {{P, 1, 0, false}, {P, 21, 100, false}}},
    // The hold restarts the count, so it never reaches the cap of 21.
    {"HoldLimitRestartsTheCount", 5, {{P, 1, 0, false}, {P, 21, 100, true}}},
};

using DualTapTest = EngineTest<DualCase>;

TEST_P(DualTapTest, SendsTheTapsRecords)
{
    const DualCase& c = GetParam();
    m_engine.Configure({c.limitCount, 5, 1.0f, 0.0f});
    for (size_t i = 0; i < c.taps.size(); ++i) {
        SCOPED_TRACE("tap " + std::to_string(i + 1));
        const DualTap& t = c.taps[i];
        m_engine.Advance(t.dtMs);
        Ops expected = {Rec(1, t.press.x, t.press.y), Rec(0, t.press.x, t.press.y)};
        m_engine.DualMouseAction(t.press, DOWN);
        wxPoint last = t.press;
        for (int k = 0; k < t.still; ++k) {
            last = t.press + wxPoint(1, 1);
            m_engine.DualMouseAction(last, DOWN);
            expected.push_back(Rec(1, last.x, last.y));
        }
        m_engine.DualMouseAction(last, UP);
        expected.push_back(Rec(2, last.x, last.y));
        if (t.dbl)
            expected.push_back(Rec(3, last.x, last.y));
        EXPECT_EQ(m_link.Take(), expected);
        EXPECT_EQ(m_engine.Take(), Ops{});
    }
}

INSTANTIATE_TEST_SUITE_P(Engine, DualTapTest, ::testing::ValuesIn(DUAL_CASES), CaseName<DualCase>);

TEST(DualLink, TwoQuickTapsSendPressMoveReleaseThenDoubleClick)
{
    CRecordingLink link;
    CRecordingMouseCtrl engine;
    engine.Configure({0, 5, 1.0f, 0.0f});
    engine.SetDualLink(&link);
    std::vector<int> codes;
    for (int tap = 0; tap < 2; ++tap) {
        engine.Advance(200);
        engine.DualMouseAction(wxPoint(400, 300), DOWN);
        engine.DualMouseAction(wxPoint(402, 301), DOWN);
        engine.DualMouseAction(wxPoint(402, 301), UP);
    }
    for (const std::string& r : link.Take())
        codes.push_back(std::atoi(r.c_str()));
    EXPECT_EQ(codes, (std::vector<int>{1, 0, 1, 2, 1, 0, 1, 2, 3}));
}

// The time of the last release is shared with the local contact, the still
// flag of the previous tap is not: a local release alone does not make the
// next tap a double click, but it restarts the time of the one after.
TEST(DualLink, ReleaseTimeIsSharedWithTheLocalContact)
{
    CRecordingLink link;
    CRecordingMouseCtrl engine;
    engine.Configure({0, 5, 1.0f, 0.0f});
    engine.SetDualLink(&link);
    auto localTap = [&engine] {
        engine.MouseAction(wxPoint(900, 900), DOWN);
        engine.MouseAction(wxPoint(900, 900), UP);
    };
    // Near the origin, where the previous press point starts out.
    auto dualTap = [&engine, &link] {
        engine.DualMouseAction(wxPoint(10, 10), DOWN);
        engine.DualMouseAction(wxPoint(11, 11), DOWN);
        engine.DualMouseAction(wxPoint(11, 11), UP);
        return link.Take().back();
    };
    localTap();
    engine.Advance(100);
    EXPECT_EQ(dualTap(), Rec(2, 11, 11));
    engine.Advance(600);
    localTap();
    engine.Advance(100);
    EXPECT_EQ(dualTap(), Rec(3, 11, 11));
    EXPECT_EQ(engine.Take(), (Ops{Mv(900, 900), "ldown", "lup", Mv(900, 900), "ldown", "lup"}));
}

// Without a link nothing is sent, but the contact is still followed: the tap
// made while no link was set counts for the next one.
TEST(DualLink, MissingLinkDropsRecordsOnly)
{
    CRecordingLink link;
    CRecordingMouseCtrl engine;
    engine.Configure({0, 5, 1.0f, 0.0f});
    engine.DualMouseAction(P, DOWN);
    engine.DualMouseAction(P + wxPoint(1, 1), DOWN);
    engine.DualMouseAction(P + wxPoint(1, 1), UP);

    engine.SetDualLink(&link);
    engine.Advance(100);
    engine.DualMouseAction(P, DOWN);
    engine.DualMouseAction(P + wxPoint(1, 1), DOWN);
    engine.DualMouseAction(P + wxPoint(1, 1), UP);
    EXPECT_EQ(link.Take(), (Ops{Rec(1, 300, 300), Rec(0, 300, 300), Rec(1, 301, 301),
                                Rec(2, 301, 301), Rec(3, 301, 301)}));

    engine.SetDualLink(nullptr);
    engine.DualMouseAction(P, DOWN);
    engine.DualMouseAction(P, UP);
    EXPECT_EQ(link.Take(), Ops{});
    EXPECT_EQ(engine.Take(), Ops{});
}

// ---------------------------------------------------------------------------
// The default pause and clock.

TEST(DefaultTime, RealClockAndPause)
{
    CRecordingMouseCtrl engine;
    engine.Configure({0, 5, 1.0f, 0.0f});
    engine.UseRealTime();
    for (int tap = 1; tap <= 3; ++tap) {
        engine.MouseAction(P, DOWN);
        engine.MouseAction(P, UP);
    }
    EXPECT_EQ(engine.Take(), (Ops{Mv(300, 300), "ldown", "lup", Mv(300, 300), "ldown", "lup",
                                  Mv(300, 300), "ldown", "dbl", "lup"}));

    const auto start = std::chrono::steady_clock::now();
    engine.MouseAction(P, RCLICK);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(engine.Take(), (Ops{"lup", "rdown", "rup"}));
    EXPECT_GE(elapsed, std::chrono::microseconds(1000));
}

// ---------------------------------------------------------------------------
// Settings: <section>/Constants of Config/config.xml in the working folder.

class TempWorkDir
{
public:
    TempWorkDir()
    {
        const char* base = getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/skribptr.XXXXXX";
        if (mkdtemp(&tmpl[0]))
            m_path = tmpl;
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd))
            m_oldCwd = cwd;
    }
    ~TempWorkDir()
    {
        if (!m_oldCwd.empty() && chdir(m_oldCwd.c_str()) != 0)
            ADD_FAILURE() << "cannot return to " << m_oldCwd;
        std::error_code ec;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ec);
    }
    bool Enter() const { return !m_path.empty() && !m_oldCwd.empty() && chdir(m_path.c_str()) == 0; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    std::string m_oldCwd;
};

struct ConfigCase
{
    const char* name;
    const char* section;   // the engine's name
    std::string ziwBody;   // children of SkribWorkZIW
    Settings expected;
};

void PrintTo(const ConfigCase& c, std::ostream* os)
{
    *os << c.name;
}

std::string Constants(const std::string& attributes)
{
    return "<Constants " + attributes + " />";
}

const ConfigCase CONFIG_CASES[] = {
    {"AllValues", "SkribWorkZIW",
     Constants("LIMIT_COUNT=\"10\" LIMIT_MOVE=\"5\" RC1=\"0.75\" RC2=\"0.25\""),
     {10, 5, 0.75f, 0.25f}},
    {"OwnSection", "SkribWorkVU",
     Constants("LIMIT_COUNT=\"10\" LIMIT_MOVE=\"5\" RC1=\"0.75\" RC2=\"0.25\""),
     {33, 4, 0.5f, 0.125f}},
    {"AttributesMissing", "SkribWorkZIW", Constants(""), {0, 0, 0.0f, 0.0f}},
    {"ElementMissing", "SkribWorkZIW", "<Flag LIMIT_COUNT=\"10\" />", {0, 0, 0.0f, 0.0f}},
    {"SectionMissing", "SkribWorkNE", Constants("LIMIT_COUNT=\"10\""), {0, 0, 0.0f, 0.0f}},
    {"WeightsWithBlankAndSign", "SkribWorkZIW", Constants("RC1=\" 0.5\" RC2=\"+0.125\""),
     {0, 0, 0.5f, 0.125f}},
    {"WeightsWithTrailingTextAndExponent", "SkribWorkZIW",
     Constants("RC1=\"0.5abc\" RC2=\"1e-1\""), {0, 0, 0.5f, 0.1f}},
    {"WeightsNotNumbers", "SkribWorkZIW",
     Constants("LIMIT_COUNT=\"abc\" RC1=\"abc\" RC2=\"\""), {0, 0, 0.0f, 0.0f}},
    // Only 19 characters of a weight are read.
    {"WeightTextCutAt19", "SkribWorkZIW",
     Constants("RC1=\"" + std::string(19, '0') + "1.5\" RC2=\"" + std::string(18, '0') + "2.5\""),
     {0, 0, 0.0f, 2.0f}},
};

class ReadConfigTest : public ::testing::TestWithParam<ConfigCase>
{
};

TEST_P(ReadConfigTest, ReadsOrZeroes)
{
    const ConfigCase& c = GetParam();
    TempWorkDir dir;
    ASSERT_FALSE(dir.Path().empty());
    std::filesystem::create_directory(dir.Path() + "/Config");
    {
        std::ofstream out(dir.Path() + "/Config/config.xml");
        out << "<?xml version=\"1.0\" ?>\n<Config>\n"
            << "<SkribWorkZIW>" << c.ziwBody << "</SkribWorkZIW>\n"
            << "<SkribWorkVU>"
            << Constants("LIMIT_COUNT=\"33\" LIMIT_MOVE=\"4\" RC1=\"0.5\" RC2=\"0.125\"")
            << "</SkribWorkVU>\n</Config>\n";
        ASSERT_TRUE(out.good());
    }
    ASSERT_TRUE(dir.Enter());

    CRecordingMouseCtrl engine(wxString::FromUTF8(c.section));
    engine.Configure({99, 99, 9.0f, 9.0f});
    engine.ReadConfig();
    const Settings s = engine.Current();
    EXPECT_EQ(s.limitCount, c.expected.limitCount);
    EXPECT_EQ(s.limitMove, c.expected.limitMove);
    EXPECT_FLOAT_EQ(s.rc1, c.expected.rc1);
    EXPECT_FLOAT_EQ(s.rc2, c.expected.rc2);
}

INSTANTIATE_TEST_SUITE_P(Engine, ReadConfigTest, ::testing::ValuesIn(CONFIG_CASES),
                         CaseName<ConfigCase>);

} // namespace
