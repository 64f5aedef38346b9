// Running the tools as child processes in tests: a temporary folder, a child
// whose output goes to a file, and waiting on a condition with a deadline.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Polls `condition` every few milliseconds until it holds or `timeoutMs`
// passed; true when it held.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

std::string ReadWholeFile(const std::string& path);

// Bytes as the tools print them: two lower-case digits each, one blank
// between (written here anew, so that the tools' own formatting is checked).
std::string Hex(const std::vector<std::uint8_t>& bytes);
bool FileExists(const std::string& path);

// A fresh folder below $TMPDIR or /tmp, removed with its files at the end.
class CTempDir
{
public:
    CTempDir();
    ~CTempDir();
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

class CToolProcess
{
public:
    CToolProcess() = default;
    CToolProcess(const CToolProcess&) = delete;
    CToolProcess& operator=(const CToolProcess&) = delete;
    ~CToolProcess(); // kills and reaps a child that still runs

    // Starts `argv` with stdout and stderr appended to `outputFile`.
    // `inheritFd`, when not -1, stays open in the child under its number.
    bool Start(const std::vector<std::string>& argv, const std::string& outputFile, int inheritFd = -1);
    void Signal(int sig);
    // Waits for the end; `status` is the raw waitpid status.
    bool WaitExit(int timeoutMs, int& status);

private:
    pid_t m_pid = -1;
};

// Runs `argv` to its end (at most `timeoutMs`); the exit code, or -1 when it
// did not exit normally in time.
int RunTool(const std::vector<std::string>& argv, const std::string& outputFile, int timeoutMs = 20000);
