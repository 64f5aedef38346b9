#include "Launch.h"

#include <cerrno>
#include <cstdarg>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <vector>

namespace {

bool IsExecutableFile(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool IsFolder(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Runs in the forked grandchild: only async-signal-safe calls until exec.
[[noreturn]] void ExecDetached(const char* target, char* const argv[], int errFd)
{
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig = 1; sig < NSIG; ++sig)
        signal(sig, SIG_DFL);

    int nullFd = open("/dev/null", O_RDWR);
    if (nullFd >= 0) {
        dup2(nullFd, 0);
        dup2(nullFd, 1);
        dup2(nullFd, 2);
    }
    // Everything above the standard streams closes on exec, including the
    // error pipe, whose closing tells the parent that exec succeeded.
    syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC);

    execv(target, argv);
    int err = errno;
    ssize_t ignored = write(errFd, &err, sizeof err);
    (void)ignored;
    _exit(127);
}

} // namespace

std::string ResolveLaunchTarget(const std::string& path)
{
    if (path.empty())
        return std::string();
    if (IsExecutableFile(path))
        return path;

    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    const std::string suffix = ".app";
    if (!IsFolder(folder) || folder.size() <= suffix.size() ||
        folder.compare(folder.size() - suffix.size(), suffix.size(), suffix) != 0)
        return std::string();

    size_t slash = folder.find_last_of('/');
    std::string base = folder.substr(slash == std::string::npos ? 0 : slash + 1);
    base.resize(base.size() - suffix.size());
    if (base.empty())
        return std::string();
    for (const std::string& candidate : {folder + "/" + base, folder + "/Contents/MacOS/" + base})
        if (IsExecutableFile(candidate))
            return candidate;
    return std::string();
}

bool LaunchApplication(const std::string& path)
{
    const std::string target = ResolveLaunchTarget(path);
    if (target.empty())
        return false;

    // Prepared before fork: the children may only make async-signal-safe calls.
    std::vector<char> arg0(target.begin(), target.end());
    arg0.push_back('\0');
    char* const argv[] = {arg0.data(), nullptr};

    int errPipe[2];
    if (pipe2(errPipe, O_CLOEXEC) != 0)
        return false;

    pid_t child = fork();
    if (child < 0) {
        close(errPipe[0]);
        close(errPipe[1]);
        return false;
    }
    if (child == 0) {
        // Intermediate child: a new session, then the program in a grandchild,
        // so that init adopts it and the driver never has to reap it.
        close(errPipe[0]);
        setsid();
        pid_t grandchild = fork();
        if (grandchild == 0)
            ExecDetached(target.c_str(), argv, errPipe[1]);
        if (grandchild < 0) {
            int err = errno;
            ssize_t ignored = write(errPipe[1], &err, sizeof err);
            (void)ignored;
        }
        _exit(0);
    }

    close(errPipe[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int err = 0;
    ssize_t got;
    do {
        got = read(errPipe[0], &err, sizeof err);
    } while (got < 0 && errno == EINTR);
    close(errPipe[0]);
    return got == 0;
}

std::string ExecutablePath()
{
    char buf[4096];
    ssize_t len = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (len <= 0)
        return std::string();
    return std::string(buf, static_cast<size_t>(len));
}

void SystemLog(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    vsyslog(LOG_USER | LOG_NOTICE, fmt, args);
    va_end(args);
}
