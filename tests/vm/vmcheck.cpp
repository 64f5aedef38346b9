// skrib-vmcheck: the driver against a real kernel. tests/vm/run.sh boots a
// virtual machine whose /init runs this program. It plugs a simulated ZIW
// board in through uhid, starts the real SkribZIW (headless, uinput
// injection), plays touches and reads the driver's virtual pointer back from
// evdev; then an unplug, a replug and the driver's stop. It does so twice,
// once for each way a driver can find a board that has no USB parent:
// - [node] the board's hidraw node named with --device: arrival, a one- and
//   a two-contact stroke, a silence and the board's return, unplug, replug;
// - [hid] --match-hid, the device table matched against the HID identity of
//   hidraw nodes: arrival, a stroke, unplug, replug.
// One line per check, then "VMCHECK passed=N failed=M".
//
// Expected pointer positions come from the real conversion and pointer
// engine with the settings of the driver's working folder, fed with the
// positions that the board reports: the pointer follows contact 1, or the
// middle of two contacts, and lets go when the contacts lift.
#include "BoardSim.h"
#include "Conversion.h"
#include "EvdevPointer.h"
#include "PointerFrames.h"
#include "SimIo.h"
#include "TestSupport.h"
#include "UhidBoard.h"
#include "ZiwReportEncoder.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char kPointerName[] = "SkribZIW pointer";
const char kFamily[] = "SkribWorkZIW";
const char kHidId[] = "HID_ID=0003:00001477:00001223";
constexpr int kReportRate = 100;

struct Options
{
    std::string driver;
    std::string workDir;
    std::string log = "/tmp/driver.log";
    int width = 1280;
    int height = 800;
};

class CChecks
{
public:
    bool operator()(bool ok, const std::string& what, const std::string& detail = std::string())
    {
        const double at = std::chrono::duration<double>(Clock::now() - m_start).count();
        if (ok) {
            ++m_passed;
            printf("ok   %6.2f s  %s%s\n", at, m_tag.c_str(), what.c_str());
        } else {
            ++m_failed;
            printf("FAIL %6.2f s  %s%s%s%s\n", at, m_tag.c_str(), what.c_str(), detail.empty() ? "" : ": ",
                   detail.c_str());
        }
        fflush(stdout);
        return ok;
    }
    int Passed() const { return m_passed; }
    int Failed() const { return m_failed; }
    double Seconds() const { return std::chrono::duration<double>(Clock::now() - m_start).count(); }
    // Put before the checks that follow ("[node] ").
    void Tag(const std::string& tag) { m_tag = tag; }

private:
    std::string m_tag;
    Clock::time_point m_start = Clock::now();
    int m_passed = 0;
    int m_failed = 0;
};

// The board's hidraw node, found as a driver finds it: by the HID identity
// of the node's hid parent. Empty while there is none.
std::string FindBoardNode(std::string* sysPath = nullptr)
{
    DIR* dir = opendir("/sys/class/hidraw");
    if (!dir)
        return "";
    std::string found;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string link = std::string("/sys/class/hidraw/") + entry->d_name;
        if (ReadFile(link + "/device/uevent").find(kHidId) == std::string::npos)
            continue;
        const std::string node = std::string("/dev/") + entry->d_name;
        if (access(node.c_str(), F_OK) != 0)
            continue;
        found = node;
        if (sysPath) {
            char* real = realpath(link.c_str(), nullptr);
            *sysPath = real ? real : link;
            free(real);
        }
        break;
    }
    closedir(dir);
    return found;
}

// Whether process `pid` has a descriptor open on `node` (also once the node
// was removed: the link then reads "<node> (deleted)").
bool HoldsNode(pid_t pid, const std::string& node)
{
    const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = opendir(fdDir.c_str());
    if (!dir)
        return false;
    bool holds = false;
    while (dirent* entry = readdir(dir)) {
        char target[PATH_MAX] = {};
        const ssize_t n = readlink((fdDir + "/" + entry->d_name).c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)).compare(0, node.size(), node) == 0 &&
            (static_cast<size_t>(n) == node.size() || target[node.size()] == ' '))
            holds = true;
    }
    closedir(dir);
    return holds;
}

// A touch as the board senses it: one frame per report, then the lift.
std::vector<SimFrame> Touch(const std::vector<SimPoint>& first, const std::vector<SimPoint>& second = {})
{
    std::vector<SimPath> paths = {{first, 100, 60}};
    if (!second.empty())
        paths.push_back({second, 100, 60});
    return TouchFrames(paths, paths.size());
}

std::string Shorten(const std::string& text)
{
    return text.size() <= 600 ? text : text.substr(0, 600) + " ...";
}

// What the driver's pointer should do for `frames`, from the real
// conversion and pointer engine; `screen` is the last converted point,
// where a lift lets go.
std::vector<PointerFrame> Expect(const std::vector<SimFrame>& frames, CConversionBase& conversion,
                                 CExpectedPointer& engine, wxPoint& screen)
{
    const PointerFrame before = engine.State();
    for (const SimFrame& frame : frames) {
        const size_t n = frame.contacts.size();
        const bool first = n > 0 && frame.contacts[0].down;
        const bool second = n > 1 && frame.contacts[1].down;
        if (!first) {
            engine.MouseAction(screen, MOUSE_ACTION_UP);
            continue;
        }
        SimPoint device = frame.contacts[0].pos;
        if (second) // the middle of the two contacts, in whole device units
            device = {(device.x + frame.contacts[1].pos.x) / 2, (device.y + frame.contacts[1].pos.y) / 2};
        screen = conversion.Conversion(wxRealPoint(device.x, device.y));
        engine.MouseAction(screen, MOUSE_ACTION_DOWN);
    }
    return Collapse(engine.Take(), before);
}

// The driver as it serves one board arrival: its pointer, and the expected
// pointer of its work thread.
struct Served
{
    CEvdevPointer pointer;
    std::unique_ptr<CExpectedPointer> engine;
    wxPoint screen{0, 0};
};

class CScenario
{
public:
    // `matchHid`: the driver finds the board with --match-hid, else with --device.
    CScenario(const Options& options, CChecks& check, bool matchHid)
        : m_options(options), m_check(check), m_bMatchHid(matchHid),
          m_conversion(CConversionBase::CreateConversion(kFamily))
    {
        m_conversion->Init(options.width, options.height);
    }

    int Run();

private:
    bool Plug(const char* when);
    bool Arrival(const char* when, Served& served);
    void Play(const char* what, const std::vector<SimFrame>& frames, Served& served);
    bool DriverRunning() { return m_driver.Running(); }

    const Options& m_options;
    CChecks& m_check;
    bool m_bMatchHid;
    std::unique_ptr<CConversionBase> m_conversion;
    CZiwReportEncoder m_encoder;
    CUhidBoard m_board;
    CChildProcess m_driver;
    std::string m_node;
};

bool CScenario::Plug(const char* when)
{
    UhidIdentity identity;
    identity.name = "ZIW board (uhid)";
    identity.vendor = CZiwReportEncoder::kVendorId;
    identity.product = CZiwReportEncoder::kProductId;
    identity.descriptor = CZiwReportEncoder::HidReportDescriptor();
    std::string error;
    if (!m_check(m_board.Create(identity, error), std::string(when) + ": the uhid board is created", error))
        return false;
    std::string node, sysPath;
    WaitUntil([&] { return !(node = FindBoardNode(&sysPath)).empty(); }, 5000);
    if (!m_check(!node.empty(), std::string(when) + ": the kernel makes a hidraw node for the board"))
        return false;
    printf("     board node %s at %s\n", node.c_str(), sysPath.c_str());
    if (m_node.empty() || m_bMatchHid)
        m_node = node;
    // A driver given the node serves that node only: the board must come
    // back under its name (the kernel reuses it once the old one is closed).
    return m_bMatchHid ||
           m_check(node == m_node, std::string(when) + ": the board's node is " + m_node, "it is " + node);
}

bool CScenario::Arrival(const char* when, Served& served)
{
    const std::string prefix = std::string(when) + ": ";
    m_check(m_board.WaitFor([](const UhidState& s) { return s.started; }, 5000) &&
                (m_board.State().startFlags & (UHID_DEV_NUMBERED_INPUT_REPORTS | UHID_DEV_NUMBERED_OUTPUT_REPORTS)) ==
                    (UHID_DEV_NUMBERED_INPUT_REPORTS | UHID_DEV_NUMBERED_OUTPUT_REPORTS),
            prefix + "the kernel binds the board and numbers its input and output reports");
    m_check(m_board.WaitFor([](const UhidState& s) { return s.open; }, 15000), prefix + "the driver opens the board");
    const bool sent = m_board.WaitFor([](const UhidState& s) { return !s.outputs.empty(); }, 10000);
    const UhidState state = m_board.State();
    std::string detail;
    bool exact = sent;
    for (const UhidOutput& out : state.outputs) {
        if (out.reportType != UHID_OUTPUT_REPORT || out.bytes != CZiwReportEncoder::ConnectCommand()) {
            exact = false;
            detail = "type " + std::to_string(out.reportType) + ", " + std::to_string(out.bytes.size()) +
                     " bytes: " + HexBytes(out.bytes);
        }
    }
    if (sent)
        printf("     the board received %d output report(s), the first %d bytes: %s\n",
               static_cast<int>(state.outputs.size()), static_cast<int>(state.outputs[0].bytes.size()),
               HexBytes(SimBytes(state.outputs[0].bytes.begin(),
                                 state.outputs[0].bytes.begin() + std::min<size_t>(8, state.outputs[0].bytes.size())))
                   .c_str());
    m_check(exact, prefix + "the board receives the connect command as an output report, byte for byte",
            sent ? detail : "nothing arrived");

    std::string node;
    WaitUntil([&] { return !(node = FindEventNode(kPointerName)).empty(); }, 10000);
    if (!m_check(!node.empty(), prefix + "the driver's uinput pointer appears"))
        return false;
    std::string error;
    if (!m_check(served.pointer.Open(node, error), prefix + "the pointer's event node " + node + " opens", error))
        return false;
    const int maxX = served.pointer.AbsMaximum(ABS_X), maxY = served.pointer.AbsMaximum(ABS_Y);
    m_check(maxX == m_options.width - 1 && maxY == m_options.height - 1,
            prefix + "the pointer spans the screen given by --screen",
            "axes end at " + std::to_string(maxX) + "," + std::to_string(maxY));
    // The driver's work thread starts its pointer engine afresh.
    served.engine.reset(new CExpectedPointer(kFamily));
    served.screen = wxPoint(0, 0);
    return true;
}

void CScenario::Play(const char* what, const std::vector<SimFrame>& frames, Served& served)
{
    const std::vector<PointerFrame> expected = Expect(frames, *m_conversion, *served.engine, served.screen);
    const size_t mark = served.pointer.Track().Frames().size();

    CBoardScript script(m_encoder, kReportRate);
    for (const SimFrame& frame : frames)
        script.Frame(frame);
    CSteadyPacer pacer;
    CTimelineFeeder feeder(m_board, pacer);
    const int played = feeder.Play(script.Timeline());
    if (!m_check(played == static_cast<int>(frames.size()), std::string(what) + ": the board sends its reports",
                 std::to_string(played) + " of " + std::to_string(frames.size())))
        return;

    served.pointer.WaitFor([&](const CPointerTrack& t) { return t.Frames().size() >= mark + expected.size(); },
                           5000);
    const CPointerTrack track = served.pointer.Track();
    const std::vector<PointerFrame> got(track.Frames().begin() + static_cast<long>(std::min(mark, track.Frames().size())),
                                        track.Frames().end());
    m_check(!track.Dropped() && got == expected,
            std::string(what) + ": " + std::to_string(expected.size()) + " pointer reports arrive in order at " +
                "the expected positions",
            std::string(track.Dropped() ? "events were dropped; " : "") + "expected " + Shorten(ToString(expected)) +
                "; got " + Shorten(ToString(got)));
}

int CScenario::Run()
{
    // 1. The board is there before the driver starts.
    if (!Plug("plug"))
        return 1;
    std::vector<std::string> argv = {m_options.driver, "--workdir", m_options.workDir, "--lockdir", "/tmp",
                                     "--inject", "uinput", "--screen",
                                     std::to_string(m_options.width) + "x" + std::to_string(m_options.height),
                                     "--headless"};
    if (m_bMatchHid)
        argv.push_back("--match-hid");
    else
        argv.insert(argv.end(), {"--device", m_node, "--driver-type", "16"});
    if (!m_check(m_driver.Start(argv, {{"DISPLAY", ""}}, m_options.log), "the driver starts"))
        return 1;

    // 2. Arrival and the strokes.
    {
        Served served;
        if (!Arrival("arrival", served))
            return 1;
        Play("one-contact stroke", Touch(Stroke({6000, 8000}, {26000, 12000}, 16)), served);
        if (!m_bMatchHid) {
            Play("two-contact stroke",
                 Touch(Stroke({8000, 20000}, {12000, 24000}, 12), Stroke({16000, 20000}, {20000, 24000}, 12)),
                 served);

            // 3. A silence: the driver asks the board to connect again, and
            // takes it back when it speaks.
            const size_t before = m_board.State().outputs.size();
            const Clock::time_point quiet = Clock::now();
            const bool asked =
                m_board.WaitFor([&](const UhidState& s) { return s.outputs.size() > before; }, 6000);
            const double after = std::chrono::duration<double>(Clock::now() - quiet).count();
            const UhidState state = m_board.State();
            bool connect = asked;
            for (size_t i = before; i < state.outputs.size(); ++i)
                connect = connect && state.outputs[i].bytes == CZiwReportEncoder::ConnectCommand();
            // Not before a whole read wait (1 s) has passed in silence.
            m_check(connect && after >= 1.0,
                    "silence: the driver sends the connect command again to the silent board",
                    asked ? "after " + std::to_string(after) + " s" : "nothing came");
            printf("     asked again after %.2f s of silence\n", after);
            Play("after the silence", Touch(Stroke({28000, 28000}, {20000, 26000}, 12)), served);
        }

        // 4. Unplug.
        m_board.Destroy();
        m_check(WaitUntil([&] { return !HoldsNode(m_driver.Pid(), m_node); }, 5000),
                "unplug: the driver lets go of the board's node");
        m_check(WaitUntil([] { return FindEventNode(kPointerName).empty(); }, 5000),
                "unplug: the driver's pointer goes with the board");
        m_check(DriverRunning(), "unplug: the driver stays alive");
    }

    // 5. Replug: served again.
    {
        Served served;
        if (!Plug("replug") || !Arrival("replug", served))
            return 1;
        Play("stroke after the replug", Touch(Stroke({4000, 30000}, {12000, 16000}, 12)), served);
    }

    // 6. The driver stops in order and lets go of the board.
    m_driver.Signal(SIGTERM);
    int status = 0;
    const bool ended = m_driver.WaitExit(10000, status);
    m_check(ended && WIFEXITED(status) && WEXITSTATUS(status) == 0, "stop: the driver ends cleanly on SIGTERM",
            ended ? "status " + std::to_string(status) : "still running");
    m_check(m_board.WaitFor([](const UhidState& s) { return !s.open; }, 3000),
            "stop: the board's node is closed");
    m_board.Destroy();
    return 0;
}

bool ParseArgs(int argc, char** argv, Options& options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i], value = argv[i + 1];
        if (name == "--driver")
            options.driver = value;
        else if (name == "--workdir")
            options.workDir = value;
        else if (name == "--log")
            options.log = value;
        else if (name == "--screen") {
            if (sscanf(value.c_str(), "%dx%d", &options.width, &options.height) != 2 || options.width <= 1 ||
                options.height <= 1)
                return false;
        } else
            return false;
    }
    return argc % 2 == 1 && !options.driver.empty() && !options.workDir.empty();
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseArgs(argc, argv, options)) {
        fprintf(stderr, "usage: skrib-vmcheck --driver PATH --workdir DIR [--screen WxH] [--log FILE]\n");
        return 2;
    }
    // The expected pointer reads the settings as the driver does: from the
    // working folder.
    if (chdir(options.workDir.c_str()) != 0) {
        fprintf(stderr, "skrib-vmcheck: working folder %s: %s\n", options.workDir.c_str(), strerror(errno));
        return 2;
    }
    CChecks check;
    for (bool matchHid : {false, true}) {
        check.Tag(matchHid ? "[hid]  " : "[node] ");
        CScenario scenario(options, check, matchHid);
        if (scenario.Run() != 0)
            check(false, "the scenario stopped early");
    }
    check.Tag("");
    if (check.Failed() > 0) {
        printf("---- driver output (%s)\n%s\n----\n", options.log.c_str(), ReadFile(options.log).c_str());
    }
    printf("VMCHECK time %.2f s\n", check.Seconds());
    printf("VMCHECK passed=%d failed=%d\n", check.Passed(), check.Failed());
    fflush(stdout);
    return check.Failed() == 0 ? 0 : 1;
}
