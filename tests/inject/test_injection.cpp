// Pointer injection: XTest seen by a second X client on a private server,
// and the events that the uinput engine writes.
#include "Injection.h"
#include "MouseCtrlLinux.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include "XObserver.h" // after gtest: Xlib defines macros that gtest uses as names

#include <X11/Xlib.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

class XTestInjection : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_xvfb.Start(1440, 900));
        setenv("DISPLAY", m_xvfb.Display().c_str(), 1);
        m_observer.reset(new CObserver(m_xvfb.Display()));
        ASSERT_TRUE(m_observer->Ready());
        SetInjection(INJECT_AUTO, 0, 0);
        m_engine.reset(new CMouseCtrlXTest("SkribWorkZIW"));
        ASSERT_TRUE(m_engine->IsReady());
    }

    CXvfb m_xvfb;
    std::unique_ptr<CObserver> m_observer;
    std::unique_ptr<CMouseCtrlXTest> m_engine;
};

TEST_F(XTestInjection, ChosenForAnXDisplayWithItsScreenSize)
{
    std::string why;
    EXPECT_EQ(INJECT_XTEST, ResolveInjection(&why)) << why;
    int width = 0, height = 0;
    ASSERT_TRUE(InjectionScreenSize(width, height));
    EXPECT_EQ(1440, width);
    EXPECT_EQ(900, height);
}

TEST_F(XTestInjection, PressDragReleaseLandsWhereItShould)
{
    m_engine->MouseMove(100, 120);
    m_engine->LButtonDown();
    m_engine->MouseMove(300, 240);
    m_engine->MouseMove(1439, 899);
    m_engine->LButtonUp();
    std::vector<Seen> seen = m_observer->Collect(5, true);
    const std::vector<Seen> expected = {
        {MotionNotify, 0, 100, 120},        {ButtonPress, 1, 100, 120},       {MotionNotify, Button1Mask, 300, 240},
        {MotionNotify, Button1Mask, 1439, 899}, {ButtonRelease, 1, 1439, 899},
    };
    EXPECT_EQ(expected, seen);
}

TEST_F(XTestInjection, DoubleClickAndRightClickSequencesArriveInOrder)
{
    // A release that is preceded by the double click, then a right click by
    // holding still (left up, right down, right up), all at the last point.
    m_engine->MouseMove(500, 400);
    m_engine->LButtonDown();
    m_engine->LButtonDoubleClick();
    m_engine->LButtonUp();
    m_engine->MouseMove(700, 300);
    m_engine->LButtonDown();
    m_engine->LButtonUp();
    m_engine->RButton();
    m_engine->RButtonUp();
    // The release's own left up after the double click finds the button up
    // already: the X server sends no second release for it.
    std::vector<Seen> seen = m_observer->Collect(8, false);
    const std::vector<Seen> expected = {
        {ButtonPress, 1, 500, 400},   {ButtonRelease, 1, 500, 400}, {ButtonPress, 1, 500, 400},
        {ButtonRelease, 1, 500, 400}, {ButtonPress, 1, 700, 300},   {ButtonRelease, 1, 700, 300},
        {ButtonPress, 3, 700, 300},   {ButtonRelease, 3, 700, 300},
    };
    EXPECT_EQ(expected, seen);
}

std::vector<std::string> Describe(const InputEvents& events)
{
    std::vector<std::string> out;
    for (const input_event& e : events)
        out.push_back(std::to_string(e.type) + ":" + std::to_string(e.code) + "=" + std::to_string(e.value));
    return out;
}

TEST(UinputInjection, WritesOneReportPerAction)
{
    std::vector<std::string> written;
    CMouseCtrlUinput engine("SkribWorkZIW", 1440, 900, [&](const InputEvents& events) {
        for (const std::string& e : Describe(events))
            written.push_back(e);
        written.push_back("|");
    });
    engine.MouseMove(1439, 899);
    engine.LButtonDown();
    engine.LButtonDoubleClick();
    engine.LButtonUp();
    engine.RButton();
    engine.RButtonUp();
    const std::string syn = "0:0=0", x = "3:0=", y = "3:1=", left = "1:272=", right = "1:273=";
    const std::vector<std::string> expected = {
        x + "1439", y + "899", syn, "|",            // move
        left + "1", syn, "|",                       // left down
        left + "0", syn, left + "1", syn, left + "0", syn, "|", // second click of a double click
        left + "0", syn, "|",                       // left up
        right + "1", syn, "|", right + "0", syn, "|",
    };
    EXPECT_EQ(expected, written);
}

} // namespace
