// The calibration application: its targets from a table, and the program on
// a private X server, served by a settings server in this process whose
// stand-in for the board's work thread answers "fin" as the collector would.
#include "OrientTargets.h"
#include "ServerHarness.h"
#include "XHelpers.h"

#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <csignal>
#include <thread>

namespace {

TEST(OrientTargetsTest, FollowTheConversionGridColumnByColumn)
{
    struct Case
    {
        int count, width, height;
        std::vector<wxPoint> targets;
    } cases[] = {
        {4, 1440, 900, {{57, 36}, {57, 864}, {1382, 36}, {1382, 864}}},
        {9,
         1440,
         900,
         {{57, 36}, {57, 450}, {57, 864}, {720, 36}, {720, 450}, {720, 864}, {1382, 36}, {1382, 450}, {1382, 864}}},
        {12,
         1280,
         800,
         {{51, 32}, {51, 400}, {51, 768}, {443, 32}, {443, 400}, {443, 768},
          {836, 32}, {836, 400}, {836, 768}, {1228, 32}, {1228, 400}, {1228, 768}}},
        {5, 1280, 800, {}},
        {30, 1280, 800, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.targets, OrientTargets(c.count, c.width, c.height)) << c.count;

    const std::vector<wxPoint> twenty = OrientTargets(20, 1280, 800);
    ASSERT_EQ(20u, twenty.size());
    EXPECT_EQ(wxPoint(51, 32), twenty.front());
    EXPECT_EQ(wxPoint(51, 277), twenty[1]); // 0.92 * 800 / 3 + 32, truncated
    EXPECT_EQ(wxPoint(345, 32), twenty[4]); // second column: 0.92 * 1280 / 4 + 51.2
    EXPECT_EQ(wxPoint(1228, 768), twenty.back());
}

const int kWidth = 1280, kHeight = 800;

class OrientAppTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_xvfb.Start(kWidth, kHeight));
        m_display = OpenDisplay(m_xvfb.Display());
        ASSERT_NE(nullptr, m_display);
    }

    void TearDown() override
    {
        if (m_display)
            CloseDisplay(m_display);
    }

    bool StartOrient(CChildProcess& orient, int points, const std::string& name)
    {
        return h.StartChild(orient,
                            {ORIENT_APP_EXE, "--workdir", h.workDir, "--points", std::to_string(points)}, name,
                            {{"DISPLAY", m_xvfb.Display()}, {"WAYLAND_DISPLAY", ""}, {"LANG", "C"}, {"LC_ALL", ""}});
    }

    bool RedAt(const wxPoint& p)
    {
        unsigned long rgb = 0;
        return ScreenPixel(m_display, p.x, p.y, rgb) && rgb == 0xFF0000;
    }

    // Waits, serving the application, until the target is drawn.
    bool WaitTarget(const wxPoint& p) { return h.PumpUntil([&] { return RedAt(p); }); }

    // As the collector does after a point, from the work thread.
    void Fin()
    {
        std::thread work([this] { h.server->Advise("fin"); });
        work.join();
    }

    void PressEscape(CChildProcess& orient)
    {
        XWindowInfo window;
        ASSERT_TRUE(h.PumpUntil([&] { return FindViewableWindowOfProcess(m_display, orient.Pid(), window); }));
        PressKeyOver(m_display, window, XK_Escape);
    }

    int OrientPid() { return ReadPidEntry(h.workDir, "Orient"); }

    CXvfb m_xvfb;
    Display* m_display = nullptr;
    CServerHarness h;
};

TEST_F(OrientAppTest, ShowsEachTargetWhereTheConversionExpectsItUntilComplete)
{
    ASSERT_TRUE(h.Start());
    CChildProcess orient;
    ASSERT_TRUE(StartOrient(orient, 4, "orient"));
    ASSERT_TRUE(h.WaitNotes(1)) << h.Output("orient");
    EXPECT_EQ(Note(NOTIFY_ORIENT_START, 4), h.notes[0]);
    EXPECT_EQ(orient.Pid(), OrientPid());

    const std::vector<wxPoint> targets = OrientTargets(4, kWidth, kHeight);
    for (size_t k = 0; k < targets.size(); ++k) {
        ASSERT_TRUE(WaitTarget(targets[k])) << "target " << k << "\n" << h.Output("orient");
        for (size_t other = 0; other < targets.size(); ++other) {
            if (other != k) {
                EXPECT_FALSE(RedAt(targets[other])) << "target " << other << " shown with " << k;
            }
        }
        Fin();
    }
    EXPECT_EQ(0, h.WaitExit(orient)) << h.Output("orient");
    EXPECT_NE(std::string::npos, h.Output("orient").find("target 1 of 4 at (51, 32)\n"
                                                         "point 1 of 4 done\n"
                                                         "target 2 of 4 at (51, 768)\n"
                                                         "point 2 of 4 done\n"
                                                         "target 3 of 4 at (1228, 32)\n"
                                                         "point 3 of 4 done\n"
                                                         "target 4 of 4 at (1228, 768)\n"
                                                         "point 4 of 4 done\n"
                                                         "calibration complete\n"))
        << h.Output("orient");
    EXPECT_EQ(0, OrientPid());
    // Complete: the run was not stopped, only the connection closed.
    ASSERT_TRUE(h.WaitNotes(3));
    const std::vector<Note> expected = {{NOTIFY_ORIENT_START, 4}, {NOTIFY_ORIENT_END, 0}, {NOTIFY_DRIVERSET_DATA, 0}};
    EXPECT_EQ(expected, h.notes);
}

TEST_F(OrientAppTest, EscapeAndInterruptStopTheRunSoThatTheDriverDiscardsIt)
{
    ASSERT_TRUE(h.Start());
    const std::vector<wxPoint> targets = OrientTargets(9, kWidth, kHeight);
    for (bool escape : {true, false}) {
        const std::string name = escape ? "escape" : "sigint";
        h.notes.clear();
        CChildProcess orient;
        ASSERT_TRUE(StartOrient(orient, 9, name));
        ASSERT_TRUE(WaitTarget(targets[0])) << h.Output(name);
        Fin();
        ASSERT_TRUE(WaitTarget(targets[1])) << h.Output(name);
        EXPECT_EQ(orient.Pid(), OrientPid());

        if (escape)
            PressEscape(orient);
        else
            orient.Signal(SIGINT);
        EXPECT_EQ(0, h.WaitExit(orient)) << name << "\n" << h.Output(name);
        EXPECT_NE(std::string::npos, h.Output(name).find("calibration abandoned after 1 of 9 points")) << name;
        EXPECT_EQ(0, OrientPid()) << name;
        ASSERT_TRUE(h.WaitNotes(4)) << name;
        const std::vector<Note> expected = {
            {NOTIFY_ORIENT_START, 9}, {NOTIFY_ORIENT_END, 0}, {NOTIFY_ORIENT_END, 0}, {NOTIFY_DRIVERSET_DATA, 0}};
        EXPECT_EQ(expected, h.notes) << name;
    }
}

TEST_F(OrientAppTest, SaysWhyWhenItCannotCalibrate)
{
    struct Case
    {
        const char* name;
        bool server;
        const char* text;
        int exitCode;
    } cases[] = {
        {"no-driver", false, "the driver is not running", 2},
        {"no-board", true, "no board is active", 4},
    };
    for (const Case& c : cases) {
        if (c.server) {
            ASSERT_TRUE(h.Start());
            h.boardActive = false;
        }
        CChildProcess orient;
        ASSERT_TRUE(StartOrient(orient, 4, c.name));
        ASSERT_TRUE(h.WaitOutput(c.name, c.text)) << h.Output(c.name);
        EXPECT_TRUE(orient.Running()) << "the message stays until Esc or its time-out";
        EXPECT_EQ(orient.Pid(), OrientPid());
        PressEscape(orient);
        EXPECT_EQ(c.exitCode, h.WaitExit(orient)) << h.Output(c.name);
        EXPECT_EQ(0, OrientPid());
        if (c.server) {
            EXPECT_TRUE(h.notes.empty()) << "a refused start notifies nothing";
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    return RunTestsInConsoleApp(argc, argv);
}
