// Helpers shared by the tests: temporary folders, child processes, a private
// X server, and waiting on a condition with a deadline.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

class CConfigXML;

// Polls `condition` until it holds or `timeoutMs` passed; true when it held.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

std::string MakeTempDir();
void RemoveTree(const std::string& path);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& text, int mode = 0644);

// A working folder seeded from the staged settings and catalogues. Its
// settings server port ("Global"/"port"/"num") is one of its own (FreeTcpPort),
// so that drivers of tests that run in parallel do not meet.
std::string MakeWorkDir();

// A TCP port that nothing listens on, chosen at random below the range the
// system hands out for outgoing connections (so no client takes it by chance).
int FreeTcpPort();

// The settings client `exe` with these arguments, on the working folder
// `workDir`.
std::vector<std::string> SettingsClientArgv(const std::string& exe, const std::string& workDir,
                                            const std::vector<std::string>& args);

// The exit code in a wait status; -1 when the process did not exit normally.
int ExitCode(int status);

// Opens the settings file `file`, runs `edit` on it and saves it; false
// when the file does not open or `edit` says so (then nothing is saved).
bool EditSettings(const std::string& file, const std::function<bool(CConfigXML&)>& edit);

// "Global"/"port"/"num" of the settings file in `workDir` (-1 when unreadable).
int ReadSettingsPort(const std::string& workDir);
void WriteSettingsPort(const std::string& workDir, int port);

// A seeded working folder that is the current folder while the object
// lives: the settings file's relative path then finds it.
class CWorkingFolder
{
public:
    CWorkingFolder();
    ~CWorkingFolder(); // back to the previous folder; the folder is removed
    const std::string& Path() const { return m_path; }

private:
    std::string m_path, m_previous;
};

// Global/Pid/<attribute> of the settings file in `workDir` (INT_MIN when unreadable).
int ReadPidEntry(const std::string& workDir, const char* attribute = "BoardSer");

// A child process with its own environment; stdout and stderr go to a file.
class CChildProcess
{
public:
    ~CChildProcess(); // kills and reaps a child that still runs

    // `env` entries replace or, with an empty value, remove variables.
    bool Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
               const std::string& outputFile, const std::string& cwd = std::string());
    pid_t Pid() const { return m_pid; }
    bool Running();
    void Signal(int sig);
    // Waits for the end; the status is the raw waitpid status.
    bool WaitExit(int timeoutMs, int& status);

private:
    pid_t m_pid = -1;
};

// A private Xvfb started with -displayfd, one per test.
class CXvfb
{
public:
    ~CXvfb();
    bool Start(int width = 1280, int height = 800);
    void Stop();
    void Kill(); // ends the server abruptly, as a session that goes away
    const std::string& Display() const { return m_display; }
    pid_t Pid() const { return m_serverPid; }

private:
    pid_t m_serverPid = -1;
    std::string m_display;
};
