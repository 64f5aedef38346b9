// Orient.app: the calibration application of the whiteboard driver.
//
// A full-screen window shows the calibration targets one at a time, at the
// screen positions and in the order in which the driver's conversion pairs
// them with the stored points. The application records its process id in
// the shared settings ("Global"/"Pid"/"Orient"), connects to the driver's
// settings server with topic "Orient" and starts advising with the number of
// targets; the driver then collects the board's position for each target and
// advises "fin" when one is done, and the next target appears. After the
// last one the driver stores the calibration and the window shows that it is
// complete, then closes.
//
// Escape, and SIGINT (the driver's toggle), SIGTERM or SIGHUP, end it: a run
// that is not complete is stopped first, so that the driver discards it.
// The process id entry is cleared (0) on the way out.
#include "ConfigXML.h"
#include "OrientTargets.h"
#include "Session.h"
#include "SettingsLink.h"

#include <wx/app.h>
#include <wx/dcclient.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/settings.h>
#include <wx/timer.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

const int kDefaultPoints = 9;
const int kCompleteShowMs = 1500; // the completion stays this long
const int kMessageShowMs = 5000;  // an error stays this long (or until Esc)

const char kUsage[] =
    "usage: Orient.app [--workdir DIR] [--points N] [--port N]\n"
    "Calibrates the whiteboard: touch the centre of each target as it appears.\n"
    "Esc cancels.\n"
    "\n"
    "  --workdir DIR   the driver's working folder, for its settings file\n"
    "                  (default: the current folder if it holds Config/config.xml,\n"
    "                  else the installed driver's)\n"
    "  --points N      number of targets: 4, 9, 12 or 20 (default 9)\n"
    "  --port N        the settings server's port (default: from the settings file)\n";

struct OrientOptions
{
    std::string workDir;
    int points = kDefaultPoints;
    int port = 0;
    bool help = false;
};

bool ParseOrientOptions(int argc, char** argv, OrientOptions& options, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (strcmp(argv[i], "--help") == 0) {
            options.help = true;
            return true;
        }
        if (strcmp(argv[i], "--workdir") == 0 && value && *value) {
            options.workDir = value;
        } else if (strcmp(argv[i], "--points") == 0) {
            if (!ParseBoundedInt(value, 1, 100, options.points) || !IsScreenPointCount(options.points)) {
                error = "--points needs 4, 9, 12 or 20";
                return false;
            }
        } else if (strcmp(argv[i], "--port") == 0) {
            if (!ParseBoundedInt(value, 1, 65535, options.port)) {
                error = "--port needs a port number from 1 to 65535";
                return false;
            }
        } else {
            error = std::string("unknown argument ") + argv[i];
            return false;
        }
        ++i;
    }
    return true;
}

// "Global"/"Pid"/"Orient" of the settings file. Clearing leaves an entry
// that another copy has written since.
void WriteOrientPid(const std::string& workDir, int pid, bool clear)
{
    const std::string path = workDir + "/" CONFIG_FILE;
    if (!FileExists(path))
        return; // the store would wait for a missing file
    CConfigXML config;
    if (config.open(path.c_str())) {
        int recorded = 0;
        config.readInt("Global", "Pid", "Orient", recorded, 0);
        if ((!clear || recorded == pid) && config.writeInt("Global", "Pid", "Orient", clear ? 0 : pid))
            config.save();
    }
    config.close();
}

class COrientFrame : public wxFrame
{
public:
    enum View
    {
        VIEW_WAIT,
        VIEW_TARGET,
        VIEW_COMPLETE,
        VIEW_MESSAGE,
    };

    COrientFrame(const std::vector<wxPoint>& targets, const wxSize& screen, std::function<void()> onCancel)
        : wxFrame(nullptr, wxID_ANY, "Orient", wxPoint(0, 0), screen,
                  wxBORDER_NONE | wxSTAY_ON_TOP | wxFRAME_NO_TASKBAR),
          m_targets(targets), m_onCancel(std::move(onCancel))
    {
        // The drawing and the keyboard go to a child that can take the
        // focus: a frame without one does not receive keys.
        m_pCanvas = new wxWindow(this, wxID_ANY, wxPoint(0, 0), screen, wxWANTS_CHARS);
        m_pCanvas->SetBackgroundStyle(wxBG_STYLE_PAINT);
        m_pCanvas->Bind(wxEVT_PAINT, &COrientFrame::OnPaint, this);
        Bind(wxEVT_CHAR_HOOK, &COrientFrame::OnKey, this);
    }

    void ShowView(View view, int target = -1, const wxString& message = wxString())
    {
        m_view = view;
        m_target = target;
        m_message = message;
        m_pCanvas->Refresh();
    }

private:
    void OnKey(wxKeyEvent& event)
    {
        if (event.GetKeyCode() == WXK_ESCAPE)
            m_onCancel();
        else
            event.Skip();
    }

    void DrawTarget(wxDC& dc, const wxPoint& p)
    {
        dc.SetBrush(*wxTRANSPARENT_BRUSH);
        dc.SetPen(wxPen(*wxBLACK, 2));
        dc.DrawCircle(p, 24);
        dc.DrawLine(p.x - 40, p.y, p.x - 8, p.y);
        dc.DrawLine(p.x + 8, p.y, p.x + 40, p.y);
        dc.DrawLine(p.x, p.y - 40, p.x, p.y - 8);
        dc.DrawLine(p.x, p.y + 8, p.x, p.y + 40);
        // The spot to touch: its centre pixel is the target.
        dc.SetPen(*wxRED_PEN);
        dc.SetBrush(*wxRED_BRUSH);
        dc.DrawRectangle(p.x - 3, p.y - 3, 7, 7);
    }

    void OnPaint(wxPaintEvent&)
    {
        if (!m_bPainted) {
            // Shown now: take the keyboard (a desktop without a window
            // manager does not hand it over by itself).
            m_bPainted = true;
            CallAfter([this] {
                Raise();
                m_pCanvas->SetFocus();
            });
        }
        wxPaintDC dc(m_pCanvas);
        dc.SetBackground(*wxWHITE_BRUSH);
        dc.Clear();
        // Targets are screen positions; the window normally starts at 0, 0.
        const wxPoint origin = m_pCanvas->ClientToScreen(wxPoint(0, 0));
        const int count = static_cast<int>(m_targets.size());
        wxString text;
        switch (m_view) {
        case VIEW_WAIT:
            text = "Connecting to the whiteboard driver...";
            break;
        case VIEW_TARGET:
            DrawTarget(dc, m_targets[m_target] - origin);
            text = wxString::Format("Touch the centre of the target (%d of %d).\nEsc cancels.", m_target + 1, count);
            break;
        case VIEW_COMPLETE:
            text = "Calibration complete.";
            break;
        case VIEW_MESSAGE:
            text = m_message + "\nPress Esc to close.";
            break;
        }
        // The text sits between the first two rows of targets.
        const wxSize client = m_pCanvas->GetClientSize();
        dc.SetFont(wxFont(wxFontInfo(16)));
        dc.SetTextForeground(*wxBLACK);
        dc.DrawLabel(text, wxRect(0, client.y / 5 - 40, client.x, 80), wxALIGN_CENTRE);

        if (m_view == VIEW_TARGET && m_announced != m_target) {
            m_announced = m_target;
            const wxPoint& p = m_targets[m_target];
            printf("target %d of %d at (%d, %d)\n", m_target + 1, count, p.x, p.y);
        }
    }

    wxWindow* m_pCanvas;
    std::vector<wxPoint> m_targets;
    std::function<void()> m_onCancel;
    View m_view = VIEW_WAIT;
    int m_target = -1;
    int m_announced = -1;
    bool m_bPainted = false;
    wxString m_message;
};

class COrientApp;
class COrientApp : public wxApp
{
public:
    explicit COrientApp(const OrientOptions& options) : m_options(options) {}

    bool OnInit() override
    {
        delete wxLog::SetActiveTarget(new wxLogStderr);
        m_workDir = FindWorkDir(m_options.workDir);
        m_port = m_options.port ? m_options.port : ReadServerPort(m_workDir);
        m_pid = static_cast<int>(getpid());
        WriteOrientPid(m_workDir, m_pid, false);
        m_bPidRecorded = true;
        InstallDisplayLossHandler(&COrientApp::OnDisplayLost);

        m_pSignals.reset(new CEndSignalWatcher([this](int) {
            // Watcher thread: only queue the request for the main thread.
            CallAfter([this] { Cancel(); });
        }));
        m_pSignals->Start();

        const wxSize screen(wxSystemSettings::GetMetric(wxSYS_SCREEN_X), wxSystemSettings::GetMetric(wxSYS_SCREEN_Y));
        // Not inside the key handler: cancelling waits for the driver.
        m_pFrame = new COrientFrame(OrientTargets(m_options.points, screen.x, screen.y), screen, [this] { CallAfter([this] { Cancel(); }); });
        m_pFrame->ShowFullScreen(true);
        m_pFrame->Show();

        m_closeTimer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Quit(); });
        CallAfter([this] { Connect(); });
        return true;
    }

    int OnRun() override
    {
        wxApp::OnRun();
        return m_exit;
    }

    int OnExit() override
    {
        m_closeTimer.Stop();
        if (m_pSignals)
            m_pSignals->Stop();
        m_pConnection.reset();
        ClearPid();
        return 0;
    }

private:
    static void OnDisplayLost()
    {
        // The session ended: the process ends right after this.
        if (auto* app = static_cast<COrientApp*>(wxApp::GetInstance()))
            app->ClearPid();
    }

    void ClearPid()
    {
        if (m_bPidRecorded)
            WriteOrientPid(m_workDir, m_pid, true);
        m_bPidRecorded = false;
    }

    void Connect()
    {
        // The calls below wait for the driver and run the event loop
        // meanwhile: a cancel then only takes note (m_bBusy).
        m_bBusy = true;
        LinkResult result = OpenSettingsLink(m_port, "Orient", m_pConnection);
        if (result == LINK_OK) {
            m_pConnection->onAdvise = [this](const wxString&, const unsigned char* data, size_t size) {
                if (size >= 3 && memcmp(data, "fin", 3) == 0)
                    Next();
            };
            m_pConnection->onLost = [this] { Lost(); };
            if (!m_pConnection->StartAdvise(wxString::Format("%d", m_options.points)))
                result = m_pConnection->IsLost() ? LINK_LOST : LINK_NO_BOARD;
        }
        m_bBusy = false;
        if (result != LINK_OK) {
            Fail(result);
        } else {
            m_bRunning = true;
            printf("calibration of %d points started on port %d\n", m_options.points, m_port);
            m_current = 0;
            m_pFrame->ShowView(COrientFrame::VIEW_TARGET, 0);
        }
        if (m_bCancelRequested)
            Cancel();
    }

    void Next()
    {
        if (!m_bRunning)
            return;
        ++m_current;
        printf("point %d of %d done\n", m_current, m_options.points);
        if (m_current < m_options.points) {
            m_pFrame->ShowView(COrientFrame::VIEW_TARGET, m_current);
            return;
        }
        // The driver stores the run with the last point.
        m_bRunning = false;
        printf("calibration complete\n");
        m_pFrame->ShowView(COrientFrame::VIEW_COMPLETE);
        m_pConnection->Disconnect();
        m_closeTimer.StartOnce(kCompleteShowMs);
    }

    void Lost()
    {
        if (!m_bRunning)
            return;
        m_bRunning = false;
        Fail(LINK_LOST);
    }

    void Fail(LinkResult result)
    {
        m_exit = ExitFor(result);
        printf("%s\n", LinkResultText(result));
        wxString text = wxString::FromUTF8(LinkResultText(result));
        text[0] = wxToupper(text[0]);
        m_pFrame->ShowView(COrientFrame::VIEW_MESSAGE, -1, text + ".");
        m_closeTimer.StartOnce(kMessageShowMs);
    }

    // Escape or an end signal.
    void Cancel()
    {
        if (m_bBusy) {
            m_bCancelRequested = true;
            return;
        }
        if (m_bQuitting)
            return;
        m_bQuitting = true;
        if (m_bRunning) {
            m_bRunning = false;
            printf("calibration abandoned after %d of %d points\n", m_current, m_options.points);
            // Stopping the advise makes the driver discard the run.
            if (!m_pConnection->IsLost())
                m_pConnection->StopAdvise(wxString::Format("%d", m_options.points));
        }
        Quit();
    }

    void Quit()
    {
        m_closeTimer.Stop();
        if (m_pConnection && !m_pConnection->IsLost())
            m_pConnection->Disconnect();
        if (m_pFrame) {
            m_pFrame->Destroy();
            m_pFrame = nullptr;
        }
        ExitMainLoop();
    }

    OrientOptions m_options;
    std::string m_workDir;
    int m_port = 0;
    int m_pid = 0;
    bool m_bPidRecorded = false;
    COrientFrame* m_pFrame = nullptr;
    std::unique_ptr<CEndSignalWatcher> m_pSignals;
    std::unique_ptr<CSettingsConnection> m_pConnection;
    wxTimer m_closeTimer;
    int m_current = 0;
    int m_exit = EXIT_DONE;
    bool m_bBusy = false;
    bool m_bCancelRequested = false;
    bool m_bRunning = false;
    bool m_bQuitting = false;
};

} // namespace

int main(int argc, char** argv)
{
    // Before any thread exists: the watcher thread takes the end signals.
    BlockEndSignals();
    InitDisplayThreads();
    setvbuf(stdout, nullptr, _IOLBF, 0);

    OrientOptions options;
    std::string error;
    if (!ParseOrientOptions(argc, argv, options, error)) {
        fprintf(stderr, "Orient.app: %s\n%s", error.c_str(), kUsage);
        return EXIT_USAGE;
    }
    if (options.help) {
        fputs(kUsage, stdout);
        return EXIT_DONE;
    }
    wxApp::SetInstance(new COrientApp(options));
    int wxArgc = 1;
    char* wxArgv[] = {argv[0], nullptr};
    return wxEntry(wxArgc, wxArgv);
}
