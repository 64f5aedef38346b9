// The settings server inside a test process that runs a console event loop,
// with a recording stand-in for the application, and its clients as
// separate processes: a client in the server's own process would wait for
// the server's answer while holding the loop that must give it.
//
// Each harness has its own working folder, whose settings file names the
// port of its server: tests run in parallel without meeting.
#pragma once

#include "SkribDriverIPC.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/apptrait.h>
#include <wx/evtloop.h>
#include <wx/init.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <sys/wait.h>

// One notification to the work thread: kind and value.
using Note = std::pair<int, int>;

class CServerHarness
{
public:
    CServerHarness()
    {
        wxAppConsole* app = wxAppConsole::GetInstance();
        m_loop.reset(app->GetTraits()->CreateEventLoop());
        m_activator.reset(new wxEventLoopActivator(m_loop.get()));
        workDir = MakeWorkDir();
    }

    ~CServerHarness()
    {
        server.reset();
        Pump(); // sockets go at idle time
        m_activator.reset();
        m_loop.reset();
        RemoveTree(workDir);
    }

    // The server on the working folder's port.
    bool Start()
    {
        DriverIPCHost host;
        host.boardActive = [this] { return boardActive; };
        host.notifyWork = [this](ClientNotify_Type kind, int value) { return Notify(kind, value); };
        server.reset(new CSkribDriverIPC(host));
        return server->Create(wxString::Format("%d", ReadSettingsPort(workDir)));
    }

    void Pump()
    {
        wxAppConsole* app = wxAppConsole::GetInstance();
        app->ProcessPendingEvents();
        app->ProcessIdle();
    }

    // Runs the event loop until `condition` holds or the deadline passes.
    bool PumpUntil(const std::function<bool()>& condition, int timeoutMs = 10000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            Pump();
            if (condition())
                return true;
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            m_loop->DispatchTimeout(5);
        }
    }

    std::string LogPath(const std::string& name) const { return workDir + "/" + name + ".log"; }
    std::string Output(const std::string& name) const { return ReadFile(LogPath(name)); }

    // Starts `argv`, its output going to the log `name`.
    bool StartChild(CChildProcess& child, const std::vector<std::string>& argv, const std::string& name,
                    const std::map<std::string, std::string>& env = {})
    {
        return child.Start(argv, env, LogPath(name));
    }

    // Serves the child until it ends; its exit code, -1 when it did not
    // exit normally in time.
    int WaitExit(CChildProcess& child, int timeoutMs = 10000)
    {
        int status = 0;
        if (!PumpUntil([&] { return child.WaitExit(0, status); }, timeoutMs))
            return -1;
        return ExitCode(status);
    }

#ifdef SKRIB_SETTINGS_EXE
    // The settings client with these arguments, on this working folder.
    std::vector<std::string> Client(const std::vector<std::string>& args) const
    {
        return SettingsClientArgv(SKRIB_SETTINGS_EXE, workDir, args);
    }

    // Runs the settings client to its end, its output in the log `name`;
    // its exit code.
    int RunClient(const std::vector<std::string>& args, const std::string& name)
    {
        CChildProcess client;
        if (!StartChild(client, Client(args), name))
            return -1;
        return WaitExit(client);
    }
#endif

    // Waits until the log `name` holds `text`.
    bool WaitOutput(const std::string& name, const std::string& text, int timeoutMs = 10000)
    {
        return PumpUntil([&] { return Output(name).find(text) != std::string::npos; }, timeoutMs);
    }

    bool WaitNotes(size_t count, int timeoutMs = 10000)
    {
        return PumpUntil([&] { return notes.size() >= count; }, timeoutMs);
    }

    // What the stand-in does: record, and answer as a board family with the
    // live press values would.
    bool Notify(ClientNotify_Type kind, int value)
    {
        notes.emplace_back(kind, value);
        switch (kind) {
        case NOTIFY_ORIENT_START:
        case NOTIFY_HOTKEY_START:
            return takeRuns;
        case NOTIFY_DRIVERSET_DATA: {
            const bool wasOn = valuesOn;
            valuesOn = value == 1;
            return value == 1 || (value == 0 && wasOn);
        }
        default:
            return true;
        }
    }

    std::string workDir;
    std::unique_ptr<CSkribDriverIPC> server;
    // The stand-in's state, main thread only.
    bool boardActive = true;
    bool takeRuns = true;
    bool valuesOn = false;
    std::vector<Note> notes;

private:
    std::unique_ptr<wxEventLoopBase> m_loop;
    std::unique_ptr<wxEventLoopActivator> m_activator;
};

// A test program's main: the console toolkit around the tests.
inline int RunTestsInConsoleApp(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    wxApp::SetInstance(new wxAppConsole);
    int wxArgc = 1;
    if (!wxEntryStart(wxArgc, argv)) {
        fprintf(stderr, "cannot start the toolkit\n");
        return 1;
    }
    const int result = RUN_ALL_TESTS();
    wxEntryCleanup();
    return result;
}
