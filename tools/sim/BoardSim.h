// A board, simulated: what a whiteboard sends on its report node (touches as
// whole input reports, paced at the board's report rate) and what it makes of
// the reports the driver writes back.
//
// The pieces, from pure to I/O:
// - SimFrame: what the board senses at one instant (contacts in device units);
// - CReportEncoder: a board family's byte layout of input reports, and its
//   view of output reports (one subclass per family, no I/O);
// - Stroke, Polyline, RectangleFigure: point lists for touches;
// - CBoardScript: touches, single frames and silences turned into a
//   SimTimeline (whole reports, each with its time offset);
// - CTimelineFeeder: plays a timeline into a CByteSink, paced by a CPacer;
// - COutputReportReader: cuts what the driver wrote (a byte stream on a
//   pseudo-terminal, whole reports elsewhere) into output reports.
// Sinks and pacers that touch descriptors live in SimIo.h.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using SimBytes = std::vector<std::uint8_t>;

// A position in device units.
struct SimPoint
{
    int x = 0;
    int y = 0;
};

inline bool operator==(const SimPoint& a, const SimPoint& b) { return a.x == b.x && a.y == b.y; }
inline bool operator!=(const SimPoint& a, const SimPoint& b) { return !(a == b); }

// One contact as the board senses it in one report.
struct SimContact
{
    bool down = false;  // touching
    SimPoint pos;
    int size1 = 0;      // the two size values the board measures per contact
    int size2 = 0;
    int rawStatus = -1; // a family's status byte to send instead of the usual one; -1: usual
};

// A contact on the board at `pos` with these size values; lifted, the same
// contact leaving the board there.
inline SimContact Touching(SimPoint pos, int size1 = 0, int size2 = 0)
{
    SimContact c;
    c.down = true;
    c.pos = pos;
    c.size1 = size1;
    c.size2 = size2;
    return c;
}

inline SimContact Lifted(SimPoint pos, int size1 = 0, int size2 = 0)
{
    SimContact c = Touching(pos, size1, size2);
    c.down = false;
    return c;
}

// The board's state at one instant. Slot i is contact i + 1; slots beyond the
// family's contact count are not sent. No slots: nothing on the board.
struct SimFrame
{
    std::vector<SimContact> contacts;
};

// The same contacts, lifted (positions and sizes kept, raw statuses dropped).
SimFrame Released(const SimFrame& frame);

// A board family's report format. Encoders do no I/O and keep no state.
class CReportEncoder
{
public:
    virtual ~CReportEncoder() = default;

    virtual const char* Name() const = 0;
    virtual int InputReportSize() const = 0;
    virtual int OutputReportSize() const = 0;
    virtual int MaxContacts() const = 0;

    // One input report for `frame`. Values that do not fit their field are
    // clamped to it.
    virtual SimBytes Encode(const SimFrame& frame) const = 0;
    // Whether `report` (one whole output report) is the driver's connect command.
    virtual bool IsConnectCommand(const SimBytes& report) const = 0;

    // The encoder of a family by name ("ZIW"); null for a family not simulated.
    static std::unique_ptr<CReportEncoder> Create(const std::string& family);
};

// --- Point lists --------------------------------------------------------------

// `steps` points from `from` to `to`, both ends included, evenly spaced and
// rounded to the nearest device unit. One step gives `from` alone (a tap),
// fewer gives nothing.
std::vector<SimPoint> Stroke(SimPoint from, SimPoint to, int steps);

// A path through `corners`, `stepsPerSegment` points from each corner to the
// next (the corner reached included, the one left not repeated); a single
// corner gives that point alone. Polyline({a, b}, n) equals Stroke(a, b, n + 1).
std::vector<SimPoint> Polyline(const std::vector<SimPoint>& corners, int stepsPerSegment);

// A figure: strokes drawn one after the other, each a separate touch.
using SimFigure = std::vector<std::vector<SimPoint>>;

// The outline of the rectangle with corners `a` and `b` as four strokes, one
// per side, going from `a` along its row first and ending back at `a`.
SimFigure RectangleFigure(SimPoint a, SimPoint b, int stepsPerSide);

// --- Timelines ----------------------------------------------------------------

struct SimTimedReport
{
    std::chrono::microseconds at{0}; // offset from the start of the timeline
    SimBytes bytes;                   // one whole input report
};

struct SimTimeline
{
    std::vector<SimTimedReport> reports; // offsets never decrease
    std::chrono::microseconds end{0};     // when the board may speak again (after a trailing silence)
};

// One contact's path through a touch, with its size values.
struct SimPath
{
    std::vector<SimPoint> points;
    int size1 = 0;
    int size2 = 0;
};

// The frames of a touch: contacts moving together, one frame per step; a
// shorter path holds its last point (an empty one is a lifted contact).
// Then `releases` frames with every contact lifted. Paths beyond
// `maxContacts` are dropped; no frames when no path has points.
std::vector<SimFrame> TouchFrames(const std::vector<SimPath>& contacts, size_t maxContacts, int releases = 1);

// Builds a timeline: reports one report interval apart, in the order given.
class CBoardScript
{
public:
    // Report rates below 1 Hz count as 1 Hz.
    CBoardScript(const CReportEncoder& encoder, int reportRateHz);

    std::chrono::microseconds Interval() const { return m_interval; }

    // One report of `frame` at the next report time.
    void Frame(const SimFrame& frame);
    // The reports of TouchFrames, for the family's contact count.
    void Touch(const std::vector<SimPath>& contacts, int releases = 1);
    // Each stroke as a one-contact touch of its own, each with `releases`.
    void Figure(const SimFigure& strokes, int size1, int size2, int releases = 1);
    // The next report comes `quiet` later than it would have.
    void Silence(std::chrono::microseconds quiet);

    const SimTimeline& Timeline() const { return m_timeline; }

private:
    const CReportEncoder& m_encoder;
    std::chrono::microseconds m_interval;
    SimTimeline m_timeline; // m_timeline.end is the time of the next report
};

// --- Playing ------------------------------------------------------------------

// Where reports go: a report node, a kernel device, a recording.
class CByteSink
{
public:
    virtual ~CByteSink() = default;
    // Writes all of `bytes`; false when the sink failed.
    virtual bool Write(const SimBytes& bytes) = 0;
};

// Keeps every write, for checking what was played.
class CMemorySink : public CByteSink
{
public:
    bool Write(const SimBytes& bytes) override;
    const std::vector<SimBytes>& Writes() const { return m_writes; }

private:
    std::vector<SimBytes> m_writes;
};

// Keeps time for a feeder.
class CPacer
{
public:
    virtual ~CPacer() = default;
    // Returns once `offset` has passed since the pacer's start (its first
    // call); false when playing should stop.
    virtual bool WaitUntil(std::chrono::microseconds offset) = 0;
};

class CTimelineFeeder
{
public:
    CTimelineFeeder(CByteSink& sink, CPacer& pacer) : m_sink(sink), m_pacer(pacer) {}

    // Writes each report in a write of its own at its offset, then waits for
    // the timeline's end. Returns the number of reports written; stops early
    // when a write fails or the pacer says stop.
    int Play(const SimTimeline& timeline);

private:
    CByteSink& m_sink;
    CPacer& m_pacer;
};

// --- What the driver writes ---------------------------------------------------

// Cuts what the driver wrote into whole output reports. A report node that
// is a pseudo-terminal is a byte stream: writes may arrive merged or split.
class COutputReportReader
{
public:
    explicit COutputReportReader(const CReportEncoder& encoder) : m_encoder(encoder) {}

    // Calls `onReport` for every report these bytes complete, in order.
    void Feed(const std::uint8_t* data, std::size_t len, const std::function<void(const SimBytes&)>& onReport);
    // Bytes of an incomplete report held for the next Feed.
    std::size_t Pending() const { return m_partial.size(); }

private:
    const CReportEncoder& m_encoder;
    SimBytes m_partial;
};

// "02 01 01 00": lower-case hex, one space between bytes.
std::string HexBytes(const SimBytes& bytes);
