// Launching companion applications: where a path leads, the order of the two
// whiteboard places, the calibration toggle, and how detached a launch is.
#include "Companion.h"
#include "Launch.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace {

// A program that reports how it was started into `marker`, then stays alive
// (so that its descriptors can be checked) until it is killed.
std::string ReportingScript(const std::string& marker)
{
    return "#!/bin/sh\n"
           "streams=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2)\n"
           "{ echo $$; cut -d' ' -f4,6 /proc/$$/stat; echo \"$streams\"; } > '" + marker + ".tmp'\n"
           "mv '" + marker + ".tmp' '" + marker + "'\n"
           "exec sleep 30\n";
}

struct LaunchReport
{
    pid_t pid = 0, parent = 0, session = 0;
    std::string stdio[3];
};

bool ReadReport(const std::string& marker, LaunchReport& report)
{
    if (!WaitUntil([&] { return access(marker.c_str(), F_OK) == 0; }, 5000))
        return false;
    std::istringstream in(ReadFile(marker));
    in >> report.pid >> report.parent >> report.session >> report.stdio[0] >> report.stdio[1] >> report.stdio[2];
    return report.pid > 0;
}

class CompanionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = MakeTempDir();
        ASSERT_FALSE(m_dir.empty());
    }
    void TearDown() override
    {
        for (pid_t pid : m_launched)
            kill(pid, SIGKILL);
        RemoveTree(m_dir);
    }

    std::string MakeApp(const std::string& relative, const std::string& marker)
    {
        std::string path = m_dir + "/" + relative;
        std::string folder = path.substr(0, path.find_last_of('/'));
        std::string mkdir = "mkdir -p '" + folder + "'";
        EXPECT_EQ(0, system(mkdir.c_str()));
        WriteFile(path, ReportingScript(marker), 0755);
        return path;
    }

    std::string m_dir;
    std::vector<pid_t> m_launched;
};

TEST_F(CompanionTest, ResolvesExecutablesAndAppFolders)
{
    const std::string marker = m_dir + "/unused";
    MakeApp("plain", marker);
    MakeApp("Flat.app/Flat", marker);
    MakeApp("Deep.app/Contents/MacOS/Deep", marker);
    MakeApp("Named.app/Other", marker);
    WriteFile(m_dir + "/notexec", "#!/bin/sh\n", 0644);
    MakeApp("folder/folder", marker);

    struct Case
    {
        std::string path, expected;
    } cases[] = {
        {m_dir + "/plain", m_dir + "/plain"},
        {m_dir + "/Flat.app", m_dir + "/Flat.app/Flat"},
        {m_dir + "/Flat.app/", m_dir + "/Flat.app/Flat"},
        {m_dir + "/Deep.app", m_dir + "/Deep.app/Contents/MacOS/Deep"},
        {m_dir + "/Named.app", ""}, // no executable of the folder's own name
        {m_dir + "/notexec", ""},
        {m_dir + "/folder", ""}, // a folder that is not an .app
        {m_dir + "/missing.app", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, ResolveLaunchTarget(c.path)) << c.path;
    EXPECT_FALSE(LaunchApplication(m_dir + "/Named.app"));
}

TEST_F(CompanionTest, WhiteboardAppAtSecondPlaceOnlyIsLaunchedDetached)
{
    const std::string marker = m_dir + "/started";
    MakeApp("Velmor_Software.app/Velmor_Software", marker);
    SetCompanionPaths(m_dir + "/Velmor Software/Velmor Software.app", m_dir + "/Velmor_Software.app", "");

    // A descriptor of the driver that the launched program must not inherit.
    int probe[2];
    ASSERT_EQ(0, pipe(probe));

    ASSERT_TRUE(SoftAppStart());
    LaunchReport report;
    ASSERT_TRUE(ReadReport(marker, report));
    m_launched.push_back(report.pid);

    EXPECT_NE(getpid(), report.parent) << "adopted by init, not a child that could become a zombie";
    EXPECT_NE(getsid(0), report.session) << "runs in a session of its own";
    for (const std::string& stream : report.stdio)
        EXPECT_EQ("/dev/null", stream);

    // Only our own end of the pipe is left: closing it must end the pipe.
    close(probe[1]);
    pollfd pfd = {probe[0], POLLIN, 0};
    ASSERT_EQ(1, poll(&pfd, 1, 5000));
    char byte;
    EXPECT_EQ(0, read(probe[0], &byte, 1)) << "the launched program holds a descriptor of the driver";
    close(probe[0]);
}

TEST_F(CompanionTest, WhiteboardAppMissingEverywhereFails)
{
    SetCompanionPaths(m_dir + "/a.app", m_dir + "/b.app", "");
    EXPECT_FALSE(SoftAppStart());
}

TEST_F(CompanionTest, OrientTogglesBetweenInterruptAndLaunch)
{
    const std::string marker = m_dir + "/orient";
    MakeApp("Orient.app/Orient", marker);
    SetCompanionPaths("", "", m_dir + "/Orient.app");

    // A running process with the recorded id gets SIGINT; nothing starts.
    pid_t running = fork();
    if (running == 0) {
        pause();
        _exit(0);
    }
    EXPECT_EQ(ORIENT_INTERRUPTED, OrientAppStart(running));
    int status = 0;
    ASSERT_EQ(running, waitpid(running, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
    EXPECT_NE(0, access(marker.c_str(), F_OK));

    // A recorded id of 0 or below, or of a process that is gone, launches.
    for (int pid : {0, -3, static_cast<int>(running)}) {
        unlink(marker.c_str());
        EXPECT_EQ(ORIENT_LAUNCHED, OrientAppStart(pid)) << pid;
        LaunchReport report;
        ASSERT_TRUE(ReadReport(marker, report)) << pid;
        m_launched.push_back(report.pid);
        EXPECT_EQ(m_dir + "/Orient.app", g_callPath);
    }
}

TEST_F(CompanionTest, OrientIsLookedForNextToTheDriver)
{
    SetCompanionPaths("", "", "");
    EXPECT_EQ(ORIENT_NOT_FOUND, OrientAppStart(0));
    std::string self = ExecutablePath();
    EXPECT_EQ(self.substr(0, self.find_last_of('/') + 1) + "Orient.app", g_callPath);
}

} // namespace
