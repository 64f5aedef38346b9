// What the end-to-end benchmarks compute, without I/O: latency summaries,
// the sequence check of the rate run, the raster that carries a sequence
// number in a screen position, and the readers of /proc text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// p50, p99 and max of a set of samples (nearest-rank percentiles).
struct LatencySummary
{
    std::size_t count = 0;
    double p50 = 0, p99 = 0, max = 0, mean = 0;
};

LatencySummary Summarize(std::vector<double> samples);

// Nearest-rank percentile of sorted samples; 0 for none.
double Percentile(const std::vector<double>& sorted, double percent);

// Checks a stream of sequence numbers 0 .. expected-1 as it arrives: how
// many came, how many never came, how many came after a later one.
class CSequenceCheck
{
public:
    explicit CSequenceCheck(long expected) : m_seen(expected > 0 ? static_cast<std::size_t>(expected) : 0) {}

    void Arrived(long seq);

    long Expected() const { return static_cast<long>(m_seen.size()); }
    long Received() const { return m_received; }                // distinct, in range
    long Lost() const { return Expected() - m_received; }
    long Reordered() const { return m_reordered; }              // arrived after a higher one
    long Duplicates() const { return m_duplicates; }
    long Unknown() const { return m_unknown; }                  // outside 0 .. expected-1
    // Runs of consecutive numbers that never came: how many, and the longest.
    long LossRuns(long* longest = nullptr) const;

private:
    std::vector<bool> m_seen;
    long m_received = 0, m_reordered = 0, m_duplicates = 0, m_unknown = 0;
    long m_highest = -1;
};

struct Pixel
{
    int x = 0, y = 0;
    bool operator==(const Pixel& o) const { return x == o.x && y == o.y; }
};

// Sequence numbers as pixels of a rectangle, row by row; a number and the
// next one are always different pixels. Numbers repeat after Period().
class CPixelRaster
{
public:
    CPixelRaster(int left, int top, int width, int height) : m_left(left), m_top(top), m_width(width), m_height(height)
    {
    }

    long Period() const { return static_cast<long>(m_width) * m_height; }
    Pixel At(long seq) const;
    // The number modulo Period() that the pixel stands for; -1 outside.
    long IndexOf(int x, int y) const;

    int Left() const { return m_left; }
    int Top() const { return m_top; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

private:
    int m_left, m_top, m_width, m_height;
};

// The sequence number with `index` (modulo `period`) closest to the one
// expected after `last` (-1 before the first).
long Unwrap(long index, long period, long last);

// User plus system CPU time in clock ticks from the text of /proc/PID/stat;
// -1 when it cannot be read.
long long StatCpuTicks(const std::string& statText);

// A "Key:   value kB" or "key value" field of /proc status-like text; -1 when absent.
long long FieldValue(const std::string& text, const std::string& key);
