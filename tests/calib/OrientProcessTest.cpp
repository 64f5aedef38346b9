// The calibration collector from tables of samples: which reports of a touch
// are kept, the two reductions (outlier-free mean, trimmed mean), touches
// that end early, what a finished run stores, and the runs refused before
// they start. Skip S = 8 and N = 20 samples ("ORIENT_RECV_DATA_SIZE" of the
// shipped settings).
#include "OrientProcess.h"

#include "ConfigXML.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <string>
#include <vector>

void PrintTo(const wxRealPoint& p, std::ostream* os) { *os << "(" << p.x << ", " << p.y << ")"; }

namespace {

using Samples = std::vector<wxPoint>;

// Inliers with a little spread: x 1000/1003/1006, y 2000/2004.
wxPoint Inlier(int i)
{
    return wxPoint(1000 + 3 * (i % 3), 2000 + 4 * (i % 2));
}

Samples Inliers(int count)
{
    Samples s;
    for (int i = 0; i < count; ++i)
        s.push_back(Inlier(i));
    return s;
}

void SetRecvSize(int size)
{
    ASSERT_TRUE(EditSettings(CONFIG_FILE, [&](CConfigXML& c) {
        return c.writeInt("SkribWorkZIW", "Constants", "ORIENT_RECV_DATA_SIZE", size);
    }));
}

class OrientProcessTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(m_folder.Path().empty());
        m_orient.SetAdvise([this](const wxString& text) { m_advised.push_back(text.ToStdString()); });
    }

    // One touch: 8 reports far off (dropped), the samples, then `after`
    // reports far off (the first finishes the point; none is used). Returns
    // how often ReceiveData said the run is complete.
    int Touch(const Samples& samples, int after = 1)
    {
        int complete = 0;
        for (int i = 0; i < m_orient.m_nSkip; ++i)
            complete += m_orient.ReceiveData(30000, 30000);
        for (const wxPoint& p : samples)
            complete += m_orient.ReceiveData(p.x, p.y);
        for (int i = 0; i < after; ++i)
            complete += m_orient.ReceiveData(0, 0);
        m_orient.EndTouch();
        return complete;
    }

    CWorkingFolder m_folder;
    COrientProcess m_orient{"SkribWorkZIW"};
    std::vector<std::string> m_advised;
};

TEST_F(OrientProcessTest, TheReportAfterTheSamplesFinishesThePoint)
{
    ASSERT_TRUE(m_orient.InitPara(2, STATE_ORIENT));
    ASSERT_EQ(8, m_orient.m_nSkip);
    ASSERT_EQ(20, m_orient.m_nRecvSize);
    // Reports 1-8 far off, 9-28 the samples: no point yet.
    for (int i = 0; i < 8; ++i)
        EXPECT_FALSE(m_orient.ReceiveData(30000, 30000));
    for (int i = 0; i < 20; ++i)
        EXPECT_FALSE(m_orient.ReceiveData(4000, 6000));
    EXPECT_TRUE(m_advised.empty());
    EXPECT_EQ(0, m_orient.m_nCurDot);
    // Report 29 finishes it; its own position is not used.
    EXPECT_FALSE(m_orient.ReceiveData(0, 0));
    EXPECT_EQ(std::vector<std::string>{"fin"}, m_advised);
    EXPECT_EQ(1, m_orient.m_nCurDot);
    EXPECT_EQ(wxRealPoint(4000, 6000), m_orient.m_dots[0]);
    // Reports 30 and later of the same touch are ignored.
    for (int i = 0; i < 40; ++i)
        EXPECT_FALSE(m_orient.ReceiveData(100, 100));
    EXPECT_EQ(1u, m_advised.size());
    EXPECT_EQ(1, m_orient.m_nCurDot);
    EXPECT_EQ(wxRealPoint(4000, 6000), m_orient.m_dots[0]);
}

TEST_F(OrientProcessTest, OutliersAreDroppedOrTheMeanIsTrimmed)
{
    // 8 rejected of 20: x outliers in samples 0-3, y outliers in samples 4-7.
    Samples eight = Inliers(20);
    const int xOut[4] = {1114, 1114, 914, 914}, yOut[4] = {2114, 2114, 1914, 1914};
    for (int i = 0; i < 4; ++i) {
        eight[i].x = xOut[i];
        eight[4 + i].y = yOut[i];
    }
    Samples one = Inliers(19);
    one.push_back(wxPoint(1600, 2000));
    Samples two = Inliers(18);
    two.push_back(wxPoint(1600, 2000));
    two.push_back(wxPoint(1700, 2000));

    // Expected points by hand: the trimmed mean is (sum - max - min) / 18
    // per axis; the outlier-free mean is that of the inliers, (1003, 2002)
    // for 18 or 12 of them.
    struct Case
    {
        const char* name;
        Samples samples;
        wxRealPoint expected;
    } cases[] = {
        {"all equal: nothing rejected, trimmed mean", Samples(20, wxPoint(5000, 7000)), {5000, 7000}},
        {"one outlier: trimmed mean", one, {18054.0 / 18, 36032.0 / 18}},
        {"two outliers: the outlier-free mean", two, {1003, 2002}},
        {"eight rejected, 12 < 65 %: trimmed mean", eight, {18076.0 / 18, 36060.0 / 18}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(m_orient.InitPara(2, STATE_ORIENT));
        m_advised.clear();
        EXPECT_EQ(0, Touch(c.samples)) << c.name;
        EXPECT_EQ(std::vector<std::string>{"fin"}, m_advised) << c.name;
        EXPECT_NEAR(c.expected.x, m_orient.m_dots[0].x, 1e-9) << c.name;
        EXPECT_NEAR(c.expected.y, m_orient.m_dots[0].y, 1e-9) << c.name;
    }
}

TEST_F(OrientProcessTest, ATouchLiftedEarlyIsCollectedAgain)
{
    ASSERT_TRUE(m_orient.InitPara(2, STATE_ORIENT));
    // Lifted after 15 of 20 samples: no point, no "fin".
    EXPECT_EQ(0, Touch(Samples(15, wxPoint(9000, 9000)), 0));
    EXPECT_TRUE(m_advised.empty());
    EXPECT_EQ(0, m_orient.m_nCurDot);
    // The next touch gives the same target's point, from its own samples.
    EXPECT_EQ(0, Touch(Samples(20, wxPoint(1200, 1300))));
    EXPECT_EQ(std::vector<std::string>{"fin"}, m_advised);
    EXPECT_EQ(1, m_orient.m_nCurDot);
    EXPECT_EQ(wxRealPoint(1200, 1300), m_orient.m_dots[0]);
}

TEST_F(OrientProcessTest, AFinishedRunIsStoredByItsKind)
{
    // A screen run of 4: "dotNum" and dot0..dot3; completion reported once.
    ASSERT_TRUE(m_orient.InitPara(4, STATE_ORIENT));
    int complete = 0;
    for (int p = 0; p < 4; ++p)
        complete += Touch(Samples(20, wxPoint(100 + p, 200 + p)), 3);
    EXPECT_EQ(1, complete);
    EXPECT_EQ(4u, m_advised.size());

    // A hot-key run of 28: key0..key27, no count.
    ASSERT_TRUE(m_orient.InitPara(28, STATE_HOTKEY));
    complete = 0;
    for (int p = 0; p < 28; ++p)
        complete += Touch(Samples(20, wxPoint(5000 + p, 6000 + p)));
    EXPECT_EQ(1, complete);
    // After the last point reports are ignored until the next run.
    EXPECT_EQ(0, Touch(Samples(20, wxPoint(1, 1))));
    EXPECT_EQ(32u, m_advised.size());

    CConfigXML config;
    ASSERT_TRUE(config.open(CONFIG_FILE));
    int dotNum = -1;
    config.readInt("SkribWorkZIW", "coordinate", "dotNum", dotNum, -1);
    EXPECT_EQ(4, dotNum);
    wxRealPoint dots[4], keys[29];
    ASSERT_TRUE(config.readDot("SkribWorkZIW", "coordinate", "dot", 4, dots));
    ASSERT_TRUE(config.readDot("SkribWorkZIW", "HOTKEY", "key", 29, keys));
    for (int p = 0; p < 4; ++p)
        EXPECT_EQ(wxRealPoint(100 + p, 200 + p), dots[p]) << p;
    for (int p = 0; p < 28; ++p)
        EXPECT_EQ(wxRealPoint(5000 + p, 6000 + p), keys[p]) << p;
    EXPECT_EQ(wxRealPoint(0, 0), keys[28]) << "no key28";
    EXPECT_EQ(nullptr, config.Find_Element("SkribWorkZIW", "HOTKEY")->Attribute("dotNum"));
    config.close();
}

TEST_F(OrientProcessTest, RunsWithoutADefinedResultAreRefused)
{
    struct Case
    {
        int dots;
        State_Type state;
        int samples;
        bool accepted;
    } cases[] = {
        {4, STATE_ORIENT, 20, true},
        {1, STATE_ORIENT, 3, true},
        {20, STATE_ORIENT, 200, true},
        {30, STATE_HOTKEY, 20, true},
        {0, STATE_ORIENT, 20, false},    // nothing to collect: the board would stay captured
        {-4, STATE_HOTKEY, 20, false},
        {31, STATE_HOTKEY, 20, false},   // beyond the 30 points of a run
        {21, STATE_ORIENT, 20, false},   // more than the conversion holds
        {4, STATE_ORIENT, 2, false},     // the trimmed mean needs 3 samples
        {4, STATE_ORIENT, 0, false},
        {4, STATE_ORIENT, 201, false},   // beyond the 200 samples of a point
        {4, STATE_NORMAL, 20, false},
    };
    for (const Case& c : cases) {
        SetRecvSize(c.samples);
        m_advised.clear();
        EXPECT_EQ(c.accepted, m_orient.InitPara(c.dots, c.state)) << c.dots << " points, " << c.samples << " samples";
        if (c.accepted)
            continue;
        // Refused: idle, every report ignored.
        EXPECT_EQ(0, m_orient.m_nDotNum);
        EXPECT_EQ(STATE_NORMAL, m_orient.m_state);
        EXPECT_EQ(0, Touch(Samples(250, wxPoint(10, 10)), 5));
        EXPECT_TRUE(m_advised.empty()) << c.dots << " points, " << c.samples << " samples";
    }
}

} // namespace
