// skrib-boardsim: plays touches into a board's report node as the board
// would send them, and shows what the driver writes to the board.
#include "BoardSim.h"
#include "SimIo.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: skrib-boardsim (--node PATH | --fd N | --print) [options] [script...]\n"
    "Plays a script of touches as ZIW input reports into a report node, one report\n"
    "per write at the report rate; with --read, prints the driver's output reports.\n"
    "\n"
    "  --node PATH      open PATH (a hidraw node, a mock node's pty, a file)\n"
    "  --fd N           use the inherited descriptor N\n"
    "  --print          print the reports with their time offsets instead of playing\n"
    "  --rate HZ        reports per second (default 100)\n"
    "  --read           print the driver's output reports in hex while playing, and\n"
    "                   after the script until --duration-ms, end of file or a signal\n"
    "  --duration-ms N  with --read: how long to go on reading after the script\n"
    "\n"
    "Script, played in order (settings apply to the items after them):\n"
    "  --stroke X,Y:X,Y[:X,Y...]   one contact along the path, then release\n"
    "  --pair PATH/PATH            two contacts at once, contact 1 / contact 2\n"
    "  --rect X1,Y1,X2,Y2          a rectangle figure: one stroke per side\n"
    "  --silence MS                no reports for MS milliseconds\n"
    "  --steps N                   reports per segment of a path (default 10)\n"
    "  --size A,B                  size values of contact 1 (default 100,60)\n"
    "  --size2 A,B                 size values of contact 2 (default 100,60)\n"
    "  --releases N                release reports after each touch (default 1)\n"
    "Positions and sizes are device units, 0 to 65535.\n";

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

bool ParseInt(const std::string& text, long min, long max, long& out)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return false;
    out = v;
    return true;
}

// "A,B,..." into exactly `count` integers within [min, max].
bool ParseInts(const std::string& text, size_t count, long min, long max, std::vector<long>& out)
{
    out.clear();
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        long v;
        if (!ParseInt(text.substr(start, comma - start), min, max, v))
            return false;
        out.push_back(v);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return out.size() == count;
}

bool ParsePoint(const std::string& text, SimPoint& p)
{
    std::vector<long> v;
    if (!ParseInts(text, 2, 0, 65535, v))
        return false;
    p = {static_cast<int>(v[0]), static_cast<int>(v[1])};
    return true;
}

bool ParseCorners(const std::string& text, std::vector<SimPoint>& corners)
{
    corners.clear();
    size_t start = 0;
    while (true) {
        const size_t colon = text.find(':', start);
        SimPoint p;
        if (!ParsePoint(text.substr(start, colon - start), p))
            return false;
        corners.push_back(p);
        if (colon == std::string::npos)
            return true;
        start = colon + 1;
    }
}

struct Settings
{
    long steps = 10;
    long size[2][2] = {{100, 60}, {100, 60}};
    long releases = 1;
};

struct Item
{
    enum Kind { kStroke, kPair, kRect, kSilence } kind;
    std::vector<SimPoint> corners[2];
    long silenceMs = 0;
    Settings settings;
};

struct Options
{
    std::string node;
    int fd = -1;
    bool print = false;
    bool read = false;
    long rate = 100;
    long durationMs = -1;
    std::vector<Item> script;
};

// Fills `opt`; on a mistake returns false with the offending argument in `bad`.
bool ParseArgs(int argc, char** argv, Options& opt, std::string& bad)
{
    Settings current;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        bad = arg;
        const bool flag = arg == "--print" || arg == "--read";
        if (!flag && i + 1 >= argc)
            return false;
        const std::string value = flag ? std::string() : argv[++i];
        if (!flag)
            bad = arg + " " + value;
        std::vector<long> v;
        long n;
        Item item{};
        item.settings = current;
        if (arg == "--print") {
            opt.print = true;
        } else if (arg == "--read") {
            opt.read = true;
        } else if (arg == "--node") {
            opt.node = value;
        } else if (arg == "--fd") {
            if (!ParseInt(value, 0, INT_MAX, n))
                return false;
            opt.fd = static_cast<int>(n);
        } else if (arg == "--rate") {
            if (!ParseInt(value, 1, 100000, opt.rate))
                return false;
        } else if (arg == "--duration-ms") {
            if (!ParseInt(value, 0, LONG_MAX / 1000, opt.durationMs))
                return false;
        } else if (arg == "--steps") {
            if (!ParseInt(value, 1, 100000, current.steps))
                return false;
        } else if (arg == "--releases") {
            if (!ParseInt(value, 0, 1000, current.releases))
                return false;
        } else if (arg == "--size" || arg == "--size2") {
            if (!ParseInts(value, 2, 0, 65535, v))
                return false;
            const int c = arg == "--size" ? 0 : 1;
            current.size[c][0] = v[0];
            current.size[c][1] = v[1];
        } else if (arg == "--stroke") {
            item.kind = Item::kStroke;
            if (!ParseCorners(value, item.corners[0]))
                return false;
            opt.script.push_back(item);
        } else if (arg == "--pair") {
            item.kind = Item::kPair;
            const size_t slash = value.find('/');
            if (slash == std::string::npos || !ParseCorners(value.substr(0, slash), item.corners[0]) ||
                !ParseCorners(value.substr(slash + 1), item.corners[1]))
                return false;
            opt.script.push_back(item);
        } else if (arg == "--rect") {
            item.kind = Item::kRect;
            if (!ParseInts(value, 4, 0, 65535, v))
                return false;
            item.corners[0] = {{static_cast<int>(v[0]), static_cast<int>(v[1])},
                               {static_cast<int>(v[2]), static_cast<int>(v[3])}};
            opt.script.push_back(item);
        } else if (arg == "--silence") {
            item.kind = Item::kSilence;
            if (!ParseInt(value, 0, LONG_MAX / 1000, item.silenceMs))
                return false;
            opt.script.push_back(item);
        } else {
            bad = arg;
            return false;
        }
    }
    const int targets = (opt.node.empty() ? 0 : 1) + (opt.fd >= 0 ? 1 : 0) + (opt.print ? 1 : 0);
    if (targets != 1) {
        bad = targets == 0 ? "no --node, --fd or --print" : "more than one of --node, --fd and --print";
        return false;
    }
    if (opt.print && opt.read) {
        bad = "--read with --print";
        return false;
    }
    return true;
}

SimTimeline BuildTimeline(const CReportEncoder& encoder, const Options& opt)
{
    CBoardScript script(encoder, static_cast<int>(opt.rate));
    for (const Item& item : opt.script) {
        const Settings& s = item.settings;
        const int steps = static_cast<int>(s.steps);
        const int releases = static_cast<int>(s.releases);
        auto path = [&](int c) {
            return SimPath{Polyline(item.corners[c], steps), static_cast<int>(s.size[c][0]),
                           static_cast<int>(s.size[c][1])};
        };
        switch (item.kind) {
        case Item::kStroke:
            script.Touch({path(0)}, releases);
            break;
        case Item::kPair:
            script.Touch({path(0), path(1)}, releases);
            break;
        case Item::kRect:
            script.Figure(RectangleFigure(item.corners[0][0], item.corners[0][1], steps),
                          static_cast<int>(s.size[0][0]), static_cast<int>(s.size[0][1]), releases);
            break;
        case Item::kSilence:
            script.Silence(std::chrono::milliseconds(item.silenceMs));
            break;
        }
    }
    return script.Timeline();
}

double Millis(std::chrono::microseconds t) { return static_cast<double>(t.count()) / 1000.0; }

} // namespace

int main(int argc, char** argv)
{
    Options opt;
    std::string bad;
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!ParseArgs(argc, argv, opt, bad)) {
        std::fprintf(stderr, "skrib-boardsim: bad arguments: %s\n\n%s", bad.c_str(), kUsage);
        return 2;
    }
    std::unique_ptr<CReportEncoder> encoder = CReportEncoder::Create("ZIW");
    const SimTimeline timeline = BuildTimeline(*encoder, opt);

    if (opt.print) {
        for (const SimTimedReport& r : timeline.reports)
            std::printf("+%.3f %s\n", Millis(r.at), HexBytes(r.bytes).c_str());
        std::printf("+%.3f end\n", Millis(timeline.end));
        return 0;
    }

    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    std::unique_ptr<CFdSink> sink;
    if (!opt.node.empty()) {
        std::string error;
        sink = CFdSink::Open(opt.node, error);
        if (!sink) {
            std::fprintf(stderr, "skrib-boardsim: %s\n", error.c_str());
            return 1;
        }
    } else {
        if (fcntl(opt.fd, F_GETFD) < 0) {
            std::fprintf(stderr, "skrib-boardsim: descriptor %d is not open\n", opt.fd);
            return 1;
        }
        if (!MakeRawIfTty(opt.fd)) {
            std::fprintf(stderr, "skrib-boardsim: cannot switch descriptor %d to raw mode: %s\n", opt.fd,
                         std::strerror(errno));
            return 1;
        }
        sink = std::make_unique<CFdSink>(opt.fd, false);
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);

    COutputReportReader reader(*encoder);
    const auto started = std::chrono::steady_clock::now();
    auto onReport = [&](const SimBytes& report) {
        const auto at = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
        std::printf("+%.3f %s %s\n", Millis(at), encoder->IsConnectCommand(report) ? "connect" : "report",
                    HexBytes(report).c_str());
    };
    CReadingPacer readingPacer(sink->Fd(), [&](const std::uint8_t* data, std::size_t len) {
        reader.Feed(data, len, onReport);
    }, &g_stop);
    CSteadyPacer steadyPacer(&g_stop);
    CPacer& pacer = opt.read ? static_cast<CPacer&>(readingPacer) : steadyPacer;

    CTimelineFeeder feeder(*sink, pacer);
    const int written = feeder.Play(timeline);
    if (written != static_cast<int>(timeline.reports.size()) && !g_stop) {
        std::fprintf(stderr, "skrib-boardsim: writing report %d of %zu failed: %s\n", written + 1,
                     timeline.reports.size(), std::strerror(errno));
        return 1;
    }
    if (opt.read) {
        if (opt.durationMs >= 0) {
            readingPacer.WaitUntil(timeline.end + std::chrono::milliseconds(opt.durationMs));
        } else {
            // Until end of file or a signal.
            for (auto t = timeline.end; !g_stop && !readingPacer.Ended(); t += std::chrono::milliseconds(20))
                readingPacer.WaitUntil(t);
        }
        if (reader.Pending())
            std::printf("# %zu bytes of an incomplete report\n", reader.Pending());
    }
    return 0;
}
