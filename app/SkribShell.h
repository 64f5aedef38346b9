// The toolkit application that carries the driver's application object: a
// GUI application when a display can be reached, a console application
// otherwise. Both end in order on SIGTERM, SIGINT and SIGHUP, and the GUI
// one also when its display goes away with the desktop session.
#pragma once

#include "SkribApp.h"
#include "Session.h"
#include "SkribLog.h"

#include <wx/app.h>

#include <csignal>
#include <memory>

template <class TBase>
class CSkribShell : public TBase
{
public:
    explicit CSkribShell(const CSkribOptions& options) : m_options(options) {}

    bool OnInit() override
    {
        // Diagnostics of the toolkit go to standard output; a background
        // driver never answers them with a message box.
        delete wxLog::SetActiveTarget(new wxLogStderr(stdout));

        m_pApp.reset(new CSkribApp(m_options));
        m_pSignals.reset(new CEndSignalWatcher([this](int sig) {
            // Watcher thread: only queue the request for the main thread.
            this->CallAfter([sig]() {
                SkribLog("signal %d: stopping", sig);
                if (wxAppConsole* app = wxAppConsole::GetInstance())
                    app->ExitMainLoop();
            });
        }));
        if (!m_pSignals->Start())
            SkribLog("cannot watch SIGTERM/SIGINT/SIGHUP; the driver stops only with its session");
        if (this->IsGUI())
            InstallDisplayLossHandler(&CSkribShell::OnDisplayLost);
        return m_pApp->OnInit();
    }

    int OnExit() override
    {
        if (m_pSignals)
            m_pSignals->Stop();
        int result = m_pApp ? m_pApp->OnExit() : 0;
        return result;
    }

    ~CSkribShell() override
    {
        m_pSignals.reset();
        m_pApp.reset();
    }

private:
    static void OnDisplayLost()
    {
        SkribLog("display connection lost: the session ended, stopping");
        if (HasSkribApp())
            wxGetApp().OnExit();
    }

    CSkribOptions m_options;
    std::unique_ptr<CSkribApp> m_pApp;
    std::unique_ptr<CEndSignalWatcher> m_pSignals;
};
