// The shipped board's family from tables of raw 64-byte reports: one user
// with midpoints and releases, gestures by contact size, press values, and
// the split screen of the two-user mode.
#include "Conversion.h"
#include "Injection.h"
#include "MouseCtrl.h"
#include "SkribWorkZIW.h"
#include "TestSupport.h"
#include "ZiwDoubles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Log = std::vector<std::string>;

class CRecordingDualLink : public IDualLink
{
public:
    explicit CRecordingDualLink(CEventLog& log) : m_log(log) {}
    bool SendDualData(int action, int x, int y) override
    {
        m_log.Add("dual " + std::to_string(action) + " " + std::to_string(x) + "," + std::to_string(y));
        return true;
    }

private:
    CEventLog& m_log;
};

// With the two-user link and a four-corner calibration of a 1440 x 900
// screen.
class CTestZIW : public CRecordingZIW
{
public:
    explicit CTestZIW(CEventLog& log) : CRecordingZIW(log), m_dual(log) {}
    bool Start() override
    {
        if (!CRecordingZIW::Start())
            return false;
        m_pMouseCtrl->SetDualLink(&m_dual);
        const wxRealPoint corners[4] = {{57, 36}, {57, 864}, {1382, 36}, {1382, 864}};
        m_pConversion->ReadScreen(1440, 900);
        m_pConversion->m_dotNum = 4;
        for (int i = 0; i < 4; ++i)
            m_pConversion->m_dot[i] = corners[i];
        m_pConversion->ReadPosition();
        return true;
    }
    void SetGesture(int gesture, int v1, int v2)
    {
        m_bGesture = gesture;
        m_iValue1 = v1;
        m_iValue2 = v2;
    }
    wxRealPoint DevPoint() const { return m_devPoint; }

private:
    CRecordingDualLink m_dual;
};

class ZiwFamily : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_folder.Path().empty());
        SetInjection(INJECT_NONE, 1440, 900);
        m_work.reset(new CTestZIW(m_log));
        ASSERT_TRUE(m_work->Start());
        m_log.Clear();
    }
    void TearDown() override
    {
        m_work.reset();
    }
    Log Play(const std::vector<std::vector<unsigned char>>& reports)
    {
        m_log.Clear();
        for (const auto& r : reports)
            m_work->HandleReport(r.data());
        return m_log.Snapshot();
    }

    CWorkingFolder m_folder;
    CEventLog m_log;
    std::unique_ptr<CTestZIW> m_work;
};

TEST_F(ZiwFamily, OneUserPressesMovesAndReleases)
{
    struct Case
    {
        const char* name;
        std::vector<std::vector<unsigned char>> reports;
        Log expected;
    } cases[] = {
        {"report id 2 is ignored", {Report({7, 1000, 500, 0, 0}, {}, 2)}, {}},
        {"one contact", {Report({7, 1000, 500, 0, 0})}, {"move 1000,500", "ldown"}},
        {"two contacts at their midpoint", {Report({7, 1001, 10, 0, 0}, {7, 1200, 21, 0, 0})}, {"move 1100,15", "ldown"}},
        {"status 7 and 4 releases", {Report({7, 100, 100, 0, 0}), Report({7, 100, 100, 0, 0}, {4, 0, 0, 0, 0})},
         {"move 100,100", "ldown", "lup"}},
        {"no contact releases", {Report({7, 100, 100, 0, 0}), Report({0, 0, 0, 0, 0})}, {"move 100,100", "ldown", "lup"}},
    };
    for (const Case& c : cases) {
        Play({Report({0, 0, 0, 0, 0})}); // start from no contact
        EXPECT_EQ(c.expected, Play(c.reports)) << c.name;
    }
    Play({Report({7, 1001, 10, 0, 0}, {7, 2000, 21, 0, 0})});
    EXPECT_EQ(1500, m_work->DevPoint().x);
    EXPECT_EQ(15, m_work->DevPoint().y);
}

TEST_F(ZiwFamily, GesturesChooseByTheThirdReportsSize)
{
    struct Case
    {
        int sizeA, sizeB;
        Log sent;
    } cases[] = {
        {100, 60, {"pend"}},               // 8 < 10
        {400, 200, {"moue"}},              // 30 is not above 30
        {420, 200, {"event 0", "earh"}},   // 31 > 30: the whiteboard application is started
        {100, 100, {"moue"}},              // 10 is not below 10
    };
    m_work->SetGesture(1, 10, 30);
    for (const Case& c : cases) {
        Play({Report({0, 0, 0, 0, 0})});
        Log log = Play({Report({7, 100, 100, 0, 0}), Report({7, 110, 100, 0, 0}), Report({7, 120, 100, c.sizeA, c.sizeB})});
        Log expected = c.sent;
        // The press lands where the touch began; the pointer catches up.
        for (const char* e : {"move 100,100", "ldown", "move 110,100", "move 120,100"})
            expected.push_back(e);
        EXPECT_EQ(expected, log) << c.sizeA << "+" << c.sizeB;
    }

    // A touch of two reports neither presses nor switches; its release finds
    // no pressed button.
    Play({Report({0, 0, 0, 0, 0})});
    EXPECT_EQ((Log{}), Play({Report({7, 100, 100, 400, 0}), Report({7, 100, 100, 400, 0}), Report({0, 0, 0, 0, 0})}));

    // Press values for the settings client: only it hears of the touch.
    ASSERT_TRUE(m_work->DealClientNotify(NOTIFY_DRIVERSET_DATA, 1));
    Play({Report({0, 0, 0, 0, 0})});
    Log log = Play({Report({7, 100, 100, 0, 0}), Report({7, 100, 100, 0, 0}), Report({7, 100, 100, 400, 200})});
    EXPECT_EQ("client 30", log.front());
    EXPECT_TRUE(m_work->DealClientNotify(NOTIFY_DRIVERSET_DATA, 0));
    EXPECT_FALSE(m_work->DealClientNotify(NOTIFY_DRIVERSET_DATA, 0)) << "already off";
}

TEST_F(ZiwFamily, SplitScreenGivesEachHalfItsUser)
{
    ASSERT_TRUE(m_work->DealClientNotify(NOTIFY_DUAL_SPLIT_START, 5000));
    struct Case
    {
        const char* name;
        std::vector<unsigned char> report;
        Log expected;
    } cases[] = {
        // 1440 wide, no working area known: M = 720, L = 717, R = 723.
        {"717 is in the gap", Report({7, 717, 400, 0, 0}), {}},
        {"723 is in the gap", Report({7, 723, 400, 0, 0}), {}},
        {"716 is the first user's", Report({7, 716, 400, 0, 0}), {"move 716,400", "ldown"}},
        {"724 is the second user's", Report({7, 724, 400, 0, 0}), {"lup", "dual 1 724,400", "dual 0 724,400"}},
        {"718 and 900: no row fits", Report({7, 718, 400, 0, 0}, {7, 900, 400, 0, 0}), {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, Play({c.report})) << c.name;

    // Both on the left: the first user at the midpoint; then both on the
    // right: the first user is released before the second is pressed.
    Play({Report({0, 0, 0, 0, 0})});
    Log left = Play({Report({7, 100, 400, 0, 0}, {7, 300, 500, 0, 0})});
    EXPECT_EQ((Log{"move 200,450", "ldown"}), left);
    Log right = Play({Report({7, 800, 400, 0, 0}, {7, 1000, 400, 0, 0})});
    ASSERT_FALSE(right.empty());
    EXPECT_EQ("lup", right[0]) << "the first user goes before the second comes";
    EXPECT_NE(right.end(), std::find(right.begin(), right.end(), "dual 0 900,400"));
}

} // namespace
