// Calibration through the shipped board's work thread: the settings
// server's notifications start and end runs, touches feed the collector
// instead of the pointer, "fin" goes to the settings client, and a finished
// run is stored, reloaded and left for normal work.
#include "ConfigXML.h"
#include "Conversion.h"
#include "Injection.h"
#include "TestSupport.h"
#include "ZiwDoubles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

namespace {

using Log = std::vector<std::string>;

// Four targets, column by column: grid (0,0), (0,1), (1,0), (1,1).
const wxPoint kTargets[4] = {{2000, 3000}, {2000, 20000}, {25000, 3000}, {25000, 20000}};

class OrientWorkTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_folder.Path().empty());
        SetInjection(INJECT_NONE, 1440, 900);
        m_work.reset(new CRecordingZIW(m_log));
        ASSERT_TRUE(m_work->Start());
        m_log.Clear();
    }

    // Where the stored calibration puts a device point on the 1440 x 900 screen.
    static wxPoint StoredConversion(const wxPoint& device)
    {
        CConversion conversion("SkribWorkZIW");
        conversion.Init(1440, 900);
        return conversion.Conversion(wxRealPoint(device.x, device.y));
    }

    CWorkingFolder m_folder;
    CEventLog m_log;
    std::unique_ptr<CRecordingZIW> m_work;
};

TEST_F(OrientWorkTest, AScreenRunIsCollectedStoredAndTakesEffect)
{
    const wxPoint lastTouched = StoredConversion(kTargets[3]); // by the old calibration
    ASSERT_TRUE(m_work->DealClientNotify(NOTIFY_ORIENT_START, 4));
    EXPECT_EQ(STATE_ORIENT, m_work->State());
    for (int k = 0; k < 4; ++k)
        m_work->Touch(kTargets[k].x, kTargets[k].y, 29, k == 1 ? 3 : 7); // any status but 0 touches
    // No pointer action during the run; after it the pointer jumps to the
    // last touched point between the two pauses.
    const Log expected = {"client fin", "client fin", "client fin", "client fin", "pause 1",
                          "move " + std::to_string(lastTouched.x) + "," + std::to_string(lastTouched.y), "pause 2"};
    EXPECT_EQ(expected, m_log.Snapshot());
    EXPECT_EQ(STATE_NORMAL, m_work->State());

    // Stored, and reloaded: each target's device point now lands on its
    // screen target (4 % margins of 1440 x 900).
    const wxPoint screen[4] = {{57, 36}, {57, 864}, {1382, 36}, {1382, 864}};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(screen[k], StoredConversion(kTargets[k])) << k;
        m_log.Clear();
        m_work->Touch(kTargets[k].x, kTargets[k].y, 1);
        const Log touch = {"move " + std::to_string(screen[k].x) + "," + std::to_string(screen[k].y), "ldown", "lup"};
        EXPECT_EQ(touch, m_log.Snapshot()) << k;
    }
}

TEST_F(OrientWorkTest, StoppedOrRefusedRunsStoreNothing)
{
    const std::string before = ReadFile(CONFIG_FILE);
    struct Case
    {
        const char* name;
        ClientNotify_Type start;
        int points;
        bool started;
    } cases[] = {
        {"screen run stopped after 2 of 4", NOTIFY_ORIENT_START, 4, true},
        {"hot-key run stopped after 2 of 28", NOTIFY_HOTKEY_START, 28, true},
        {"0 points refused", NOTIFY_ORIENT_START, 0, false},
        {"31 points refused", NOTIFY_HOTKEY_START, 31, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.started, m_work->DealClientNotify(c.start, c.points)) << c.name;
        m_log.Clear();
        for (int k = 0; k < 2; ++k)
            m_work->Touch(kTargets[k].x, kTargets[k].y, 29);
        if (c.started) {
            EXPECT_EQ((Log{"client fin", "client fin"}), m_log.Snapshot()) << c.name;
            EXPECT_TRUE(m_work->DealClientNotify(NOTIFY_ORIENT_END, 0));
        }
        EXPECT_EQ(STATE_NORMAL, m_work->State()) << c.name;
        // Normal work again: a touch moves the pointer and gives no "fin".
        m_log.Clear();
        m_work->Touch(kTargets[0].x, kTargets[0].y, 29);
        const Log after = m_log.Snapshot();
        ASSERT_FALSE(after.empty()) << c.name;
        EXPECT_EQ(0, after.front().compare(0, 5, "move ")) << c.name;
        EXPECT_EQ(after.end(), std::find(after.begin(), after.end(), "client fin")) << c.name;
        EXPECT_EQ(before, ReadFile(CONFIG_FILE)) << c.name;
    }
    // A refused start also ends a run in progress.
    ASSERT_TRUE(m_work->DealClientNotify(NOTIFY_ORIENT_START, 4));
    EXPECT_FALSE(m_work->DealClientNotify(NOTIFY_ORIENT_START, 40));
    EXPECT_EQ(STATE_NORMAL, m_work->State());
}

// The pauses after the last point leave the work thread's lock to the main
// thread: what it does meanwhile stands.
TEST_F(OrientWorkTest, NotificationsDuringTheFinalPausesStand)
{
    struct Case
    {
        const char* name;
        ClientNotify_Type notify;
        int value;
        State_Type after;
    } cases[] = {
        {"the client stops advising", NOTIFY_ORIENT_END, 0, STATE_NORMAL},
        {"a new run starts", NOTIFY_HOTKEY_START, 28, STATE_HOTKEY},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(m_work->DealClientNotify(NOTIFY_ORIENT_START, 4));
        // From another thread, as the main thread does it: it gets through
        // only if the pause does not hold the lock.
        std::future<bool> other;
        bool gotThrough = false;
        m_work->m_onPause = [&](int seconds) {
            if (seconds != 2)
                return;
            other = std::async(std::launch::async, [&] { return m_work->DealClientNotify(c.notify, c.value); });
            gotThrough = other.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        };
        for (int k = 0; k < 4; ++k)
            m_work->Touch(kTargets[k].x, kTargets[k].y, 29);
        m_work->m_onPause = nullptr;
        ASSERT_TRUE(other.valid()) << c.name;
        EXPECT_TRUE(gotThrough) << c.name << ": the pause held the work thread's lock";
        EXPECT_TRUE(other.get()) << c.name;
        EXPECT_EQ(c.after, m_work->State()) << c.name;
        // The run was stored and reloaded all the same.
        EXPECT_EQ(wxPoint(1382, 864), StoredConversion(kTargets[3])) << c.name;
        m_work->DealClientNotify(NOTIFY_ORIENT_END, 0);
    }
}

} // namespace
