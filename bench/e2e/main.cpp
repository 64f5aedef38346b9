// skrib-bench: the end-to-end benchmarks of the driver, in one run.
//
// The real SkribZIW serves a simulated ZIW board on a mock bus (umockdev:
// the board's node is a pseudo-terminal whose other end this program
// writes), on a private Xvfb. A second X client, a window over the whole
// screen, stamps the pointer events that the reports cause. Each report
// carries a sequence number twice: in its position (the driver's own
// conversion maps every number of the run to a pixel of its own) and, with
// a clock stamp, in bytes the driver ignores.
//
// The baseline, skrib-bench-direct, reads the same node and calls XTest at
// once; it and the driver take turns on the node, on the same display, in
// the same run.
//
//   latency   one report at a time; write -> motion seen by the observer
//   cost      CPU (user + system) of the consumer per report, 1,000/s
//   rate      8,000 reports/s: delivered, lost, reordered; CPU per report
//   memory    resident memory of a fresh driver, during a long 1,000/s run;
//             a bare wx application on the same display for reference
//   idle      wake-ups of the driver with no board, with a silent board
//             and after an unplug
//
// The settings: RC1 1, RC2 0 (no smoothing: the pointer lands on the
// converted position of each report), GESTURE_T 0 (every touch presses at
// once, no reports held back).
//
// usage: skrib-bench --driver PATH --direct PATH --barewx PATH
//                    [--short] [--table FILE] [--details FILE] [--logs DIR]
//                    [--only machine,latency,cost,rate,memory,idle]
//                    [--rate-seconds N] [--memory-seconds N] [--idle-seconds N]
// Exit status 0 when every benchmark produced its figures (no thresholds).
#include "BenchLogic.h"
#include "ConfigXML.h"
#include "Conversion.h"
#include "MockBoard.h"
#include "PeerSockets.h"
#include "PollThread.h"
#include "SimIo.h"
#include "TestSupport.h"
#include "ZiwReportEncoder.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Micros = std::chrono::microseconds;

constexpr int kScreenWidth = 1920;
constexpr int kScreenHeight = 1080;

// --- Output ------------------------------------------------------------------

FILE* g_details = nullptr;

std::string FormatArgs(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int length = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0)
        return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<size_t>(length));
    return text;
}

std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatArgs(format, args);
    va_end(args);
    return text;
}

// A line of progress on standard error and in the details file, whole
// however long it is.
void Note(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string line = FormatArgs(format, args);
    va_end(args);
    fprintf(stderr, "bench: %s\n", line.c_str());
    if (g_details) {
        fprintf(g_details, "%s\n", line.c_str());
        fflush(g_details);
    }
}

std::string LoadAverage()
{
    std::string text = ReadFile("/proc/loadavg");
    std::istringstream in(text);
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// --- /proc -------------------------------------------------------------------

double CpuSeconds(pid_t pid)
{
    const long long ticks = StatCpuTicks(ReadFile("/proc/" + std::to_string(pid) + "/stat"));
    return ticks < 0 ? -1 : static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long long RssKiB(pid_t pid)
{
    return FieldValue(ReadFile("/proc/" + std::to_string(pid) + "/status"), "VmRSS");
}

// One thread's counters: CPU time (schedstat: user + system, in ns),
// read and write calls, context switches.
struct TaskSample
{
    std::string name;
    long long runNs = 0, reads = 0, writes = 0, voluntary = 0, involuntary = 0;
};

using ProcessSample = std::map<int, TaskSample>;

// Every thread of a process, by thread id.
ProcessSample Sample(pid_t pid)
{
    ProcessSample threads;
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = opendir(dir.c_str());
    if (!d)
        return threads;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        const std::string task = dir + "/" + e->d_name;
        const std::string status = ReadFile(task + "/status");
        const std::string io = ReadFile(task + "/io");
        TaskSample t;
        t.name = ReadFile(task + "/comm");
        if (!t.name.empty() && t.name.back() == '\n')
            t.name.pop_back();
        t.runNs = atoll(ReadFile(task + "/schedstat").c_str());
        t.reads = FieldValue(io, "syscr");
        t.writes = FieldValue(io, "syscw");
        t.voluntary = FieldValue(status, "voluntary_ctxt_switches");
        t.involuntary = FieldValue(status, "nonvoluntary_ctxt_switches");
        if (t.voluntary >= 0)
            threads[atoi(e->d_name)] = t;
    }
    closedir(d);
    return threads;
}

// What each thread did between two samples (threads that began meanwhile
// count from zero; threads that ended meanwhile are not seen).
ProcessSample Delta(const ProcessSample& before, const ProcessSample& after)
{
    ProcessSample delta;
    for (const auto& a : after) {
        TaskSample d = a.second;
        const auto b = before.find(a.first);
        if (b != before.end()) {
            d.runNs -= b->second.runNs;
            d.reads -= b->second.reads;
            d.writes -= b->second.writes;
            d.voluntary -= b->second.voluntary;
            d.involuntary -= b->second.involuntary;
        }
        delta[a.first] = d;
    }
    return delta;
}

TaskSample Total(const ProcessSample& sample)
{
    TaskSample total;
    for (const auto& t : sample) {
        total.runNs += t.second.runNs;
        total.reads += t.second.reads;
        total.writes += t.second.writes;
        total.voluntary += t.second.voluntary;
        total.involuntary += t.second.involuntary;
    }
    return total;
}

// Per thread: "name[tid] cpu-ms reads writes voluntary/involuntary".
std::string Describe(const ProcessSample& delta)
{
    std::string text;
    for (const auto& t : delta)
        text += Format(" %s[%d]: %.1f ms cpu, %lld reads, %lld writes, %lld/%lld switches;", t.second.name.c_str(),
                       t.first, t.second.runNs / 1e6, t.second.reads, t.second.writes, t.second.voluntary,
                       t.second.involuntary);
    return text;
}

// --- The display ---------------------------------------------------------------

// The second X client: a window over the whole screen that receives every
// pointer event, on a thread of its own, and stamps each on arrival.
class CPointerWatch
{
public:
    explicit CPointerWatch(const CPixelRaster& raster) : m_raster(raster) {}
    ~CPointerWatch() { Close(); }

    bool Open(const std::string& name)
    {
        m_display = XOpenDisplay(name.c_str());
        if (!m_display)
            return false;
        const int screen = DefaultScreen(m_display);
        m_window = XCreateSimpleWindow(m_display, RootWindow(m_display, screen), 0, 0,
                                       static_cast<unsigned>(DisplayWidth(m_display, screen)),
                                       static_cast<unsigned>(DisplayHeight(m_display, screen)), 0, 0, 0);
        XSelectInput(m_display, m_window, ButtonPressMask | ButtonReleaseMask | PointerMotionMask | StructureNotifyMask);
        XMapWindow(m_display, m_window);
        XEvent e;
        do
            XNextEvent(m_display, &e);
        while (e.type != MapNotify);
        return m_thread.Start(ConnectionNumber(m_display), [this](short) { return OnReadable(); });
    }

    void Close()
    {
        m_thread.Stop();
        if (m_display)
            XCloseDisplay(m_display);
        m_display = nullptr;
    }

    // A new run of `expected` numbers: stamps (latency) or a sequence check (rate).
    void Begin(long expected, bool stamps)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_last = -1;
        m_stamps.assign(stamps ? static_cast<std::size_t>(expected) : 0, Clock::time_point());
        m_check.reset(new CSequenceCheck(expected));
        m_offRaster = 0;
    }

    // The arrival of number `seq` of the run (latency runs); false after the time-out.
    bool WaitStamp(long seq, Clock::time_point& at, int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const bool got = m_cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            return seq < static_cast<long>(m_stamps.size()) && m_stamps[static_cast<std::size_t>(seq)] != Clock::time_point();
        });
        if (got)
            at = m_stamps[static_cast<std::size_t>(seq)];
        return got;
    }

    // Waits until `count` presses (or releases) have been seen in all.
    bool WaitButtons(long presses, long releases, int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cond.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return m_presses >= presses && m_releases >= releases; });
    }

    long Presses()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_presses;
    }
    long Releases()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_releases;
    }

    // The sequence check of the run so far, and motions off the raster.
    CSequenceCheck Check(long& offRaster)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        offRaster = m_offRaster;
        return m_check ? *m_check : CSequenceCheck(0);
    }

private:
    // Everything the connection has brought, stamped on arrival.
    bool OnReadable()
    {
        while (XPending(m_display)) {
            XEvent e;
            XNextEvent(m_display, &e);
            const Clock::time_point now = Clock::now();
            std::lock_guard<std::mutex> lock(m_mutex);
            if (e.type == ButtonPress)
                ++m_presses;
            else if (e.type == ButtonRelease)
                ++m_releases;
            else if (e.type == MotionNotify)
                Motion(e.xmotion.x, e.xmotion.y, now);
            else
                continue;
            m_cond.notify_all();
        }
        return true;
    }

    // With m_mutex held.
    void Motion(int x, int y, Clock::time_point now)
    {
        const long index = m_raster.IndexOf(x, y);
        if (index < 0 || !m_check) {
            ++m_offRaster; // the press point, the lift
            return;
        }
        const long seq = Unwrap(index, m_raster.Period(), m_last);
        m_last = seq;
        m_check->Arrived(seq);
        if (seq >= 0 && seq < static_cast<long>(m_stamps.size()) && m_stamps[static_cast<std::size_t>(seq)] == Clock::time_point())
            m_stamps[static_cast<std::size_t>(seq)] = now;
    }

    const CPixelRaster& m_raster;
    Display* m_display = nullptr;
    Window m_window = 0;
    CPollThread m_thread;

    std::mutex m_mutex; // guards everything below
    std::condition_variable m_cond;
    long m_presses = 0, m_releases = 0, m_offRaster = 0, m_last = -1;
    std::vector<Clock::time_point> m_stamps;
    std::unique_ptr<CSequenceCheck> m_check;
};

// --- The board's side ------------------------------------------------------------

// Reads what the consumer writes to the board (the driver's connect
// commands) on a thread of its own, so that the node never fills up.
class CBoardEcho
{
public:
    ~CBoardEcho() { Stop(); }

    void Start(int fd)
    {
        Stop();
        m_fd = fd;
        m_reader.reset(new COutputReportReader(m_encoder)); // nothing held from an earlier node
        m_thread.Start(m_fd, [this](short revents) { return OnReadable(revents); });
    }

    void Stop() { m_thread.Stop(); }

    int Connects() const { return m_connects.load(); }

private:
    bool OnReadable(short revents)
    {
        if (revents & POLLIN) {
            std::uint8_t buf[512];
            const ssize_t n = read(m_fd, buf, sizeof buf);
            if (n > 0) {
                m_reader->Feed(buf, static_cast<size_t>(n), [&](const SimBytes& r) {
                    if (m_encoder.IsConnectCommand(r))
                        ++m_connects;
                });
                return true;
            }
        }
        // Nobody holds the node's other end: look again a little later.
        return !m_thread.StopAsked(10);
    }

    CZiwReportEncoder m_encoder;
    std::unique_ptr<COutputReportReader> m_reader;
    int m_fd = -1;
    CPollThread m_thread;
    std::atomic<int> m_connects{0};
};

// --- Positions ----------------------------------------------------------------------

// Device positions for screen pixels, found with the driver's own
// conversion and settings.
class CPlacer
{
public:
    bool Build(int width, int height, const CPixelRaster& raster, Pixel press, std::string& error)
    {
        std::unique_ptr<CConversionBase> conv(CConversionBase::CreateConversion("SkribWorkZIW"));
        conv->Init(width, height);
        auto middle = [](std::vector<int>& first, std::vector<int>& last, int at, int device) {
            if (at < 0 || at >= static_cast<int>(first.size()))
                return;
            if (first[static_cast<size_t>(at)] < 0)
                first[static_cast<size_t>(at)] = device;
            last[static_cast<size_t>(at)] = device;
        };
        std::vector<int> firstX(static_cast<size_t>(width), -1), lastX(static_cast<size_t>(width), -1);
        std::vector<int> firstY(static_cast<size_t>(height), -1), lastY(static_cast<size_t>(height), -1);
        for (int d = 0; d < 32768; ++d) {
            middle(firstX, lastX, conv->Conversion(wxRealPoint(d, 16384)).x, d);
            middle(firstY, lastY, conv->Conversion(wxRealPoint(16384, d)).y, d);
        }
        m_x.assign(static_cast<size_t>(width), -1);
        m_y.assign(static_cast<size_t>(height), -1);
        for (size_t i = 0; i < m_x.size(); ++i)
            if (firstX[i] >= 0)
                m_x[i] = (firstX[i] + lastX[i]) / 2;
        for (size_t i = 0; i < m_y.size(); ++i)
            if (firstY[i] >= 0)
                m_y[i] = (firstY[i] + lastY[i]) / 2;
        // Every pixel of the raster, and the press point, must come back exactly.
        std::vector<Pixel> check = {press};
        for (int y = raster.Top(); y < raster.Top() + raster.Height(); ++y)
            for (int x = raster.Left(); x < raster.Left() + raster.Width(); ++x)
                check.push_back({x, y});
        for (const Pixel& p : check) {
            const int dx = m_x[static_cast<size_t>(p.x)], dy = m_y[static_cast<size_t>(p.y)];
            const wxPoint got = dx < 0 || dy < 0 ? wxPoint(-1, -1) : conv->Conversion(wxRealPoint(dx, dy));
            if (got.x != p.x || got.y != p.y) {
                error = Format("pixel %d,%d has no device position of its own", p.x, p.y);
                return false;
            }
        }
        return true;
    }

    SimPoint Device(Pixel p) const { return {m_x[static_cast<size_t>(p.x)], m_y[static_cast<size_t>(p.y)]}; }

private:
    std::vector<int> m_x, m_y;
};

// One 64-byte report: contact 1 touching at `at` (or nothing touching), with
// the sequence number and the clock stamp in bytes 21..32, which the
// driver does not read.
class CReportMaker
{
public:
    CReportMaker()
    {
        SimFrame frame;
        frame.contacts = {Touching({0, 0})};
        m_touch = m_encoder.Encode(frame);
        m_lift = m_encoder.Encode(SimFrame());
    }

    SimBytes Touch(SimPoint at, std::uint32_t seq, std::int64_t stampNs) const
    {
        SimBytes r = m_touch;
        r[3] = static_cast<std::uint8_t>(at.x);
        r[4] = static_cast<std::uint8_t>(at.x >> 8);
        r[5] = static_cast<std::uint8_t>(at.y);
        r[6] = static_cast<std::uint8_t>(at.y >> 8);
        memcpy(&r[21], &seq, sizeof seq);
        memcpy(&r[25], &stampNs, sizeof stampNs);
        return r;
    }

    SimBytes Lift() const { return m_lift; }

    // The hand-made layout agrees with the simulator's encoder.
    bool SelfCheck() const
    {
        SimFrame frame;
        frame.contacts = {Touching({12345, 23456})};
        SimBytes mine = Touch(frame.contacts[0].pos, 0, 0);
        return mine == m_encoder.Encode(frame);
    }

private:
    CZiwReportEncoder m_encoder;
    SimBytes m_touch, m_lift;
};

std::int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// --- Results --------------------------------------------------------------------------

struct StreamResult
{
    bool ok = false;
    long sent = 0;
    double seconds = 0;       // from the first write to the last
    double cpu = 0;           // consumer, user + system (schedstat), s
    double cpuTicks = 0;      // the same from /proc/PID/stat (clock ticks), as a cross-check
    double serverCpu = 0;     // the X server
    long long writes = -1;    // consumer's write calls (driver: one flush per injected event)
    double readerCpu = 0, injectCpu = 0; // the driver's thread that reads the node, the one that writes to X
    long long readerReads = 0, readerSwitches = 0, injectSwitches = 0;
    std::string threads;      // what each thread did
    long delivered = 0, lost = 0, reordered = 0, duplicates = 0, unknown = 0;
    long lossRuns = 0, longestLoss = 0; // runs of consecutive lost reports
    std::vector<std::pair<double, long long>> rss; // (seconds into the run, KiB)
};

struct Row
{
    std::string name, driver, baseline, ratio, target, verdict;
};

class CTable
{
public:
    void Add(const Row& row) { m_rows.push_back(row); }
    std::string Markdown() const
    {
        std::string text = "| Benchmark | Driver | Baseline / reference | Ratio | Target | Met |\n"
                           "| --- | --- | --- | --- | --- | --- |\n";
        for (const Row& r : m_rows)
            text += "| " + r.name + " | " + r.driver + " | " + r.baseline + " | " + r.ratio + " | " + r.target + " | " +
                    r.verdict + " |\n";
        return text;
    }

private:
    std::vector<Row> m_rows;
};

std::string YesNo(bool met)
{
    return met ? "yes" : "**no**";
}

// --- The benchmark ------------------------------------------------------------------------

struct Settings
{
    bool quick = false;
    std::string driver, direct, barewx, table, details;
    std::string only; // comma-separated phases to run (default: all)
    std::string logs; // where the consumers' logs go (default: the working folder, removed at the end)
    int latencyBlocks = 10, latencySamples = 500, latencyWarmup = 50;
    int costSeconds = 30, rateSeconds = 60, memorySeconds = 600, idleSeconds = 60;
    int memorySampleSeconds = 10;
};

class CBench
{
public:
    explicit CBench(const Settings& s)
        : m_s(s), m_raster(100, 100, kScreenWidth - 200, kScreenHeight - 200), m_watch(m_raster)
    {
    }

    bool Setup(std::string& error)
    {
        if (!m_bus.Ready()) {
            error = "not under the mock's preload";
            return false;
        }
        if (m_folder.Path().empty()) {
            error = "no working folder";
            return false;
        }
        m_lockDir = MakeTempDir();
        // No smoothing delay, no gestures: the pipeline alone is measured.
        if (!EditSettings(CONFIG_FILE, [](CConfigXML& c) {
                c.writeStr("SkribWorkZIW", "Constants", "RC1", "1");
                c.writeStr("SkribWorkZIW", "Constants", "RC2", "0");
                c.writeInt("SkribWorkZIW", "DriverSet", "GESTURE_T", 0);
                return true;
            })) {
            error = "the working folder has no settings file";
            return false;
        }
        if (!m_maker.SelfCheck()) {
            error = "the report layout does not match the simulator's encoder";
            return false;
        }
        if (!m_placer.Build(kScreenWidth, kScreenHeight, m_raster, m_press, error))
            return false;
        if (!m_server.Start(kScreenWidth, kScreenHeight)) {
            error = "Xvfb did not start";
            return false;
        }
        if (!m_watch.Open(m_server.Display())) {
            error = "the observer cannot open the display";
            return false;
        }
        m_peer = BindLoopback(SOCK_DGRAM, 0, m_peerPort, error);
        if (m_peer < 0)
            return false;
        Note("display %s %dx%d (Xvfb pid %d), working folder %s", m_server.Display().c_str(), kScreenWidth,
             kScreenHeight, static_cast<int>(m_server.Pid()), m_folder.Path().c_str());
        return Plug(error);
    }

    ~CBench()
    {
        m_echo.Stop();
        if (m_peer >= 0)
            close(m_peer);
        m_watch.Close();
        m_server.Stop();
        if (!m_lockDir.empty())
            RemoveTree(m_lockDir);
    }

    bool Run()
    {
        bool ok = true;
        Note("load average at start: %s", LoadAverage().c_str());
        for (const char* phase : {"machine", "latency", "cost", "rate", "memory", "idle"}) {
            if (!Wanted(phase))
                continue;
            Load(phase);
            const std::string name = phase;
            if (name == "machine")
                Machine();
            else if (name == "latency")
                ok = Latency() && ok;
            else if (name == "cost")
                ok = Cost() && ok;
            else if (name == "rate")
                ok = Rate() && ok;
            else if (name == "memory")
                ok = Memory() && ok;
            else
                ok = Idle() && ok;
        }
        m_table.Add({"Load average (1 min) when each benchmark began: " + m_loads, "–", "–", "–", "–", "–"});
        Note("load average at end: %s", LoadAverage().c_str());
        return ok;
    }

    const CTable& Table() const { return m_table; }

private:
    // The 1-minute load average when a phase starts, for the table.
    void Load(const char* phase)
    {
        const std::string load = LoadAverage();
        m_loads += (m_loads.empty() ? "" : ", ") + std::string(phase) + " " + load.substr(0, load.find(' '));
    }

    bool Wanted(const char* phase) const
    {
        return m_s.only.empty() || ("," + m_s.only + ",").find(std::string(",") + phase + ",") != std::string::npos;
    }

    // --- Consumers of the node.

    bool Plug(std::string& error)
    {
        if (!m_bus.Plug(error))
            return false;
        MakeRawIfTty(m_bus.NodeFd());
        m_echo.Start(m_bus.NodeFd());
        return true;
    }

    void Unplug()
    {
        m_echo.Stop();
        m_bus.Unplug();
    }

    // Drops what a previous consumer left unread, in both directions.
    void FlushNode()
    {
        if (m_bus.Plugged())
            tcflush(m_bus.NodeFd(), TCIOFLUSH);
    }

    std::string NextLog(const char* what)
    {
        const std::string dir = m_s.logs.empty() ? m_folder.Path() : m_s.logs;
        return dir + "/" + what + "-" + std::to_string(++m_logs) + ".log";
    }

    // Starts the driver; with a board, waits until its read loop runs and it
    // has announced the board to the whiteboard application.
    bool StartDriver(CChildProcess& proc, std::string& log, bool board)
    {
        FlushNode();
        DrainPeer();
        m_softPort = FreeLoopbackUdpPort();
        const int soft = m_softPort;
        log = NextLog("driver");
        const int connects = m_echo.Connects();
        const std::vector<std::string> argv = {m_s.driver,  "--workdir",     m_folder.Path(),        "--lockdir",
                                               m_lockDir,   "--inject",      "xtest",                "--soft-port",
                                               std::to_string(soft), "--soft-peer-port", std::to_string(m_peerPort)};
        if (!proc.Start(argv, {{"DISPLAY", m_server.Display()}, {"WAYLAND_DISPLAY", ""}, {"LANG", "C"}}, log,
                        m_folder.Path())) {
            Note("the driver did not start");
            return false;
        }
        if (board) {
            // Init writes the connect command, the read loop writes it again.
            if (!WaitUntil([&] { return m_echo.Connects() >= connects + 2; }, 30000)) {
                Note("the driver did not open the board (see %s)", log.c_str());
                return false;
            }
            if (!WaitDatagram("#TQ@DouPenEnabled", 10000)) {
                Note("the driver did not announce the board (see %s)", log.c_str());
                return false;
            }
        } else if (!WaitUntil([&] { return ReadPidEntry(m_folder.Path()) == proc.Pid(); }, 30000)) {
            Note("the driver did not come up (see %s)", log.c_str());
            return false;
        }
        return true;
    }

    bool StopDriver(CChildProcess& proc, const std::string& log)
    {
        proc.Signal(SIGTERM);
        int status = 0;
        if (!proc.WaitExit(15000, status)) {
            Note("the driver did not end within 15 s (see %s)", log.c_str());
            return false;
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            Note("the driver ended with status %d (see %s)", status, log.c_str());
            return false;
        }
        return true;
    }

    bool StartDirect(CChildProcess& proc, std::string& log)
    {
        FlushNode();
        log = NextLog("direct");
        if (!proc.Start({m_s.direct, "--node", m_bus.Node()}, {{"DISPLAY", m_server.Display()}}, log,
                        m_folder.Path()) ||
            !WaitUntil([&] { return ReadFile(log).find("ready") != std::string::npos; }, 10000)) {
            Note("the direct baseline did not start (see %s)", log.c_str());
            return false;
        }
        return true;
    }

    void StopDirect(CChildProcess& proc)
    {
        proc.Signal(SIGTERM);
        int status = 0;
        proc.WaitExit(5000, status);
    }

    void DrainPeer()
    {
        char buf[256];
        while (recv(m_peer, buf, sizeof buf, MSG_DONTWAIT) > 0) {
        }
    }

    bool WaitDatagram(const std::string& text, int timeoutMs)
    {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < deadline) {
            if (!WaitReadable(m_peer, 50))
                continue;
            char buf[256];
            const ssize_t n = recv(m_peer, buf, sizeof buf, 0);
            if (n > 0 && std::string(buf, static_cast<size_t>(n)) == text)
                return true;
        }
        return false;
    }

    // --- Touches.

    bool Press()
    {
        const long presses = m_watch.Presses() + 1;
        return m_bus.Send(m_maker.Touch(m_placer.Device(m_press), 0, NowNs())) &&
               m_watch.WaitButtons(presses, 0, 10000);
    }

    bool Lift(int timeoutMs)
    {
        const long releases = m_watch.Releases() + 1;
        return m_bus.Send(m_maker.Lift()) && m_watch.WaitButtons(0, releases, timeoutMs);
    }

    // One touch of `warmup` unmeasured moves, then `samples` moves, one at a
    // time: each written when the previous one has been seen, after a pause
    // of 1 to 3 ms. Latencies in microseconds.
    bool LatencyBlock(int samples, std::vector<double>& latencies, long& missed)
    {
        const int total = m_s.latencyWarmup + samples;
        m_watch.Begin(total, true);
        if (!Press())
            return false;
        unsigned random = 12345;
        for (int i = 0; i < total; ++i) {
            random = random * 1103515245u + 12345u;
            std::this_thread::sleep_for(Micros(1000 + (random >> 8) % 2000));
            const SimPoint at = m_placer.Device(m_raster.At(i));
            const std::int64_t stamp = NowNs();
            const Clock::time_point sent = Clock::now();
            if (!m_bus.Send(m_maker.Touch(at, static_cast<std::uint32_t>(i), stamp)))
                return false;
            Clock::time_point seen;
            if (!m_watch.WaitStamp(i, seen, 1000)) {
                ++missed;
                continue;
            }
            if (i >= m_s.latencyWarmup)
                latencies.push_back(std::chrono::duration<double, std::micro>(seen - sent).count());
        }
        return Lift(10000);
    }

    // `count` moves at `rate` per second, each written at its own time, one
    // write per report. CPU, write calls and resident memory of `consumer`
    // are taken from just before the first report to just after the lift
    // has been seen.
    StreamResult Stream(pid_t consumer, int rate, double seconds)
    {
        StreamResult r;
        const long count = static_cast<long>(rate * seconds);
        m_watch.Begin(count, false);
        if (!Press())
            return r;
        prctl(PR_SET_TIMERSLACK, 1UL);
        const double ticks0 = CpuSeconds(consumer);
        const ProcessSample before = Sample(consumer), serverBefore = Sample(m_server.Pid());
        const std::int64_t intervalNs = 1000000000LL / rate;
        const Clock::time_point start = Clock::now();
        const long sampleEvery = static_cast<long>(m_s.memorySampleSeconds) * rate;
        r.rss.emplace_back(0.0, RssKiB(consumer));
        long i = 0;
        for (; i < count; ++i) {
            const Clock::time_point due = start + std::chrono::nanoseconds(intervalNs * i);
            if (Clock::now() < due) {
                const std::int64_t dueNs = std::chrono::duration_cast<std::chrono::nanoseconds>(due.time_since_epoch()).count();
                timespec ts = {static_cast<time_t>(dueNs / 1000000000LL), static_cast<long>(dueNs % 1000000000LL)};
                while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
                }
            }
            if (!m_bus.Send(m_maker.Touch(m_placer.Device(m_raster.At(i)), static_cast<std::uint32_t>(i), NowNs())))
                break;
            if (sampleEvery > 0 && i > 0 && i % sampleEvery == 0)
                r.rss.emplace_back(static_cast<double>(i) / rate, RssKiB(consumer));
        }
        r.sent = i;
        r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const bool lifted = Lift(60000);
        const ProcessSample delta = Delta(before, Sample(consumer));
        r.cpuTicks = CpuSeconds(consumer) - ticks0;
        const TaskSample total = Total(delta);
        r.cpu = total.runNs / 1e9;
        r.writes = total.writes;
        r.serverCpu = Total(Delta(serverBefore, Sample(m_server.Pid()))).runNs / 1e9;
        r.threads = Describe(delta);
        // The thread that read the node most, and the one that wrote most (to X).
        const TaskSample* reader = nullptr;
        const TaskSample* inject = nullptr;
        for (const auto& t : delta) {
            if (!reader || t.second.reads > reader->reads)
                reader = &t.second;
            if (!inject || t.second.writes > inject->writes)
                inject = &t.second;
        }
        if (reader && inject) {
            r.readerCpu = reader->runNs / 1e9;
            r.injectCpu = inject->runNs / 1e9;
            r.readerReads = reader->reads;
            r.readerSwitches = reader->voluntary;
            r.injectSwitches = reader != inject ? inject->voluntary : 0; // one thread: counted once
        }
        r.rss.emplace_back(r.seconds, RssKiB(consumer));
        long offRaster = 0;
        const CSequenceCheck check = m_watch.Check(offRaster);
        r.delivered = check.Received();
        r.lost = r.sent - check.Received();
        r.reordered = check.Reordered();
        r.duplicates = check.Duplicates();
        r.lossRuns = check.LossRuns(&r.longestLoss);
        // The press point's motion is off the raster by design; any other is stray.
        r.unknown = check.Unknown() + std::max(0L, offRaster - 1);
        r.ok = lifted && r.sent == count;
        if (!lifted)
            Note("the lift after the run was not seen within 60 s");
        return r;
    }

    void NoteStream(const char* who, int rate, const StreamResult& r)
    {
        Note("%s at %d/s: %ld reports in %.2f s (%.0f/s), delivered %ld, lost %ld (%ld runs, longest %ld), reordered %ld, duplicates %ld, "
             "stray motions %ld; CPU %.3f s (%.2f us/report; from clock ticks %.2f s), X server CPU %.3f s "
             "(%.2f us/report), write calls %lld; per thread:%s",
             who, rate, r.sent, r.seconds, r.sent / std::max(r.seconds, 1e-9), r.delivered, r.lost, r.lossRuns, r.longestLoss, r.reordered,
             r.duplicates, r.unknown, r.cpu, PerReport(r.cpu, r.sent), r.cpuTicks, r.serverCpu,
             PerReport(r.serverCpu, r.sent), r.writes, r.threads.c_str());
    }

    static double PerReport(double seconds, long reports) { return reports > 0 ? seconds * 1e6 / reports : 0; }

    // --- The benchmarks.

    static double ProcessCpu()
    {
        timespec t;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
    }

    // What the kernel charges on this machine for the two things every
    // report costs: a system call, and handing work to a sleeping thread
    // (a condition variable, as the driver's receive queue does).
    void Machine()
    {
        const int calls = m_s.quick ? 20000 : 500000;
        double c0 = ProcessCpu();
        for (int i = 0; i < calls; ++i)
            syscall(SYS_getppid);
        const double perCall = (ProcessCpu() - c0) * 1e6 / calls;

        const int rounds = m_s.quick ? 2000 : 50000;
        std::mutex mutex;
        std::condition_variable cond;
        int turn = 0; // even: the main thread's, odd: the partner's
        std::thread partner([&] {
            for (int i = 0; i < rounds; ++i) {
                std::unique_lock<std::mutex> lock(mutex);
                cond.wait(lock, [&] { return turn % 2 == 1; });
                ++turn;
                cond.notify_one();
            }
        });
        c0 = ProcessCpu();
        const Clock::time_point w0 = Clock::now();
        for (int i = 0; i < rounds; ++i) {
            std::unique_lock<std::mutex> lock(mutex);
            ++turn;
            cond.notify_one();
            cond.wait(lock, [&] { return turn % 2 == 0; });
        }
        const double perHandOver = (ProcessCpu() - c0) * 1e6 / (2.0 * rounds);
        const double wallHandOver = std::chrono::duration<double, std::micro>(Clock::now() - w0).count() / (2.0 * rounds);
        partner.join();
        const double ptyRate = PtyReportsPerSecond(m_s.quick ? 0.2 : 2.0);
        Note("machine: a system call %.2f us CPU; a hand-over to a sleeping thread %.2f us CPU, %.2f us wall; a "
             "pseudo-terminal carries %.0f reports/s (load %s)",
             perCall, perHandOver, wallHandOver, ptyRate, LoadAverage().c_str());
        m_table.Add({"Machine: one system call (getppid), CPU", Format("%.2f µs", perCall), "–", "–", "–", "–"});
        m_table.Add({"Machine: one hand-over to a sleeping thread (condition variable), CPU / wall",
                     Format("%.1f / %.1f µs", perHandOver, wallHandOver), "–", "–", "–", "–"});
        m_table.Add({"Machine: 64-byte reports a pseudo-terminal carries (one write each, a reader thread), per second",
                     Format("%.0f", ptyRate), "–", "–", "–", "–"});
    }

    // What the node itself can carry: 64-byte writes into a fresh raw
    // pseudo-terminal as fast as they go, a thread reading the other end.
    static double PtyReportsPerSecond(double seconds)
    {
        const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            if (master >= 0)
                close(master);
            return 0;
        }
        const int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0) {
            close(master);
            return 0;
        }
        MakeRawIfTty(slave);
        std::atomic<bool> done{false};
        std::atomic<long long> received{0};
        std::thread reader([&] {
            unsigned char buf[4096];
            pollfd p = {slave, POLLIN, 0};
            while (!done.load()) {
                if (poll(&p, 1, 100) <= 0)
                    continue;
                const ssize_t n = read(slave, buf, sizeof buf);
                if (n > 0)
                    received += n;
            }
        });
        const SimBytes report(64, 1);
        long long sent = 0;
        const Clock::time_point start = Clock::now();
        const Clock::time_point end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        CFdSink sink(master);
        while (Clock::now() < end && sink.Write(report))
            sent += 64;
        // Until everything written has been read.
        while (received.load() < sent && Clock::now() < end + std::chrono::seconds(5))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        done = true;
        reader.join();
        close(slave);
        close(master);
        return static_cast<double>(received.load()) / 64.0 / elapsed;
    }

    bool Latency()
    {
        Note("latency: %d blocks of %d samples each for the driver and the direct baseline (load %s)",
             m_s.latencyBlocks, m_s.latencySamples, LoadAverage().c_str());
        std::vector<double> driver, direct;
        long driverMissed = 0, directMissed = 0;
        bool ok = true;
        // Short blocks taking turns, so that a change of the machine's load
        // falls on both alike.
        for (int block = 0; block < m_s.latencyBlocks && ok; ++block) {
            std::vector<double> d1, b1;
            CChildProcess d;
            std::string log;
            ok = StartDriver(d, log, true) && LatencyBlock(m_s.latencySamples, d1, driverMissed);
            ok = StopDriver(d, log) && ok;
            CChildProcess b;
            ok = ok && StartDirect(b, log) && LatencyBlock(m_s.latencySamples, b1, directMissed);
            StopDirect(b);
            const LatencySummary sd = Summarize(d1), sb = Summarize(b1);
            Note("latency block %d: driver p50 %.1f p99 %.1f us, direct p50 %.1f p99 %.1f us (load %s)", block + 1, sd.p50,
                 sd.p99, sb.p50, sb.p99, LoadAverage().c_str());
            driver.insert(driver.end(), d1.begin(), d1.end());
            direct.insert(direct.end(), b1.begin(), b1.end());
        }
        if (!ok || driver.empty() || direct.empty()) {
            Note("latency: no figures");
            return false;
        }
        const LatencySummary sd = Summarize(driver), sb = Summarize(direct);
        Note("latency driver: n %zu, p50 %.1f us, p99 %.1f us, max %.1f us, mean %.1f us, not seen %ld", sd.count,
             sd.p50, sd.p99, sd.max, sd.mean, driverMissed);
        Note("latency direct: n %zu, p50 %.1f us, p99 %.1f us, max %.1f us, mean %.1f us, not seen %ld", sb.count,
             sb.p50, sb.p99, sb.max, sb.mean, directMissed);
        const double r50 = sd.p50 / sb.p50, r99 = sd.p99 / sb.p99;
        m_table.Add({Format("Latency p50, report written to motion seen (%zu + %zu samples)", sd.count, sb.count),
                     Format("%.0f µs", sd.p50), Format("%.0f µs (direct)", sb.p50), Format("%.2f", r50), "≤ 1.2",
                     YesNo(r50 <= 1.2)});
        m_table.Add({"Latency p99", Format("%.0f µs", sd.p99), Format("%.0f µs (direct)", sb.p99), Format("%.2f", r99),
                     "≤ 1.5", YesNo(r99 <= 1.5)});
        m_table.Add({"Latency max", Format("%.0f µs", sd.max), Format("%.0f µs (direct)", sb.max),
                     Format("%.2f", sd.max / sb.max), "–", "–"});
        if (driverMissed + directMissed > 0)
            m_table.Add({"Latency: moves not seen within 1 s", Format("%ld", driverMissed), Format("%ld", directMissed),
                         "–", "0", YesNo(driverMissed == 0)});
        return true;
    }

    // One stream by the driver and one by the direct baseline, each with a
    // fresh process.
    bool StreamPair(int rate, double seconds, StreamResult& driver, StreamResult& direct)
    {
        CChildProcess d;
        std::string log;
        bool ok = StartDriver(d, log, true);
        if (ok) {
            driver = Stream(d.Pid(), rate, seconds);
            NoteStream("driver", rate, driver);
        }
        ok = StopDriver(d, log) && ok && driver.ok;
        CChildProcess b;
        if (ok && StartDirect(b, log)) {
            direct = Stream(b.Pid(), rate, seconds);
            NoteStream("direct", rate, direct);
        }
        StopDirect(b);
        return ok && direct.ok;
    }

    bool Cost()
    {
        Note("cost: 1000 reports/s for %d s each (load %s)", m_s.costSeconds, LoadAverage().c_str());
        StreamResult d, b;
        if (!StreamPair(1000, m_s.costSeconds, d, b)) {
            Note("cost: no figures");
            return false;
        }
        CostRows(1000, d, b);
        m_table.Add({"Rate at 1000/s: lost / reordered", Format("%ld / %ld", d.lost, d.reordered),
                     Format("%ld / %ld (direct)", b.lost, b.reordered), "–", "0 / 0", YesNo(d.lost == 0 && d.reordered == 0)});
        return true;
    }

    void CostRows(int rate, const StreamResult& d, const StreamResult& b)
    {
        const double cd = PerReport(d.cpu, d.sent), cb = PerReport(b.cpu, b.sent);
        m_table.Add({Format("CPU per report at %d/s, user + system, injection included (%.0f s)", rate, d.seconds),
                     Format("%.1f µs", cd), Format("%.1f µs (direct)", cb), Format("%.2f", cb > 0 ? cd / cb : 0), "≤ 5 µs",
                     YesNo(cd <= 5)});
        const double switchesD = d.sent > 0 ? static_cast<double>(d.readerSwitches + d.injectSwitches) / d.sent : 0;
        m_table.Add({"… of which the driver's node reader / injecting work thread; their sleeps per report",
                     Format("%.1f / %.1f µs; %.2f sleeps", PerReport(d.readerCpu, d.sent), PerReport(d.injectCpu, d.sent),
                            switchesD),
                     Format("one thread; %.2f sleeps (direct)", b.sent > 0 ? static_cast<double>(b.readerSwitches) / b.sent : 0),
                     "–", "–", "–"});
        m_table.Add({Format("X server CPU per report at %d/s (reference)", rate), Format("%.1f µs", PerReport(d.serverCpu, d.sent)),
                     Format("%.1f µs (direct)", PerReport(b.serverCpu, b.sent)), "–", "–", "–"});
    }

    bool Rate()
    {
        Note("rate: 8000 reports/s for %d s each (load %s)", m_s.rateSeconds, LoadAverage().c_str());
        StreamResult d8, b8;
        if (!StreamPair(8000, m_s.rateSeconds, d8, b8)) {
            Note("rate: no figures");
            return false;
        }
        CostRows(8000, d8, b8);
        m_table.Add({Format("Rate: 8000/s for %d s, reports sent (rate achieved)", m_s.rateSeconds),
                     Format("%ld (%.0f/s)", d8.sent, d8.sent / d8.seconds),
                     Format("%ld (%.0f/s) (direct)", b8.sent, b8.sent / b8.seconds), "–",
                     Format("%d", 8000 * m_s.rateSeconds), YesNo(d8.sent == 8000L * m_s.rateSeconds)});
        m_table.Add({"Rate: lost / reordered (seen by the X client)", Format("%ld / %ld", d8.lost, d8.reordered),
                     Format("%ld / %ld (direct)", b8.lost, b8.reordered), "–", "0 / 0",
                     YesNo(d8.lost == 0 && d8.reordered == 0)});
        m_table.Add({"Rate: runs of consecutive lost reports, longest run", Format("%ld, %ld", d8.lossRuns, d8.longestLoss),
                     Format("%ld, %ld (direct)", b8.lossRuns, b8.longestLoss), "–", "–", "–"});
        m_table.Add({"Rate: write calls of the consumer (driver: one X flush per injected event)", Format("%lld", d8.writes),
                     Format("%lld (direct)", b8.writes), "–", "–", "–"});
        m_table.Add({"Rate: reads of the node (driver's reader thread / direct), reports per read",
                     Format("%lld, %.2f", d8.readerReads, d8.readerReads > 0 ? static_cast<double>(d8.sent) / d8.readerReads : 0),
                     Format("%lld, %.2f (direct)", b8.readerReads, b8.readerReads > 0 ? static_cast<double>(b8.sent) / b8.readerReads : 0),
                     "–", "–", "–"});
        return true;
    }

    bool Memory()
    {
        Note("memory: a fresh driver, %d s at 1000 reports/s (load %s)", m_s.memorySeconds, LoadAverage().c_str());
        CChildProcess d;
        std::string log;
        if (!StartDriver(d, log, true))
            return false;
        std::this_thread::sleep_for(std::chrono::seconds(2)); // let start-up settle before the first reading
        const long long atStart = RssKiB(d.Pid());
        const StreamResult r = Stream(d.Pid(), 1000, m_s.memorySeconds);
        NoteStream("driver (memory run)", 1000, r);
        std::string curve;
        for (const auto& s : r.rss)
            curve += Format(" %.0fs:%lld", s.first, s.second);
        Note("driver resident memory (KiB) over the run:%s", curve.c_str());
        bool ok = StopDriver(d, log) && r.ok && r.rss.size() >= 2;

        // The reference: a bare wx application on the same display, under the same preload.
        CChildProcess bare;
        const std::string bareLog = NextLog("barewx");
        long long bareRss = -1;
        if (bare.Start({m_s.barewx}, {{"DISPLAY", m_server.Display()}}, bareLog) &&
            WaitUntil([&] { return ReadFile(bareLog).find("ready") != std::string::npos; }, 20000)) {
            std::this_thread::sleep_for(std::chrono::seconds(2));
            bareRss = RssKiB(bare.Pid());
        }
        bare.Signal(SIGTERM);
        int status = 0;
        bare.WaitExit(5000, status);
        Note("bare wx application: %lld KiB resident", bareRss);
        if (!ok || bareRss <= 0 || atStart <= 0) {
            Note("memory: no figures");
            return false;
        }
        // The run's first reading after the first sample period, once the
        // first reports have paid for what they allocate once.
        const long long warm = r.rss.size() > 2 ? r.rss[1].second : r.rss.front().second;
        const long long end = r.rss.back().second;
        const double growth = 100.0 * static_cast<double>(end - warm) / static_cast<double>(warm);
        const double fromStart = 100.0 * static_cast<double>(end - atStart) / static_cast<double>(atStart);
        m_table.Add({"Resident memory after start (board open, idle)", Format("%.1f MiB", atStart / 1024.0),
                     Format("%.1f MiB (bare wx application)", bareRss / 1024.0),
                     Format("%.2f", static_cast<double>(atStart) / bareRss), "–", "–"});
        m_table.Add({Format("Resident memory after %d s at 1000/s", m_s.memorySeconds), Format("%.1f MiB", end / 1024.0),
                     "–", "–", "–", "–"});
        m_table.Add({Format("Memory run at 1000/s for %d s: lost / reordered (runs of losses, longest)", m_s.memorySeconds),
                     Format("%ld / %ld (%ld, %ld)", r.lost, r.reordered, r.lossRuns, r.longestLoss), "–", "–", "0 / 0",
                     YesNo(r.lost == 0 && r.reordered == 0)});
        m_table.Add({Format("Memory growth over the run, %.0f s → %.0f s (from start: %+.2f %%)",
                            r.rss.size() > 2 ? r.rss[1].first : 0.0, r.rss.back().first, fromStart),
                     Format("%+.2f %%", growth), "–", "–", "within ±1 %", YesNo(growth <= 1.0 && growth >= -1.0)});
        return true;
    }

    // Wake-ups of `pid` over the idle period: voluntary context switches of
    // all its threads, per second.
    double MeasureIdle(pid_t pid, const char* what)
    {
        const ProcessSample before = Sample(pid);
        const Clock::time_point start = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(m_s.idleSeconds));
        const ProcessSample delta = Delta(before, Sample(pid));
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const TaskSample total = Total(delta);
        Note("idle, %s: %lld voluntary and %lld involuntary switches, %.2f ms CPU in %.1f s; per thread:%s", what,
             total.voluntary, total.involuntary, total.runNs / 1e6, seconds, Describe(delta).c_str());
        return total.voluntary / seconds;
    }

    bool Idle()
    {
        Note("idle: %d s each (load %s)", m_s.idleSeconds, LoadAverage().c_str());
        Unplug();
        CChildProcess d;
        std::string log;
        if (!StartDriver(d, log, false))
            return false;
        std::this_thread::sleep_for(std::chrono::seconds(2)); // start-up done
        const double none = MeasureIdle(d.Pid(), "no board");

        std::string error;
        const int connects = m_echo.Connects();
        if (!Plug(error) || !WaitUntil([&] { return m_echo.Connects() >= connects + 2; }, 30000) ||
            !WaitDatagram("#TQ@DouPenEnabled", 10000)) {
            Note("idle: the driver did not take the board (%s; see %s)", error.c_str(), log.c_str());
            return false;
        }
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const int connectsBefore = m_echo.Connects();
        const double silent = MeasureIdle(d.Pid(), "silent board");
        const int connectWrites = m_echo.Connects() - connectsBefore;

        Unplug();
        if (!WaitDatagram("#TQ@DisConnect@StyleZIW", 10000)) {
            Note("idle: the driver did not withdraw the board (see %s)", log.c_str());
            return false;
        }
        // The link closes a second after the withdrawal: its port comes free.
        if (!WaitUntil(
                [&] {
                    int port = 0;
                    std::string error;
                    const int fd = BindLoopback(SOCK_DGRAM, m_softPort, port, error);
                    if (fd >= 0)
                        close(fd);
                    return fd >= 0;
                },
                10000)) {
            Note("idle: the driver kept the whiteboard link after the unplug (see %s)", log.c_str());
            return false;
        }
        const double gone = MeasureIdle(d.Pid(), "after unplug");
        const bool stopped = StopDriver(d, log);
        m_table.Add({"Idle wake-ups/s, no board (voluntary switches, all threads)", Format("%.2f", none), "–", "–",
                     "0", YesNo(none == 0)});
        m_table.Add({Format("Idle wake-ups/s, board present and silent (%d connect commands written)", connectWrites),
                     Format("%.2f", silent), "–", "–", "≈ 1", YesNo(silent <= 1.1)});
        m_table.Add({"Idle wake-ups/s, after an unplug", Format("%.2f", gone), "–", "–", "0", YesNo(gone == 0)});
        return stopped;
    }

    Settings m_s;
    CWorkingFolder m_folder;
    CMockBoard m_bus;
    CXvfb m_server; // started without the mock's preload: its CPU time is its own
    CPixelRaster m_raster;
    CPointerWatch m_watch;
    CBoardEcho m_echo;
    CPlacer m_placer;
    CReportMaker m_maker;
    const Pixel m_press{20, 20};
    std::string m_lockDir;
    int m_peer = -1, m_peerPort = 0, m_logs = 0;
    int m_softPort = 0; // the driver's end of the whiteboard link
    CTable m_table;
    std::string m_loads;
};

bool ParseSettings(int argc, char** argv, Settings& s)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--short") {
            s.quick = true;
            s.latencyBlocks = 1;
            s.latencySamples = 50;
            s.latencyWarmup = 10;
            s.costSeconds = 2;
            s.rateSeconds = 2;
            s.memorySeconds = 4;
            s.memorySampleSeconds = 1;
            s.idleSeconds = 2;
        } else if (a == "--driver")
            s.driver = value();
        else if (a == "--direct")
            s.direct = value();
        else if (a == "--barewx")
            s.barewx = value();
        else if (a == "--table")
            s.table = value();
        else if (a == "--details")
            s.details = value();
        else if (a == "--logs")
            s.logs = value();
        else if (a == "--only")
            s.only = value();
        else if (a == "--rate-seconds")
            s.rateSeconds = atoi(value().c_str());
        else if (a == "--memory-seconds")
            s.memorySeconds = atoi(value().c_str());
        else if (a == "--idle-seconds")
            s.idleSeconds = atoi(value().c_str());
        else if (a == "--latency-samples")
            s.latencySamples = atoi(value().c_str());
        else
            return false;
    }
    // The programs start in the working folder: absolute paths.
    for (std::string* program : {&s.driver, &s.direct, &s.barewx}) {
        char* full = realpath(program->c_str(), nullptr);
        if (!full) {
            fprintf(stderr, "skrib-bench: %s: %s\n", program->c_str(), strerror(errno));
            return false;
        }
        *program = full;
        free(full);
    }
    return !s.driver.empty() && !s.direct.empty() && !s.barewx.empty() && s.rateSeconds > 0 && s.memorySeconds > 0 &&
           s.idleSeconds > 0 && s.latencySamples > 0;
}

} // namespace

int main(int argc, char** argv)
{
    Settings settings;
    if (!ParseSettings(argc, argv, settings)) {
        fprintf(stderr, "usage: skrib-bench --driver PATH --direct PATH --barewx PATH [--short] [--table FILE]\n"
                        "                   [--details FILE] [--logs DIR] [--only PHASES] [--rate-seconds N] [--memory-seconds N]\n"
                        "                   [--idle-seconds N] [--latency-samples N]\n");
        return 2;
    }
    if (!RunUnderMockPreload(argv))
        return 1;
    if (!settings.details.empty())
        g_details = fopen(settings.details.c_str(), "w");
    bool ok = false;
    std::string table;
    {
        CBench bench(settings);
        std::string error;
        if (!bench.Setup(error))
            Note("set-up failed: %s", error.c_str());
        else
            ok = bench.Run();
        table = bench.Table().Markdown();
    }
    printf("%s", table.c_str());
    if (!settings.table.empty()) {
        FILE* f = fopen(settings.table.c_str(), "w");
        if (f) {
            fputs(table.c_str(), f);
            fclose(f);
        }
    }
    if (g_details)
        fclose(g_details);
    if (!ok)
        fprintf(stderr, "bench: some benchmarks produced no figures\n");
    return ok ? 0 : 1;
}
