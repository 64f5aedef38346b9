// The figures of the end-to-end benchmarks are only as good as what
// computes them: percentiles, the loss and order check of the rate run, the
// raster that carries sequence numbers in positions, the /proc readers.
#include "BenchLogic.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(BenchLogic, SummaryUsesNearestRankPercentiles)
{
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i) // unsorted on purpose
        hundred.push_back(i);
    struct Case
    {
        std::vector<double> samples;
        double p50, p99, max, mean;
    };
    const Case cases[] = {
        {hundred, 50, 99, 100, 50.5},
        {{7}, 7, 7, 7, 7},
        {{3, 1, 2}, 2, 3, 3, 2},
        {{10, 20, 30, 40}, 20, 40, 40, 25},
    };
    for (const Case& c : cases) {
        const LatencySummary s = Summarize(c.samples);
        EXPECT_EQ(c.samples.size(), s.count);
        EXPECT_DOUBLE_EQ(c.p50, s.p50);
        EXPECT_DOUBLE_EQ(c.p99, s.p99);
        EXPECT_DOUBLE_EQ(c.max, s.max);
        EXPECT_DOUBLE_EQ(c.mean, s.mean);
    }
    EXPECT_EQ(0u, Summarize({}).count);
}

TEST(BenchLogic, SequenceCheckCountsLossOrderAndStrays)
{
    struct Case
    {
        const char* name;
        long expected;
        std::vector<long> arrivals;
        long received, lost, reordered, duplicates, unknown, runs, longest;
    };
    const Case cases[] = {
        {"in order", 5, {0, 1, 2, 3, 4}, 5, 0, 0, 0, 0, 0, 0},
        {"one late", 5, {0, 2, 1, 3, 4}, 5, 0, 1, 0, 0, 0, 0},
        {"two single losses", 6, {0, 1, 3, 4}, 4, 2, 0, 0, 0, 2, 1},
        {"one run of three", 5, {0, 4}, 2, 3, 0, 0, 0, 1, 3},
        {"nothing came", 3, {}, 0, 3, 0, 0, 0, 1, 3},
        {"repeats and strangers", 2, {0, 0, 7, -1, 1}, 2, 0, 0, 1, 2, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CSequenceCheck check(c.expected);
        for (long seq : c.arrivals)
            check.Arrived(seq);
        long longest = -1;
        EXPECT_EQ(c.runs, check.LossRuns(&longest));
        EXPECT_EQ(c.longest, longest);
        EXPECT_EQ(c.received, check.Received());
        EXPECT_EQ(c.lost, check.Lost());
        EXPECT_EQ(c.reordered, check.Reordered());
        EXPECT_EQ(c.duplicates, check.Duplicates());
        EXPECT_EQ(c.unknown, check.Unknown());
    }
}

TEST(BenchLogic, RasterGivesEveryNumberOfAPeriodItsOwnPixel)
{
    const CPixelRaster raster(100, 50, 7, 3);
    ASSERT_EQ(21, raster.Period());
    std::set<std::pair<int, int>> pixels;
    for (long seq = 0; seq < raster.Period(); ++seq) {
        const Pixel p = raster.At(seq);
        EXPECT_EQ(seq, raster.IndexOf(p.x, p.y));
        EXPECT_FALSE(p == raster.At(seq + 1)) << seq; // consecutive reports always move the pointer
        pixels.insert({p.x, p.y});
    }
    EXPECT_EQ(21u, pixels.size());
    EXPECT_TRUE(raster.At(0) == raster.At(21));
    EXPECT_TRUE((Pixel{100, 50}) == raster.At(0));
    EXPECT_TRUE((Pixel{106, 52}) == raster.At(20));
    for (const Pixel& outside : {Pixel{99, 50}, Pixel{107, 50}, Pixel{100, 49}, Pixel{100, 53}, Pixel{20, 20}})
        EXPECT_EQ(-1, raster.IndexOf(outside.x, outside.y));
}

TEST(BenchLogic, UnwrapPicksTheNumberNearestTheNextExpected)
{
    struct Case
    {
        long index, period, last, expected;
    };
    const Case cases[] = {
        {0, 10, -1, 0},  {3, 10, 2, 3},   {0, 10, 9, 10}, // into the next period
        {9, 10, 10, 9},                                   // a late one from the period before
        {5, 10, 12, 15},                                  // a jump ahead within half a period
        {2, 10, 29, 32},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, Unwrap(c.index, c.period, c.last)) << c.index << " after " << c.last;
}

TEST(BenchLogic, ProcReaders)
{
    // The command name may hold blanks and parentheses.
    EXPECT_EQ(290, StatCpuTicks("1234 (a b) c) S 1 1 1 0 -1 4194560 100 0 0 0 250 40 0 0 20 0 3 0 1 2 3"));
    EXPECT_EQ(-1, StatCpuTicks("1234 (short) S 1 2"));
    EXPECT_EQ(-1, StatCpuTicks(""));

    const std::string status = "Name:\tSkribZIW\nVmRSS:\t   29352 kB\nvoluntary_ctxt_switches:\t12\n"
                               "nonvoluntary_ctxt_switches:\t3\n";
    EXPECT_EQ(29352, FieldValue(status, "VmRSS"));
    EXPECT_EQ(12, FieldValue(status, "voluntary_ctxt_switches"));
    EXPECT_EQ(3, FieldValue(status, "nonvoluntary_ctxt_switches"));
    EXPECT_EQ(-1, FieldValue(status, "Vm"));
    EXPECT_EQ(16001, FieldValue("rchar: 5\nsyscr: 7\nsyscw: 16001\n", "syscw"));
    EXPECT_EQ(-1, FieldValue("syscr: 7\n", "syscw"));
}

} // namespace
