// The application's settings server: the port from the working folder's
// settings, no advise start without a board, a board's work thread behind it,
// SendToClient from another thread through to a settings client in a
// separate process, and no start at all when the port is taken.
#include "DeviceInfo.h"
#include "ServerHarness.h"
#include "SkribApp.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace {

class AppIPCTest : public ::testing::Test
{
protected:
    void SetUp() override { m_options.workDir = h.workDir; m_options.lockDir = m_lockDir; }

    void TearDown() override
    {
        m_app.reset();
        RemoveTree(m_lockDir);
    }

    CServerHarness h; // the event loop, the working folder and its port; no server of its own
    std::string m_lockDir = MakeTempDir();
    CSkribOptions m_options;
    std::unique_ptr<CSkribApp> m_app;
};

TEST_F(AppIPCTest, ClientReachesTheBoardsWorkThreadThroughTheApplication)
{
    m_app.reset(new CSkribApp(m_options));
    ASSERT_TRUE(m_app->OnInit());
    EXPECT_EQ(wxString::Format("%d", ReadSettingsPort(h.workDir)), m_app->IPCService());

    EXPECT_EQ(4, h.RunClient({"orient", "4"}, "no-board")) << h.Output("no-board");

    // A board without a device: its work thread runs and takes notifications.
    ASSERT_TRUE(m_app->CreateWorkThread(DRIVER_ZIW, nullptr));
    CChildProcess values;
    ASSERT_TRUE(h.StartChild(values, h.Client({"--count", "1", "values"}), "values"));
    ASSERT_TRUE(h.WaitOutput("values", "started DriversSet/data")) << h.Output("values");
    std::thread work([&] { m_app->SendToClient("1234"); });
    work.join();
    EXPECT_EQ(0, h.WaitExit(values)) << h.Output("values");
    EXPECT_NE(std::string::npos, h.Output("values").find("\n123\n")) << h.Output("values");

    m_app->OnExit();
    EXPECT_EQ(2, h.RunClient({"values"}, "after-exit")) << h.Output("after-exit");
}

TEST_F(AppIPCTest, TakenPortStopsTheStart)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(ReadSettingsPort(h.workDir)));
    ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    ASSERT_EQ(0, listen(fd, 1));
    m_app.reset(new CSkribApp(m_options));
    EXPECT_FALSE(m_app->OnInit());
    close(fd);
}

} // namespace

int main(int argc, char** argv)
{
    return RunTestsInConsoleApp(argc, argv);
}
