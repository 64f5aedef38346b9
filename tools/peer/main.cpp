// skrib-softpeer: stands in for the whiteboard application on the local
// host. Prints every datagram the driver sends it, sends the driver the
// messages given on the command line, and accepts the dual-user link,
// printing each record.
#include "PeerFormat.h"
#include "PeerSockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: skrib-softpeer [options]\n"
    "Listens on UDP 127.0.0.1 for the driver's datagrams and prints each with a\n"
    "time stamp; sends messages to the driver; accepts the dual-user link.\n"
    "\n"
    "  --listen-port N  UDP port to listen on (default 10000; 0: any free port)\n"
    "  --send-port N    the driver's UDP port (default 9999)\n"
    "  --send TEXT      send TEXT to the driver; may be repeated; \"{dual}\" in TEXT\n"
    "                   becomes the dual-user port (e.g. \"#TQ@StartDual@{dual}\")\n"
    "  --delay-ms N     each later --send waits N ms after the one before (or the\n"
    "                   start); default 0\n"
    "  --dual-port N    accept the dual-user link on TCP 127.0.0.1:N (0: any free port)\n"
    "  --duration-ms N  exit after N ms; without it, run until SIGINT or SIGTERM\n";

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t g_signalled = 0;

void OnSignal(int) { g_signalled = 1; }

bool ParseLong(const char* text, long min, long max, long& out)
{
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < min || v > max)
        return false;
    out = v;
    return true;
}

struct Send
{
    std::string text;
    long delayMs;
};

struct Options
{
    long listenPort = 10000;
    long sendPort = 9999;
    long dualPort = -1;
    long durationMs = -1;
    std::vector<Send> sends;
};

bool ParseArgs(int argc, char** argv, Options& opt, std::string& bad)
{
    long delay = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        bad = arg;
        if (i + 1 >= argc)
            return false;
        const char* value = argv[++i];
        bad = arg + " " + value;
        bool ok = true;
        if (arg == "--listen-port")
            ok = ParseLong(value, 0, 65535, opt.listenPort);
        else if (arg == "--send-port")
            ok = ParseLong(value, 1, 65535, opt.sendPort);
        else if (arg == "--dual-port")
            ok = ParseLong(value, 0, 65535, opt.dualPort);
        else if (arg == "--duration-ms")
            ok = ParseLong(value, 0, INT_MAX, opt.durationMs);
        else if (arg == "--delay-ms")
            ok = ParseLong(value, 0, INT_MAX, delay);
        else if (arg == "--send")
            opt.sends.push_back({value, delay});
        else
            ok = false;
        if (!ok)
            return false;
    }
    return true;
}

// Every line starts with the local time of day, to the millisecond.
void PrintLine(const std::string& text)
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    tm local;
    localtime_r(&now.tv_sec, &local);
    std::printf("%02d:%02d:%02d.%03ld %s\n", local.tm_hour, local.tm_min, local.tm_sec, now.tv_nsec / 1000000,
                text.c_str());
    std::fflush(stdout);
}

// A socket bound to 127.0.0.1:port (0: any free port); -1 after printing why.
int Listen(int type, int port, int& boundPort, const char* what)
{
    std::string error;
    const int fd = BindLoopback(type, port, boundPort, error);
    if (fd < 0)
        std::fprintf(stderr, "skrib-softpeer: cannot listen for %s on 127.0.0.1:%d: %s%s\n", what, port, error.c_str(),
                     errno == EADDRINUSE ? " (is another peer running? try another port)" : "");
    return fd;
}

std::string Expand(std::string text, int dualPort)
{
    const std::string key = "{dual}";
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at))
        text.replace(at, key.size(), std::to_string(dualPort));
    return text;
}

struct DualClient
{
    int fd;
    std::string from;
    std::vector<std::uint8_t> pending;
};

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
        std::fprintf(stderr, "skrib-softpeer: bad arguments: %s\n\n%s", bad.c_str(), kUsage);
        return 2;
    }

    // Signals are let in only while waiting, so that none is lost between a
    // check of the flag and the wait.
    sigset_t blocked, waitMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    int udpPort = 0;
    const int udp = Listen(SOCK_DGRAM, static_cast<int>(opt.listenPort), udpPort, "datagrams");
    if (udp < 0)
        return 1;
    PrintLine("udp listening on 127.0.0.1:" + std::to_string(udpPort));
    int dualPort = -1;
    int dualListen = -1;
    if (opt.dualPort >= 0) {
        dualListen = Listen(SOCK_STREAM, static_cast<int>(opt.dualPort), dualPort, "the dual-user link");
        if (dualListen < 0)
            return 1;
        PrintLine("dual listening on 127.0.0.1:" + std::to_string(dualPort));
    }

    const Clock::time_point start = Clock::now();
    const bool timed = opt.durationMs >= 0;
    const Clock::time_point end = start + std::chrono::milliseconds(timed ? opt.durationMs : 0);
    size_t nextSend = 0;
    Clock::time_point sendDue =
        start + std::chrono::milliseconds(opt.sends.empty() ? 0 : opt.sends.front().delayMs);
    std::vector<DualClient> clients;
    std::vector<char> datagram(65536);

    while (!g_signalled) {
        Clock::time_point now = Clock::now();
        while (nextSend < opt.sends.size() && now >= sendDue) {
            const std::string text = Expand(opt.sends[nextSend].text, dualPort);
            const bool sent = SendDatagram(udp, static_cast<int>(opt.sendPort), text);
            PrintLine((sent ? "sent " : "send failed (" + std::string(std::strerror(errno)) + ") ") +
                      QuoteText(text.data(), text.size()) + " to 127.0.0.1:" + std::to_string(opt.sendPort));
            if (++nextSend < opt.sends.size())
                sendDue = Clock::now() + std::chrono::milliseconds(opt.sends[nextSend].delayMs);
            now = Clock::now();
        }
        if (timed && now >= end)
            break;

        Clock::time_point wake = Clock::time_point::max();
        if (timed)
            wake = end;
        if (nextSend < opt.sends.size() && sendDue < wake)
            wake = sendDue;
        timespec timeout;
        timespec* pTimeout = nullptr;
        if (wake != Clock::time_point::max()) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wake - now).count();
            timeout = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
            pTimeout = &timeout;
        }

        std::vector<pollfd> fds;
        fds.push_back({udp, POLLIN, 0});
        if (dualListen >= 0)
            fds.push_back({dualListen, POLLIN, 0});
        for (const DualClient& c : clients)
            fds.push_back({c.fd, POLLIN, 0});
        if (ppoll(fds.data(), fds.size(), pTimeout, &waitMask) <= 0)
            continue; // time passed, or a signal

        if (fds[0].revents & POLLIN) {
            ssize_t n;
            while ((n = recv(udp, datagram.data(), datagram.size(), 0)) >= 0)
                PrintLine("udp " + QuoteText(datagram.data(), static_cast<size_t>(n)));
        }
        if (dualListen >= 0 && (fds[1].revents & POLLIN)) {
            sockaddr_in from;
            socklen_t len = sizeof from;
            const int fd = accept4(dualListen, reinterpret_cast<sockaddr*>(&from), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) {
                char addr[INET_ADDRSTRLEN] = "?";
                inet_ntop(AF_INET, &from.sin_addr, addr, sizeof addr);
                clients.push_back({fd, std::string(addr) + ":" + std::to_string(ntohs(from.sin_port)), {}});
                PrintLine("dual connected from " + clients.back().from);
            }
        }
        const size_t firstClient = dualListen >= 0 ? 2 : 1;
        for (size_t i = firstClient; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            DualClient& c = clients[i - firstClient];
            std::uint8_t buf[4096];
            ssize_t n;
            while ((n = recv(c.fd, buf, sizeof buf, 0)) > 0) {
                c.pending.insert(c.pending.end(), buf, buf + n);
                size_t used = 0;
                for (; c.pending.size() - used >= DualRecord::kSize; used += DualRecord::kSize)
                    PrintLine("dual " + DescribeDualRecord(c.pending.data() + used));
                c.pending.erase(c.pending.begin(), c.pending.begin() + static_cast<long>(used));
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                PrintLine("dual closed from " + c.from +
                          (c.pending.empty() ? std::string()
                                             : " with " + std::to_string(c.pending.size()) +
                                                   " bytes of an incomplete record"));
                close(c.fd);
                c.fd = -1;
            }
        }
        for (size_t i = clients.size(); i-- > 0;)
            if (clients[i].fd < 0)
                clients.erase(clients.begin() + static_cast<long>(i));
    }

    for (const DualClient& c : clients)
        close(c.fd);
    if (dualListen >= 0)
        close(dualListen);
    close(udp);
    return 0;
}
