// The real-kernel test's own logic, on the host: the pointer as a reader of
// its event node reconstructs it, and the expected pointer built from the
// driver's engine.
#include "PointerFrames.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace {

input_event Ev(unsigned short type, unsigned short code, int value)
{
    input_event e{};
    e.type = type;
    e.code = code;
    e.value = value;
    return e;
}

const input_event kSyn = Ev(EV_SYN, SYN_REPORT, 0);

PointerFrame F(int x, int y, bool left = false, bool right = false)
{
    PointerFrame f;
    f.x = x;
    f.y = y;
    f.left = left;
    f.right = right;
    return f;
}

TEST(PointerTrack, OneFramePerReportWithTheStateSoFar)
{
    struct Case
    {
        const char* name;
        PointerFrame start;
        std::vector<input_event> events;
        std::vector<PointerFrame> frames;
    };
    const Case cases[] = {
        {"move then press", F(0, 0),
         {Ev(EV_ABS, ABS_X, 10), Ev(EV_ABS, ABS_Y, 20), kSyn, Ev(EV_KEY, BTN_LEFT, 1), kSyn},
         {F(10, 20), F(10, 20, true)}},
        // The kernel leaves out an axis that did not change.
        {"one axis changed", F(5, 7, true), {Ev(EV_ABS, ABS_Y, 9), kSyn}, {F(5, 9, true)}},
        {"right click", F(1, 1), {Ev(EV_KEY, BTN_RIGHT, 1), kSyn, Ev(EV_KEY, BTN_RIGHT, 0), kSyn},
         {F(1, 1, false, true), F(1, 1)}},
        {"other events change nothing", F(3, 3),
         {Ev(EV_MSC, MSC_SCAN, 1), Ev(EV_ABS, ABS_PRESSURE, 5), Ev(EV_KEY, KEY_A, 1), kSyn}, {F(3, 3)}},
        {"no boundary, no frame", F(0, 0), {Ev(EV_ABS, ABS_X, 4)}, {}},
    };
    for (const Case& c : cases) {
        CPointerTrack track(c.start);
        for (const input_event& e : c.events)
            track.Feed(e);
        EXPECT_EQ(ToString(track.Frames()), ToString(c.frames)) << c.name;
        EXPECT_FALSE(track.Dropped()) << c.name;
    }
}

TEST(PointerTrack, LostEventsAreNoted)
{
    CPointerTrack track;
    track.Feed(Ev(EV_SYN, SYN_DROPPED, 0));
    EXPECT_TRUE(track.Dropped());
}

TEST(PointerTrack, CollapseDropsWhatTheKernelWouldNotPassOn)
{
    const std::vector<PointerFrame> frames = {F(0, 0), F(4, 4), F(4, 4), F(4, 4, true), F(4, 4, true), F(0, 0)};
    EXPECT_EQ(ToString(Collapse(frames, F(0, 0))), ToString({F(4, 4), F(4, 4, true), F(0, 0)}));
    EXPECT_TRUE(Collapse({F(2, 2)}, F(2, 2)).empty());
}

// The engine's operations become frames as the uinput engine reports them:
// one per operation, three for the second click of a double click.
TEST(ExpectedPointer, OperationsBecomeFrames)
{
    CWorkingFolder folder; // the shipped settings: filter 0.75 / 0.25
    ASSERT_FALSE(folder.Path().empty());
    CExpectedPointer engine("SkribWorkZIW");
    engine.MouseAction(wxPoint(100, 200), MOUSE_ACTION_DOWN);
    engine.MouseAction(wxPoint(200, 200), MOUSE_ACTION_DOWN);
    engine.MouseAction(wxPoint(200, 200), MOUSE_ACTION_UP);
    EXPECT_EQ(ToString(engine.Take()),
              ToString({F(100, 200), F(100, 200, true), F(175, 200, true), F(175, 200)}));

    // Two more taps at one spot: the third release of a series brings the
    // double click (up, down, up) before its own release.
    for (int i = 0; i < 2; ++i) {
        engine.MouseAction(wxPoint(175, 200), MOUSE_ACTION_DOWN);
        engine.MouseAction(wxPoint(175, 200), MOUSE_ACTION_UP);
    }
    const PointerFrame up = F(175, 200), down = F(175, 200, true);
    EXPECT_EQ(ToString(engine.Take()), ToString({up, down, up, up, down, up, down, up, up}));
    EXPECT_EQ(engine.State(), up);
}

} // namespace
