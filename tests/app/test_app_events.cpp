// The application hub inside a GUI application on a private X server: the
// event table, the one-shot timers and the do-not-touch dialog.
#include "MyDialog.h"
#include "SkribApp.h"
#include "TestSupport.h"
#include "XHelpers.h"

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/stattext.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class TestApp : public wxApp
{
public:
    bool OnInit() override { return true; }
};

class AppEventsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_workDir = MakeWorkDir();
        m_lockDir = MakeTempDir();
        CSkribOptions options;
        options.workDir = m_workDir;
        options.lockDir = m_lockDir;
        m_app.reset(new CSkribApp(options));
        ASSERT_TRUE(m_app->OnInit());
        m_activator.reset(new wxEventLoopActivator(&m_loop));
        m_app->Bind(wxEVT_TIMER, [this](wxTimerEvent& event) {
            m_expiries.push_back({event.GetId(), Clock::now()});
            event.Skip();
        });
    }

    void TearDown() override
    {
        m_app.reset();
        m_activator.reset();
        RemoveTree(m_workDir);
        RemoveTree(m_lockDir);
    }

    // Runs the event loop until `condition` holds or the deadline passes.
    bool PumpUntil(const std::function<bool()>& condition, int timeoutMs)
    {
        Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            wxTheApp->ProcessPendingEvents();
            wxTheApp->ProcessIdle();
            if (condition())
                return true;
            if (Clock::now() >= deadline)
                return false;
            m_loop.DispatchTimeout(5);
        }
    }

    void PumpFor(int ms)
    {
        Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
        PumpUntil([&] { return Clock::now() >= end; }, ms + 1000);
    }

    struct Expiry
    {
        int id;
        Clock::time_point when;
    };

    std::string m_workDir, m_lockDir;
    std::unique_ptr<CSkribApp> m_app;
    wxGUIEventLoop m_loop;
    std::unique_ptr<wxEventLoopActivator> m_activator;
    std::vector<Expiry> m_expiries;
};

TEST_F(AppEventsTest, EachTimerEventStartsItsOneShotTimer)
{
    struct Case
    {
        Event_Type type;
        int timerId;
        long intervalMs;
    } cases[] = {
        {EVENT_RELEASE_TIMER, 6004, 100},
        {EVENT_SIDEKEY_TIMER, 6005, 500},
        {EVENT_REPRESS_TIMER, 6006, 500},
        {EVENT_DUAL_RELEASE_TIMER, 6012, 100},
    };
    for (const Case& c : cases) {
        m_expiries.clear();
        Clock::time_point posted = Clock::now();
        ASSERT_TRUE(m_app->CreateEvent(c.type));
        ASSERT_TRUE(PumpUntil([&] { return !m_expiries.empty(); }, 5000)) << c.timerId;
        long elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(m_expiries[0].when - posted).count();
        EXPECT_EQ(c.timerId, m_expiries[0].id);
        EXPECT_GE(elapsed, c.intervalMs - 2) << c.timerId;
        EXPECT_LT(elapsed, c.intervalMs + 300) << c.timerId;
        PumpFor(static_cast<int>(c.intervalMs) + 50);
        EXPECT_EQ(1u, m_expiries.size()) << "one-shot timer " << c.timerId << " fired again";
    }
}

TEST_F(AppEventsTest, ReleaseTimerPostedTwiceFiresOnceAfterTheSecond)
{
    ASSERT_TRUE(m_app->CreateEvent(EVENT_RELEASE_TIMER));
    PumpFor(50);
    Clock::time_point second = Clock::now();
    ASSERT_TRUE(m_app->CreateEvent(EVENT_RELEASE_TIMER));
    ASSERT_TRUE(PumpUntil([&] { return !m_expiries.empty(); }, 5000));
    long elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(m_expiries[0].when - second).count();
    EXPECT_GE(elapsed, 98);
    EXPECT_LT(elapsed, 400);
    PumpFor(250);
    EXPECT_EQ(1u, m_expiries.size());
}

// The side-key window as the work thread sees it: open from the start
// request on, closed by the expiry; a window closed before the main thread
// handled its start event does not start the timer.
TEST_F(AppEventsTest, SidekeyWindowFollowsRequestsStopsAndExpiry)
{
    ASSERT_TRUE(m_app->CreateEvent(EVENT_SIDEKEY_TIMER));
    EXPECT_TRUE(m_app->IsSidekeyTimerRunning()) << "open before the main thread handled the event";
    ASSERT_TRUE(PumpUntil([&] { return !m_expiries.empty(); }, 5000));
    EXPECT_EQ(ID_TIMER_SIDEKEY, m_expiries[0].id);
    EXPECT_FALSE(m_app->IsSidekeyTimerRunning()) << "closed by the expiry";

    int starts = 0;
    m_app->Bind(wxEVT_MENU, [&](wxCommandEvent& event) {
        starts += event.GetId() == ID_START_SIDEKEY_TIMER;
        event.Skip();
    });
    m_expiries.clear();
    ASSERT_TRUE(m_app->CreateEvent(EVENT_SIDEKEY_TIMER));
    std::thread([&] { m_app->StopSidekeyTimer(); }).join(); // as the work thread does
    EXPECT_FALSE(m_app->IsSidekeyTimerRunning());
    ASSERT_TRUE(PumpUntil([&] { return starts == 1; }, 5000));
    EXPECT_FALSE(m_app->m_timerSidekey.IsRunning()) << "the start event came after the stop";
}

TEST_F(AppEventsTest, ValuesOutsideTheTablePostNothing)
{
    int commands = 0;
    m_app->Bind(wxEVT_MENU, [&](wxCommandEvent& event) {
        ++commands;
        event.Skip();
    });
    for (int type : {8, 9, 100, -1})
        EXPECT_FALSE(m_app->CreateEvent(type)) << type;
    // A valid event behind them: once it is handled, anything queued before
    // it has been handled too.
    ASSERT_TRUE(m_app->CreateEvent(EVENT_CLOSE_NOT_TOUCH));
    ASSERT_TRUE(PumpUntil([&] { return commands > 0; }, 5000));
    PumpFor(20);
    EXPECT_EQ(1, commands);
    EXPECT_TRUE(m_expiries.empty());
}

TEST_F(AppEventsTest, DoNotTouchDialogShowsReplacesAndCloses)
{
    Display* observer = OpenDisplay("");
    ASSERT_NE(nullptr, observer);
    int screenW = 0, screenH = 0;
    ScreenSize(observer, screenW, screenH);

    ASSERT_TRUE(m_app->CreateEvent(EVENT_SHOW_NOT_TOUCH));
    ASSERT_TRUE(PumpUntil([&] { return m_app->NotTouchDialog() && m_app->NotTouchDialog()->IsShown(); }, 5000));
    MyDialog* first = m_app->NotTouchDialog();

    // Seen by another X client: mapped, centred horizontally, a quarter down.
    XWindowInfo info;
    ASSERT_TRUE(PumpUntil([&] { return FindViewableWindow(observer, "dialog_1", info); }, 5000));
    EXPECT_EQ((screenW - info.width) / 2, info.x);
    EXPECT_EQ(screenH / 4, info.y);

    wxStaticText* text = first->Text();
    EXPECT_EQ("The whiteboard hardware is initialising, please do not touch the board......", text->GetLabel());
    EXPECT_EQ(14, text->GetFont().GetPointSize());
    EXPECT_EQ(text->GetSize().GetWidth() + 50, first->GetClientSize().GetWidth()) << "50-pixel right border";
    EXPECT_TRUE(first->HasFlag(wxSTAY_ON_TOP));
    EXPECT_TRUE(first->HasFlag(wxBORDER_NONE));

    // Showing again replaces the dialog.
    ASSERT_TRUE(m_app->CreateEvent(EVENT_SHOW_NOT_TOUCH));
    ASSERT_TRUE(PumpUntil([&] { return m_app->NotTouchDialog() != first && m_app->NotTouchDialog(); }, 5000));
    EXPECT_EQ(1u, wxTopLevelWindows.GetCount());

    ASSERT_TRUE(m_app->CreateEvent(EVENT_CLOSE_NOT_TOUCH));
    ASSERT_TRUE(PumpUntil([&] { return !m_app->NotTouchDialog() && wxTopLevelWindows.IsEmpty(); }, 5000));
    EXPECT_TRUE(PumpUntil([&] { return !FindViewableWindow(observer, "dialog_1", info); }, 5000));

    // Closing when none is shown neither waits nor fails.
    Clock::time_point start = Clock::now();
    m_app->StartNotTouchApp(false);
    EXPECT_LT(MsSince(start), 100);
    CloseDisplay(observer);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests needs no display.
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();

    CXvfb xvfb;
    if (!xvfb.Start()) {
        fprintf(stderr, "cannot start Xvfb\n");
        return 1;
    }
    setenv("DISPLAY", xvfb.Display().c_str(), 1);
    unsetenv("WAYLAND_DISPLAY");

    wxApp::SetInstance(new TestApp);
    int wxArgc = 1;
    if (!wxEntryStart(wxArgc, argv)) {
        fprintf(stderr, "cannot start the toolkit\n");
        return 1;
    }
    wxTheApp->CallOnInit();
    int result = RUN_ALL_TESTS();
    wxEntryCleanup();
    return result;
}
