#include "ToolProcess.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <cstdio>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string Hex(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    char h[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        snprintf(h, sizeof h, i ? " %02x" : "%02x", bytes[i]);
        text += h;
    }
    return text;
}

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool FileExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

CTempDir::CTempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/skribtool.XXXXXX";
    if (mkdtemp(&pattern[0]))
        m_path = pattern;
}

CTempDir::~CTempDir()
{
    if (m_path.empty())
        return;
    nftw(
        m_path.c_str(), [](const char* path, const struct stat*, int, FTW*) { return remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

CToolProcess::~CToolProcess()
{
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

bool CToolProcess::Start(const std::vector<std::string>& argv, const std::string& outputFile, int inheritFd)
{
    const int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0)
        return false;
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    m_pid = fork();
    if (m_pid == 0) {
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        if (inheritFd >= 0)
            fcntl(inheritFd, F_SETFD, 0);
        execv(args[0], args.data());
        _exit(127);
    }
    close(out);
    return m_pid > 0;
}

void CToolProcess::Signal(int sig)
{
    if (m_pid > 0)
        kill(m_pid, sig);
}

bool CToolProcess::WaitExit(int timeoutMs, int& status)
{
    if (m_pid <= 0)
        return false;
    const bool ended = WaitUntil([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, timeoutMs);
    if (ended)
        m_pid = -1;
    return ended;
}

int RunTool(const std::vector<std::string>& argv, const std::string& outputFile, int timeoutMs)
{
    CToolProcess tool;
    int status = 0;
    if (!tool.Start(argv, outputFile) || !tool.WaitExit(timeoutMs, status) || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}
