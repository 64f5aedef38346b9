#include "TestSupport.h"

#include "ConfigXML.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string MakeTempDir()
{
    char pattern[] = "/tmp/skribtest.XXXXXX";
    const char* dir = mkdtemp(pattern);
    return dir ? dir : "";
}

void RemoveTree(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text, int mode)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    chmod(path.c_str(), static_cast<mode_t>(mode));
}

std::string MakeWorkDir()
{
    std::string dir = MakeTempDir();
    std::filesystem::copy(SKRIB_STAGE_DIR, dir, std::filesystem::copy_options::recursive);
    const int port = FreeTcpPort();
    if (port > 0)
        WriteSettingsPort(dir, port);
    return dir;
}

int FreeTcpPort()
{
    // Outgoing connections take ports from this range; stay below it.
    int low = 32768;
    std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> low;
    const int first = 10000, last = std::max(first + 1000, low - 1);
    std::mt19937 random(static_cast<unsigned>(getpid()) ^
                        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::uniform_int_distribution<int> pick(first, last);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int port = pick(random);
        // Free when a socket can bind it on every interface, as the driver does.
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        const bool free = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        if (fd >= 0)
            close(fd);
        if (free)
            return port;
    }
    return 0;
}

std::vector<std::string> SettingsClientArgv(const std::string& exe, const std::string& workDir,
                                            const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {exe, "--workdir", workDir};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

int ExitCode(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int ReadSettingsPort(const std::string& workDir)
{
    int port = -1;
    CConfigXML config;
    if (config.open((workDir + "/" CONFIG_FILE).c_str()))
        config.readInt("Global", "port", "num", port, -1);
    config.close();
    return port;
}

bool EditSettings(const std::string& file, const std::function<bool(CConfigXML&)>& edit)
{
    CConfigXML config;
    const bool edited = config.open(file.c_str()) && edit(config);
    if (edited)
        config.save();
    config.close();
    return edited;
}

void WriteSettingsPort(const std::string& workDir, int port)
{
    EditSettings(workDir + "/" CONFIG_FILE, [&](CConfigXML& c) { return c.writeInt("Global", "port", "num", port); });
}

CWorkingFolder::CWorkingFolder() : m_path(MakeWorkDir())
{
    char* previous = getcwd(nullptr, 0);
    m_previous = previous ? previous : "/";
    free(previous);
    if (chdir(m_path.c_str()) != 0)
        m_path.clear();
}

CWorkingFolder::~CWorkingFolder()
{
    if (chdir(m_previous.c_str()) == 0)
        RemoveTree(m_path);
}

int ReadPidEntry(const std::string& workDir, const char* attribute)
{
    int value = INT_MIN;
    CConfigXML config;
    if (config.open((workDir + "/" CONFIG_FILE).c_str()))
        config.readInt("Global", "Pid", attribute, value, INT_MIN);
    config.close();
    return value;
}

CChildProcess::~CChildProcess()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

bool CChildProcess::Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                          const std::string& outputFile, const std::string& cwd)
{
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        if (env.count(entry.substr(0, entry.find('='))) == 0)
            envText.push_back(entry);
    }
    for (const auto& kv : env)
        if (!kv.second.empty())
            envText.push_back(kv.first + "=" + kv.second);
    std::vector<char*> envp, args;
    for (std::string& e : envText)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);
    std::vector<std::string> argCopy = argv;
    for (std::string& a : argCopy)
        args.push_back(&a[0]);
    args.push_back(nullptr);

    m_pid = fork();
    if (m_pid < 0)
        return false;
    if (m_pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (!outputFile.empty()) {
            int fd = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) {
                dup2(fd, 1);
                dup2(fd, 2);
            }
        }
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(126);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    return true;
}

bool CChildProcess::Running()
{
    if (m_pid <= 0)
        return false;
    return waitpid(m_pid, nullptr, WNOHANG) == 0;
}

void CChildProcess::Signal(int sig)
{
    if (m_pid > 0)
        kill(m_pid, sig);
}

bool CChildProcess::WaitExit(int timeoutMs, int& status)
{
    if (m_pid <= 0)
        return false;
    bool ended = WaitUntil(
        [&] {
            pid_t got = waitpid(m_pid, &status, WNOHANG);
            return got == m_pid;
        },
        timeoutMs);
    if (ended)
        m_pid = -1;
    return ended;
}

CXvfb::~CXvfb()
{
    Stop();
}

bool CXvfb::Start(int width, int height)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    // The display number comes back on descriptor 3 of the server.
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        if (fds[1] != 3) {
            dup2(fds[1], 3);
            close(fds[1]);
        }
        int null = open("/dev/null", O_RDWR);
        dup2(null, 1);
        dup2(null, 2);
        unsetenv("LD_PRELOAD"); // the X server has no business with the mock bus
        execlp("Xvfb", "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-noreset", "-extension", "GLX", "-screen",
               "0", screen.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd pfd = {fds[0], POLLIN, 0};
    char c;
    while (poll(&pfd, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty()) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return false;
    }
    m_display = ":" + number;
    m_serverPid = pid;
    return true;
}

void CXvfb::Stop()
{
    if (m_serverPid > 0) {
        kill(m_serverPid, SIGTERM);
        waitpid(m_serverPid, nullptr, 0);
        m_serverPid = -1;
    }
}

void CXvfb::Kill()
{
    if (m_serverPid > 0) {
        kill(m_serverPid, SIGKILL);
        waitpid(m_serverPid, nullptr, 0);
        m_serverPid = -1;
    }
}
