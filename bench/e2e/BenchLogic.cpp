#include "BenchLogic.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <sstream>

double Percentile(const std::vector<double>& sorted, double percent)
{
    if (sorted.empty())
        return 0;
    // Nearest rank: the smallest sample with at least `percent` % of the samples at or below it.
    std::size_t rank = static_cast<std::size_t>(std::ceil(percent / 100.0 * static_cast<double>(sorted.size())));
    rank = std::min(std::max<std::size_t>(rank, 1), sorted.size());
    return sorted[rank - 1];
}

LatencySummary Summarize(std::vector<double> samples)
{
    LatencySummary s;
    s.count = samples.size();
    if (samples.empty())
        return s;
    std::sort(samples.begin(), samples.end());
    s.p50 = Percentile(samples, 50);
    s.p99 = Percentile(samples, 99);
    s.max = samples.back();
    s.mean = std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size());
    return s;
}

void CSequenceCheck::Arrived(long seq)
{
    if (seq < 0 || seq >= Expected()) {
        ++m_unknown;
        return;
    }
    std::vector<bool>::reference seen = m_seen[static_cast<std::size_t>(seq)];
    if (seen) {
        ++m_duplicates;
        return;
    }
    seen = true;
    ++m_received;
    if (seq < m_highest)
        ++m_reordered;
    else
        m_highest = seq;
}

long CSequenceCheck::LossRuns(long* longest) const
{
    long runs = 0, run = 0, most = 0;
    for (bool seen : m_seen) {
        if (seen) {
            run = 0;
            continue;
        }
        if (run++ == 0)
            ++runs;
        most = std::max(most, run);
    }
    if (longest)
        *longest = most;
    return runs;
}

Pixel CPixelRaster::At(long seq) const
{
    const long k = ((seq % Period()) + Period()) % Period();
    return Pixel{m_left + static_cast<int>(k % m_width), m_top + static_cast<int>(k / m_width)};
}

long CPixelRaster::IndexOf(int x, int y) const
{
    if (x < m_left || y < m_top || x >= m_left + m_width || y >= m_top + m_height)
        return -1;
    return static_cast<long>(y - m_top) * m_width + (x - m_left);
}

long Unwrap(long index, long period, long last)
{
    const long next = last + 1;
    const long base = next - ((next % period) + period) % period; // the period that `next` falls in
    long best = base + index;
    for (long candidate : {base + index - period, base + index + period})
        if (std::labs(candidate - next) < std::labs(best - next))
            best = candidate;
    return best;
}

long long StatCpuTicks(const std::string& statText)
{
    // The command name may hold blanks and parentheses: fields count from the last ')'.
    const std::size_t close = statText.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(statText.substr(close + 1));
    std::string field;
    long long utime = -1, stime = -1;
    // Field 3 (state) is the first after ')'; utime and stime are fields 14 and 15.
    for (int n = 3; n <= 15 && (fields >> field); ++n) {
        if (n == 14)
            utime = std::atoll(field.c_str());
        else if (n == 15)
            stime = std::atoll(field.c_str());
    }
    return utime < 0 || stime < 0 ? -1 : utime + stime;
}

long long FieldValue(const std::string& text, const std::string& key)
{
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, key.size(), key) != 0)
            continue;
        std::size_t at = key.size();
        if (at < line.size() && line[at] == ':')
            ++at;
        if (at >= line.size() || (line[at] != ' ' && line[at] != '\t'))
            continue; // a longer key that starts with this one
        return std::atoll(line.c_str() + at);
    }
    return -1;
}
