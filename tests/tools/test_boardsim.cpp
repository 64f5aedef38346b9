// The simulated board: ZIW report bytes, point lists, scripts played into a
// sink at their offsets, the connect-command recogniser, cutting the
// driver's byte stream into reports, and raw writes through a pseudo-terminal.
#include "BoardSim.h"
#include "SimIo.h"
#include "ZiwReportEncoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using std::chrono::microseconds;

// A ZIW input report spelled out: report id 1, then the listed (offset,
// byte) pairs, zero elsewhere.
SimBytes ZiwReport(const std::vector<std::pair<int, int>>& bytes)
{
    SimBytes report(64, 0);
    report[0] = 1;
    for (const auto& b : bytes)
        report[b.first] = static_cast<std::uint8_t>(b.second);
    return report;
}

SimContact Down(int x, int y, int size1 = 0, int size2 = 0) { return Touching({x, y}, size1, size2); }

SimContact Up(int x, int y, int size1 = 0, int size2 = 0) { return Lifted({x, y}, size1, size2); }

SimContact Raw(int status, int x, int y)
{
    SimContact c = Up(x, y);
    c.rawStatus = status;
    return c;
}

// --- Encoding -----------------------------------------------------------------

struct EncodeCase
{
    const char* name;
    SimFrame frame;
    std::vector<std::pair<int, int>> bytes;
};

TEST(ZiwReportEncoder, EncodesFramesByteForByte)
{
    const EncodeCase cases[] = {
        {"one contact", {{Down(1000, 500, 100, 60)}},
         {{1, 7}, {3, 0xE8}, {4, 0x03}, {5, 0xF4}, {6, 0x01}, {7, 100}, {9, 60}}},
        {"two contacts, every field little-endian",
         {{Down(0x1234, 0x0102, 0x0A0B, 0x0C0D), Down(2000, 21, 400, 200)}},
         {{1, 7}, {3, 0x34}, {4, 0x12}, {5, 0x02}, {6, 0x01}, {7, 0x0B}, {8, 0x0A}, {9, 0x0D}, {10, 0x0C},
          {11, 7}, {13, 0xD0}, {14, 0x07}, {15, 21}, {17, 0x90}, {18, 0x01}, {19, 200}}},
        {"release keeps position and sizes", {{Up(1000, 500, 100, 60)}},
         {{1, 0}, {3, 0xE8}, {4, 0x03}, {5, 0xF4}, {6, 0x01}, {7, 100}, {9, 60}}},
        {"second contact alone (0x77)", {{Up(0, 0), Raw(0x77, 300, 40)}},
         {{11, 0x77}, {13, 0x2C}, {14, 0x01}, {15, 40}}},
        {"raw status 4", {{Raw(4, 1, 2)}}, {{1, 4}, {3, 1}, {5, 2}}},
        {"out-of-range values clamped", {{Down(70000, -5, 65535, 65536)}},
         {{1, 7}, {3, 0xFF}, {4, 0xFF}, {7, 0xFF}, {8, 0xFF}, {9, 0xFF}, {10, 0xFF}}},
        {"nothing on the board", {}, {}},
        {"a third contact is not sent", {{Down(1, 1), Down(2, 2), Down(3, 3)}},
         {{1, 7}, {3, 1}, {5, 1}, {11, 7}, {13, 2}, {15, 2}}},
    };
    const CZiwReportEncoder encoder;
    for (const EncodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(HexBytes(encoder.Encode(c.frame)), HexBytes(ZiwReport(c.bytes)));
    }
}

TEST(ZiwReportEncoder, RecognisesOnlyTheExactConnectCommand)
{
    SimBytes command(64, 0);
    command[0] = 2;
    command[1] = 1;
    command[2] = 1;
    auto changed = [&](int at, int value) {
        SimBytes b = command;
        b[at] = static_cast<std::uint8_t>(value);
        return b;
    };
    const struct
    {
        const char* name;
        SimBytes report;
        bool connect;
    } cases[] = {
        {"connect command", command, true},
        {"63 bytes", SimBytes(command.begin(), command.end() - 1), false},
        {"65 bytes", [&] { SimBytes b(65, 0); std::copy(command.begin(), command.end(), b.begin()); return b; }(), false},
        {"last byte set", changed(63, 1), false},
        {"byte 2 clear", changed(2, 0), false},
        {"report id 1", changed(0, 1), false},
        {"all zero", SimBytes(64, 0), false},
    };
    const std::unique_ptr<CReportEncoder> encoder = CReportEncoder::Create("ZIW");
    ASSERT_NE(encoder, nullptr);
    EXPECT_EQ(CReportEncoder::Create("VUQ"), nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(encoder->IsConnectCommand(c.report), c.connect);
    }
}

// --- Point lists --------------------------------------------------------------

std::string Points(const std::vector<SimPoint>& points)
{
    std::string text;
    for (const SimPoint& p : points)
        text += "(" + std::to_string(p.x) + "," + std::to_string(p.y) + ")";
    return text;
}

TEST(Stroke, InterpolatesEvenlyWithBothEnds)
{
    const struct
    {
        SimPoint from, to;
        int steps;
        const char* points;
    } cases[] = {
        {{0, 0}, {10, 0}, 3, "(0,0)(5,0)(10,0)"},
        {{0, 0}, {10, -10}, 4, "(0,0)(3,-3)(7,-7)(10,-10)"},
        {{100, 50}, {0, 0}, 5, "(100,50)(75,38)(50,25)(25,13)(0,0)"},
        {{7, 8}, {7, 8}, 3, "(7,8)(7,8)(7,8)"},
        {{1, 2}, {9, 9}, 2, "(1,2)(9,9)"},
        {{1, 2}, {9, 9}, 1, "(1,2)"},
        {{1, 2}, {9, 9}, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.steps);
        EXPECT_EQ(Points(Stroke(c.from, c.to, c.steps)), c.points);
    }
}

TEST(Stroke, PolylineAndRectangleJoinSegmentsOnce)
{
    EXPECT_EQ(Points(Polyline({{0, 0}, {4, 0}, {4, 8}}, 2)), "(0,0)(2,0)(4,0)(4,4)(4,8)");
    EXPECT_EQ(Points(Polyline({{3, 3}}, 5)), "(3,3)");
    EXPECT_EQ(Points(Polyline({}, 5)), "");

    const SimFigure rect = RectangleFigure({0, 0}, {10, 20}, 2);
    ASSERT_EQ(rect.size(), 4u);
    EXPECT_EQ(Points(rect[0]), "(0,0)(5,0)(10,0)");
    EXPECT_EQ(Points(rect[1]), "(10,0)(10,10)(10,20)");
    EXPECT_EQ(Points(rect[2]), "(10,20)(5,20)(0,20)");
    EXPECT_EQ(Points(rect[3]), "(0,20)(0,10)(0,0)");
}

// --- Timelines and playing ----------------------------------------------------

class CRecordingPacer : public CPacer
{
public:
    explicit CRecordingPacer(int stopAtCall = -1) : m_stopAt(stopAtCall) {}
    bool WaitUntil(microseconds offset) override
    {
        m_waits.push_back(offset.count());
        return static_cast<int>(m_waits.size()) != m_stopAt;
    }
    std::vector<long> m_waits;

private:
    int m_stopAt;
};

class CFailingSink : public CMemorySink
{
public:
    explicit CFailingSink(int failAtWrite) : m_failAt(failAtWrite) {}
    bool Write(const SimBytes& bytes) override { return ++m_calls != m_failAt && CMemorySink::Write(bytes); }

private:
    int m_failAt;
    int m_calls = 0;
};

TEST(BoardScript, ReportIntervalFollowsTheRate)
{
    const CZiwReportEncoder encoder;
    const std::pair<int, long> cases[] = {{100, 10000}, {120, 8333}, {1000, 1000}, {0, 1000000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        EXPECT_EQ(CBoardScript(encoder, c.first).Interval().count(), c.second);
    }
}

TEST(BoardScript, PlaysEachReportInOneWriteAtItsOffset)
{
    const CZiwReportEncoder encoder;
    CBoardScript script(encoder, 100);
    script.Touch({SimPath{{{10, 20}, {300, 40}}, 100, 60}});
    script.Silence(std::chrono::milliseconds(50));
    // Two contacts, the second path shorter: it holds its last point.
    script.Touch({SimPath{{{1, 1}, {2, 2}}, 5, 6}, SimPath{{{9, 9}}, 7, 8}}, 2);
    script.Silence(std::chrono::milliseconds(5));

    CMemorySink sink;
    CRecordingPacer pacer;
    EXPECT_EQ(CTimelineFeeder(sink, pacer).Play(script.Timeline()), 7);

    const std::vector<long> waits = {0, 10000, 20000, 80000, 90000, 100000, 110000, 125000};
    EXPECT_EQ(pacer.m_waits, waits);
    const SimBytes both[] = {
        ZiwReport({{1, 7}, {3, 1}, {5, 1}, {7, 5}, {9, 6}, {11, 7}, {13, 9}, {15, 9}, {17, 7}, {19, 8}}),
        ZiwReport({{1, 7}, {3, 2}, {5, 2}, {7, 5}, {9, 6}, {11, 7}, {13, 9}, {15, 9}, {17, 7}, {19, 8}}),
        ZiwReport({{1, 0}, {3, 2}, {5, 2}, {7, 5}, {9, 6}, {11, 0}, {13, 9}, {15, 9}, {17, 7}, {19, 8}}),
    };
    const std::vector<SimBytes> expected = {
        ZiwReport({{1, 7}, {3, 10}, {5, 20}, {7, 100}, {9, 60}}),
        ZiwReport({{1, 7}, {3, 0x2C}, {4, 0x01}, {5, 40}, {7, 100}, {9, 60}}),
        ZiwReport({{1, 0}, {3, 0x2C}, {4, 0x01}, {5, 40}, {7, 100}, {9, 60}}),
        both[0], both[1], both[2], both[2],
    };
    ASSERT_EQ(sink.Writes().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(HexBytes(sink.Writes()[i]), HexBytes(expected[i]));
    }
}

TEST(BoardScript, FeederStopsAtAFailedWriteOrWhenThePacerSaysStop)
{
    const CZiwReportEncoder encoder;
    CBoardScript script(encoder, 100);
    script.Touch({SimPath{Stroke({0, 0}, {40, 0}, 5), 1, 1}}); // five reports and a release
    const struct
    {
        const char* name;
        int failAtWrite;
        int stopAtWait;
        int played;
        size_t waits;
    } cases[] = {
        {"all played", -1, -1, 6, 7},
        {"third write fails", 3, -1, 2, 3},
        {"pacer stops before the second", -1, 2, 1, 2},
        {"pacer stops at the end", -1, 7, 6, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CFailingSink sink(c.failAtWrite);
        CRecordingPacer pacer(c.stopAtWait);
        EXPECT_EQ(CTimelineFeeder(sink, pacer).Play(script.Timeline()), c.played);
        EXPECT_EQ(sink.Writes().size(), static_cast<size_t>(c.played));
        EXPECT_EQ(pacer.m_waits.size(), c.waits);
    }
}

// --- What the driver writes ---------------------------------------------------

TEST(OutputReportReader, CutsAByteStreamIntoWholeReports)
{
    const CZiwReportEncoder encoder;
    const SimBytes connect = CZiwReportEncoder::ConnectCommand();
    SimBytes other(64);
    for (size_t i = 0; i < other.size(); ++i)
        other[i] = static_cast<std::uint8_t>(0x80 + i);
    SimBytes stream = connect;
    stream.insert(stream.end(), other.begin(), other.end());
    stream.insert(stream.end(), {2, 1, 1, 0, 0}); // the start of a third

    for (size_t chunk : {1, 5, 63, 64, 65, 133}) {
        SCOPED_TRACE(chunk);
        COutputReportReader reader(encoder);
        std::vector<SimBytes> reports;
        for (size_t at = 0; at < stream.size(); at += chunk)
            reader.Feed(stream.data() + at, std::min(chunk, stream.size() - at),
                        [&](const SimBytes& r) { reports.push_back(r); });
        ASSERT_EQ(reports.size(), 2u);
        EXPECT_TRUE(encoder.IsConnectCommand(reports[0]));
        EXPECT_EQ(HexBytes(reports[1]), HexBytes(other));
        EXPECT_EQ(reader.Pending(), 5u);
    }
}

// --- Descriptors --------------------------------------------------------------

// Reads exactly `len` bytes from `fd` within a deadline (a pseudo-terminal
// may hand them over in pieces).
SimBytes ReadExactly(int fd, size_t len, int timeoutMs)
{
    SimBytes got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < len) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        std::uint8_t buf[256];
        const ssize_t n = read(fd, buf, std::min(sizeof buf, len - got.size()));
        if (n <= 0)
            break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

// A report whose bytes a terminal in its default mode would change or keep
// back: CR, LF, ^C, ^Q, ^S, ^D, ^Z, DEL.
TEST(FdSink, PassesEveryByteThroughAPseudoTerminalBothWays)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slavePath = ptsname(master);

    std::string error;
    std::unique_ptr<CFdSink> sink = CFdSink::Open(slavePath, error);
    ASSERT_NE(sink, nullptr) << error;

    const CZiwReportEncoder encoder;
    SimFrame frame{{Down(0x0A0D, 0x1103, 0x7F13, 0x1A04), Down(0x0D0A, 0x0A0A, 0x0D0D, 0x0304)}};
    const SimBytes report = encoder.Encode(frame);

    // Board to driver: the sink writes on the node.
    ASSERT_TRUE(sink->Write(report));
    EXPECT_EQ(HexBytes(ReadExactly(master, report.size(), 5000)), HexBytes(report));
    // Driver to board on the other end, read back through the sink's node.
    ASSERT_EQ(write(master, report.data(), report.size()), static_cast<ssize_t>(report.size()));
    EXPECT_EQ(HexBytes(ReadExactly(sink->Fd(), report.size(), 5000)), HexBytes(report));
    close(master);
}

TEST(FdSink, OpeningAMissingNodeSaysWhy)
{
    std::string error;
    EXPECT_EQ(CFdSink::Open("/nonexistent/hidraw9", error), nullptr);
    EXPECT_NE(error.find("/nonexistent/hidraw9"), std::string::npos) << error;
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

} // namespace
