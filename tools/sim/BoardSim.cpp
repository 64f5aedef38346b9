#include "BoardSim.h"

#include "ZiwReportEncoder.h"

#include <algorithm>
#include <cmath>

SimFrame Released(const SimFrame& frame)
{
    SimFrame lifted = frame;
    for (SimContact& c : lifted.contacts) {
        c.down = false;
        c.rawStatus = -1;
    }
    return lifted;
}

std::unique_ptr<CReportEncoder> CReportEncoder::Create(const std::string& family)
{
    if (family == "ZIW")
        return std::make_unique<CZiwReportEncoder>();
    return nullptr;
}

// --- Point lists --------------------------------------------------------------

std::vector<SimPoint> Stroke(SimPoint from, SimPoint to, int steps)
{
    std::vector<SimPoint> points;
    if (steps < 1)
        return points;
    points.reserve(static_cast<size_t>(steps));
    points.push_back(from);
    for (int i = 1; i < steps; ++i) {
        const double t = static_cast<double>(i) / (steps - 1);
        points.push_back({static_cast<int>(std::lround(from.x + (to.x - from.x) * t)),
                          static_cast<int>(std::lround(from.y + (to.y - from.y) * t))});
    }
    return points;
}

std::vector<SimPoint> Polyline(const std::vector<SimPoint>& corners, int stepsPerSegment)
{
    std::vector<SimPoint> points;
    if (corners.empty())
        return points;
    points.push_back(corners.front());
    for (size_t i = 1; i < corners.size(); ++i) {
        std::vector<SimPoint> segment = Stroke(corners[i - 1], corners[i], stepsPerSegment + 1);
        if (segment.size() > 1)
            points.insert(points.end(), segment.begin() + 1, segment.end());
    }
    return points;
}

SimFigure RectangleFigure(SimPoint a, SimPoint b, int stepsPerSide)
{
    const SimPoint corners[5] = {a, {b.x, a.y}, b, {a.x, b.y}, a};
    SimFigure figure;
    for (int i = 0; i < 4; ++i)
        figure.push_back(Stroke(corners[i], corners[i + 1], stepsPerSide + 1));
    return figure;
}

std::vector<SimFrame> TouchFrames(const std::vector<SimPath>& contacts, size_t maxContacts, int releases)
{
    std::vector<SimFrame> frames;
    const size_t count = std::min(contacts.size(), maxContacts);
    size_t steps = 0;
    for (size_t i = 0; i < count; ++i)
        steps = std::max(steps, contacts[i].points.size());
    if (steps == 0)
        return frames;

    for (size_t step = 0; step < steps; ++step) {
        SimFrame frame;
        for (size_t i = 0; i < count; ++i) {
            const SimPath& path = contacts[i];
            const SimPoint at = path.points.empty() ? SimPoint() : path.points[std::min(step, path.points.size() - 1)];
            SimContact c = Touching(at, path.size1, path.size2);
            c.down = !path.points.empty();
            frame.contacts.push_back(c);
        }
        frames.push_back(frame);
    }
    const SimFrame lifted = Released(frames.back());
    for (int i = 0; i < releases; ++i)
        frames.push_back(lifted);
    return frames;
}

// --- Timelines ----------------------------------------------------------------

CBoardScript::CBoardScript(const CReportEncoder& encoder, int reportRateHz)
    : m_encoder(encoder),
      m_interval(std::chrono::microseconds(std::lround(1e6 / std::max(reportRateHz, 1))))
{
}

void CBoardScript::Frame(const SimFrame& frame)
{
    m_timeline.reports.push_back({m_timeline.end, m_encoder.Encode(frame)});
    m_timeline.end += m_interval;
}

void CBoardScript::Touch(const std::vector<SimPath>& contacts, int releases)
{
    for (const SimFrame& frame : TouchFrames(contacts, static_cast<size_t>(m_encoder.MaxContacts()), releases))
        Frame(frame);
}

void CBoardScript::Figure(const SimFigure& strokes, int size1, int size2, int releases)
{
    for (const std::vector<SimPoint>& stroke : strokes)
        Touch({SimPath{stroke, size1, size2}}, releases);
}

void CBoardScript::Silence(std::chrono::microseconds quiet)
{
    if (quiet.count() > 0)
        m_timeline.end += quiet;
}

// --- Playing ------------------------------------------------------------------

bool CMemorySink::Write(const SimBytes& bytes)
{
    m_writes.push_back(bytes);
    return true;
}

int CTimelineFeeder::Play(const SimTimeline& timeline)
{
    int written = 0;
    for (const SimTimedReport& report : timeline.reports) {
        if (!m_pacer.WaitUntil(report.at) || !m_sink.Write(report.bytes))
            return written;
        ++written;
    }
    m_pacer.WaitUntil(timeline.end);
    return written;
}

// --- What the driver writes ---------------------------------------------------

void COutputReportReader::Feed(const std::uint8_t* data, std::size_t len,
                               const std::function<void(const SimBytes&)>& onReport)
{
    const size_t size = static_cast<size_t>(m_encoder.OutputReportSize());
    while (len > 0) {
        const size_t take = std::min(len, size - m_partial.size());
        m_partial.insert(m_partial.end(), data, data + take);
        data += take;
        len -= take;
        if (m_partial.size() == size) {
            SimBytes report;
            report.swap(m_partial);
            onReport(report);
        }
    }
}

std::string HexBytes(const SimBytes& bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i)
            text += ' ';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0xF];
    }
    return text;
}
