// The driver as a real process: its process id entry, a refused second copy,
// the message language, running without a display, and orderly ends.
#include "TestSupport.h"
#include "XHelpers.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class DriverProcessTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_workDir = MakeWorkDir();
        m_lockDir = MakeTempDir();
        ASSERT_FALSE(m_workDir.empty());
    }
    void TearDown() override
    {
        RemoveTree(m_workDir);
        RemoveTree(m_lockDir);
    }

    bool StartDriver(CChildProcess& driver, const std::string& display, const std::string& output,
                     const std::string& lang = "C")
    {
        return driver.Start({SKRIB_BINARY, "--workdir", m_workDir, "--lockdir", m_lockDir},
                            {{"DISPLAY", display}, {"WAYLAND_DISPLAY", ""}, {"LANG", lang}, {"LC_ALL", ""},
                             {"LANGUAGE", ""}, {"LC_MESSAGES", ""}},
                            m_workDir + "/" + output, "/");
    }

    // Started and its process id recorded.
    bool WaitRecorded(CChildProcess& driver)
    {
        return WaitUntil([&] { return ReadPidEntry(m_workDir) == driver.Pid(); }, 10000);
    }

    std::string Output(const std::string& name) { return ReadFile(m_workDir + "/" + name); }

    std::string m_workDir, m_lockDir;
};

bool ExitedWith(int status, int code)
{
    return WIFEXITED(status) && WEXITSTATUS(status) == code;
}

TEST_F(DriverProcessTest, SecondCopyShowsMessageBoxAndLeavesFirstAlone)
{
    CXvfb xvfb;
    ASSERT_TRUE(xvfb.Start());
    CChildProcess first, second;
    ASSERT_TRUE(StartDriver(first, xvfb.Display(), "first.log"));
    ASSERT_TRUE(WaitRecorded(first)) << Output("first.log");

    ASSERT_TRUE(StartDriver(second, xvfb.Display(), "second.log"));
    Display* observer = OpenDisplay(xvfb.Display());
    ASSERT_NE(nullptr, observer);
    XWindowInfo box;
    ASSERT_TRUE(WaitUntil([&] { return FindViewableWindowOfProcess(observer, second.Pid(), box); }, 10000))
        << Output("second.log");
    EXPECT_TRUE(second.Running()) << "the message box waits for its answer";
    EXPECT_GT(box.width, 100) << "a message box, not an empty window";

    PressReturnOver(observer, box);
    int status = 0;
    ASSERT_TRUE(second.WaitExit(10000, status)) << "the message box did not close";
    EXPECT_FALSE(ExitedWith(status, 0)) << "a refused start ends with failure";
    EXPECT_NE(std::string::npos, Output("second.log").find("The SkribEP service is already running! "));

    EXPECT_TRUE(first.Running());
    EXPECT_EQ(first.Pid(), ReadPidEntry(m_workDir)) << "the second copy wrote over the entry";

    first.Signal(SIGTERM);
    ASSERT_TRUE(first.WaitExit(10000, status));
    EXPECT_TRUE(ExitedWith(status, 0)) << Output("first.log");
    EXPECT_EQ(-1, ReadPidEntry(m_workDir));
    CloseDisplay(observer);
}

TEST_F(DriverProcessTest, EndSignalsStopInOrderWithAndWithoutDisplay)
{
    CXvfb xvfb;
    ASSERT_TRUE(xvfb.Start());
    struct Case
    {
        const char* name;
        std::string display;
        int signal;
    } cases[] = {
        {"x-term", xvfb.Display(), SIGTERM},
        {"x-int", xvfb.Display(), SIGINT},
        {"headless-term", "", SIGTERM},
        {"headless-hup", "", SIGHUP},
    };
    for (const Case& c : cases) {
        const std::string log = std::string(c.name) + ".log";
        CChildProcess driver;
        ASSERT_TRUE(StartDriver(driver, c.display, log)) << c.name;
        ASSERT_TRUE(WaitRecorded(driver)) << c.name << "\n" << Output(log);
        // Signals that are not an end request leave it running.
        driver.Signal(SIGPIPE);
        driver.Signal(SIGTERM == c.signal ? SIGCHLD : SIGWINCH);
        driver.Signal(c.signal);
        int status = 0;
        ASSERT_TRUE(driver.WaitExit(10000, status)) << c.name;
        EXPECT_TRUE(ExitedWith(status, 0)) << c.name << "\n" << Output(log);
        EXPECT_EQ(-1, ReadPidEntry(m_workDir)) << c.name;
        EXPECT_EQ(c.display.empty(), Output(log).find("no display") != std::string::npos) << c.name;
    }
}

TEST_F(DriverProcessTest, EndOfDisplaySessionStopsInOrder)
{
    CXvfb xvfb;
    ASSERT_TRUE(xvfb.Start());
    CChildProcess driver;
    ASSERT_TRUE(StartDriver(driver, xvfb.Display(), "driver.log"));
    ASSERT_TRUE(WaitRecorded(driver)) << Output("driver.log");
    xvfb.Kill();
    int status = 0;
    ASSERT_TRUE(driver.WaitExit(10000, status));
    EXPECT_TRUE(ExitedWith(status, 0)) << Output("driver.log");
    EXPECT_EQ(-1, ReadPidEntry(m_workDir));
}

TEST_F(DriverProcessTest, MessageFollowsTheSystemLanguageWithoutGeneratedLocales)
{
    CChildProcess first;
    ASSERT_TRUE(StartDriver(first, "", "first.log"));
    ASSERT_TRUE(WaitRecorded(first)) << Output("first.log");

    struct Case
    {
        const char* lang;
        const char* message;
    } cases[] = {
        {"zh_CN.UTF-8", "SkribEP服务已经在运行! "},
        {"C", "The SkribEP service is already running! "},
        {"en_US.UTF-8", "The SkribEP service is already running! "},
        {"de_DE.UTF-8", "The SkribEP service is already running! "}, // no catalogue: English
    };
    for (const Case& c : cases) {
        const std::string log = std::string("second-") + c.lang + ".log";
        CChildProcess second;
        ASSERT_TRUE(StartDriver(second, "", log, c.lang));
        int status = 0;
        ASSERT_TRUE(second.WaitExit(10000, status)) << c.lang;
        EXPECT_FALSE(ExitedWith(status, 0)) << c.lang;
        EXPECT_NE(std::string::npos, Output(log).find(std::string("Message: ") + c.message)) << c.lang << "\n"
                                                                                             << Output(log);
    }
    EXPECT_EQ(first.Pid(), ReadPidEntry(m_workDir));
    first.Signal(SIGTERM);
    int status = 0;
    ASSERT_TRUE(first.WaitExit(10000, status));
    EXPECT_EQ(-1, ReadPidEntry(m_workDir));
}

TEST_F(DriverProcessTest, RunsWithoutSettingsFile)
{
    RemoveTree(m_workDir + "/Config");
    CChildProcess driver;
    // The settings server then takes the default port 4869: in a network
    // namespace of its own where one can be had, so that a driver running on
    // this machine does not stand in the way.
    const bool privateNetwork = system("unshare -rn true >/dev/null 2>&1") == 0;
    std::vector<std::string> argv = {SKRIB_BINARY, "--workdir", m_workDir, "--lockdir", m_lockDir};
    if (privateNetwork)
        argv.insert(argv.begin(), {"/usr/bin/unshare", "-rn"});
    ASSERT_TRUE(driver.Start(argv, {{"DISPLAY", ""}, {"LANG", "C"}, {"LC_ALL", ""}}, m_workDir + "/driver.log", "/"));
    ASSERT_TRUE(WaitUntil(
        [&] { return Output("driver.log").find("listening on 127.0.0.1 port 4869") != std::string::npos; }, 15000))
        << Output("driver.log");
    EXPECT_TRUE(driver.Running());
    driver.Signal(SIGTERM);
    int status = 0;
    ASSERT_TRUE(driver.WaitExit(10000, status));
    EXPECT_TRUE(ExitedWith(status, 0));
}

} // namespace
