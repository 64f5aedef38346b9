// skrib-demo: runs the real driver against a simulated ZIW board on a mock
// bus and has the board draw a figure (a house) on the screen.
//
// usage: skrib-demo [--rate HZ] [--driver-log PATH] -- DRIVER [ARGS...]
//
// The program re-executes itself under the mock bus's preload, plugs the
// board in below its hub, starts DRIVER (which inherits the mock), waits
// until the driver has opened the board (its connect command arrives), plays
// the figure at HZ reports per second, and then stops the driver with
// SIGTERM. Exit status 0 when all of that happened.
#include "MockBoard.h"
#include "SimIo.h"
#include "ZiwReportEncoder.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A house with a door and a window, in device units (0..32767 on both axes).
SimFigure House()
{
    const int steps = 24;
    SimFigure figure = RectangleFigure({9000, 15000}, {23000, 28500}, steps); // the walls
    figure.push_back(Polyline({{8000, 15500}, {16000, 6500}, {24000, 15500}}, steps)); // the roof
    figure.push_back(Polyline({{14500, 28500}, {14500, 21500}, {17800, 21500}, {17800, 28500}}, steps / 2)); // door
    for (const std::vector<SimPoint>& side : RectangleFigure({10500, 17500}, {13200, 20200}, steps / 3))
        figure.push_back(side); // a window
    figure.push_back(Polyline({{11850, 17500}, {11850, 20200}}, steps / 3));
    figure.push_back(Polyline({{10500, 18850}, {13200, 18850}}, steps / 3));
    return figure;
}

// Waits until the driver writes its connect command to the board.
bool WaitConnectCommand(CMockBoard& bus, const CReportEncoder& encoder, int timeoutMs)
{
    COutputReportReader reader(encoder);
    bool seen = false;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!seen && Clock::now() < deadline) {
        pollfd p = {bus.NodeFd(), POLLIN, 0};
        if (poll(&p, 1, 100) != 1)
            continue;
        std::uint8_t buf[256];
        ssize_t n = read(bus.NodeFd(), buf, sizeof buf);
        if (n > 0)
            reader.Feed(buf, static_cast<size_t>(n), [&](const SimBytes& r) { seen = seen || encoder.IsConnectCommand(r); });
    }
    return seen;
}

pid_t StartDriver(const std::vector<char*>& argv, const std::string& log)
{
    pid_t pid = fork();
    if (pid == 0) {
        if (!log.empty()) {
            int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd >= 0) {
                dup2(fd, 1);
                dup2(fd, 2);
            }
        }
        execvp(argv[0], argv.data());
        perror(argv[0]);
        _exit(127);
    }
    return pid;
}

bool StopDriver(pid_t pid)
{
    kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 150; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        usleep(100 * 1000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<char*> original(argv, argv + argc + 1);
    int rate = 120;
    std::string driverLog;
    int i = 1;
    for (; i < argc && strcmp(argv[i], "--") != 0; ++i) {
        if (strcmp(argv[i], "--rate") == 0 && i + 1 < argc)
            rate = atoi(argv[++i]);
        else if (strcmp(argv[i], "--driver-log") == 0 && i + 1 < argc)
            driverLog = argv[++i];
        else {
            fprintf(stderr, "usage: skrib-demo [--rate HZ] [--driver-log PATH] -- DRIVER [ARGS...]\n");
            return 2;
        }
    }
    if (i + 1 >= argc || rate < 1) {
        fprintf(stderr, "skrib-demo: the driver's command line follows \"--\"; the rate is 1 or more\n");
        return 2;
    }
    if (!RunUnderMockPreload(original.data()))
        return 1;

    CMockBoard bus;
    std::string error;
    if (!bus.Ready() || !bus.Plug(error)) {
        fprintf(stderr, "skrib-demo: no simulated board: %s\n", error.c_str());
        return 1;
    }
    printf("board: ZIW board 1477:1223 plugged in below hub 1314:1055, node %s\n", bus.Node().c_str());

    std::vector<char*> driverArgv(argv + i + 1, argv + argc);
    driverArgv.push_back(nullptr);
    const pid_t driver = StartDriver(driverArgv, driverLog);
    if (driver < 0) {
        perror("fork");
        return 1;
    }
    CZiwReportEncoder encoder;
    if (!WaitConnectCommand(bus, encoder, 30000)) {
        fprintf(stderr, "skrib-demo: the driver did not open the board (see %s)\n",
                driverLog.empty() ? "its output" : driverLog.c_str());
        StopDriver(driver);
        return 1;
    }
    printf("board: the driver opened the board and sent the connect command\n");
    fflush(stdout);

    const SimFigure house = House();
    CBoardScript script(encoder, rate);
    script.Figure(house, 120, 60, 2);
    CFdSink sink(bus.NodeFd());
    CSteadyPacer pacer;
    const Clock::time_point start = Clock::now();
    const int played = CTimelineFeeder(sink, pacer).Play(script.Timeline());
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    printf("board: drew a house in %zu strokes, %d reports at %d reports/s in %.1f s\n", house.size(), played, rate,
           seconds);
    fflush(stdout);
    const bool complete = played == static_cast<int>(script.Timeline().reports.size());
    const bool stopped = StopDriver(driver);
    if (!stopped)
        fprintf(stderr, "skrib-demo: the driver did not end cleanly (see %s)\n", driverLog.c_str());
    return complete && stopped ? 0 : 1;
}
