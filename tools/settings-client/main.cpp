// skrib-settings: the settings client of the whiteboard driver. Starts a
// calibration, a reload or the live press values through the driver's
// settings server and prints what the driver advises.
#include "Session.h"
#include "SettingsCommand.h"
#include "SettingsLink.h"

#include <wx/app.h>
#include <wx/init.h>
#include <wx/log.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

class CClientApp : public wxAppConsole
{
public:
    explicit CClientApp(const SettingsCommand& command) : m_command(command) {}

    bool OnInit() override
    {
        delete wxLog::SetActiveTarget(new wxLogStderr);
        m_pSignals.reset(new CEndSignalWatcher([this](int) {
            // Watcher thread: only queue the request for the main thread.
            CallAfter([this] { OnSignal(); });
        }));
        m_pSignals->Start();
        CallAfter([this] { Start(); });
        return true;
    }

    int OnRun() override
    {
        wxAppConsole::OnRun();
        return m_exit;
    }

    int OnExit() override
    {
        if (m_pSignals)
            m_pSignals->Stop();
        m_pConnection.reset();
        return 0;
    }

private:
    void Start()
    {
        const std::string workDir = FindWorkDir(m_command.workDir);
        const int port = m_command.port ? m_command.port : ReadServerPort(workDir);
        const LinkResult result = OpenSettingsLink(port, wxString::FromUTF8(m_command.topic), m_pConnection);
        if (result != LINK_OK) {
            fprintf(stderr, "skrib-settings: %s (port %d)\n", LinkResultText(result), port);
            Finish(ExitFor(result), false);
            return;
        }
        m_pConnection->onAdvise = [this](const wxString& item, const unsigned char* data, size_t size) {
            OnAdvise(item, data, size);
        };
        m_pConnection->onLost = [this] { OnLost(); };

        const wxString item = wxString::FromUTF8(m_command.item);
        if (!m_pConnection->StartAdvise(item)) {
            const LinkResult why = m_pConnection->IsLost() ? LINK_LOST : LINK_NO_BOARD;
            fprintf(stderr, "skrib-settings: %s\n", LinkResultText(why));
            Finish(ExitFor(why), false);
            return;
        }
        m_bStarted = true;
        printf("started %s/%s on port %d\n", m_command.topic.c_str(), m_command.item.c_str(), port);
        if (m_command.mode == MODE_ONCE)
            Finish(EXIT_DONE, false);
        else if (m_command.count == 0)
            Finish(EXIT_DONE, StopsOnLeaving());
    }

    void OnAdvise(const wxString& item, const unsigned char* data, size_t size)
    {
        if (m_bFinished)
            return;
        // The payload is text of up to three bytes, zero-padded.
        char text[4] = {0, 0, 0, 0};
        memcpy(text, data, size < 3 ? size : 3);
        switch (m_command.mode) {
        case MODE_POINTS:
            if (strcmp(text, "fin") != 0)
                return;
            ++m_iPoints;
            printf("point %d of %d done\n", m_iPoints, m_command.points);
            if (m_iPoints == m_command.points) {
                printf("calibration complete\n");
                Finish(EXIT_DONE, false);
            }
            return;
        case MODE_VALUES:
            printf("%s\n", text);
            break;
        default: {
            std::string hex;
            for (size_t i = 0; i < size; ++i) {
                char byte[4];
                snprintf(byte, sizeof byte, i ? " %02X" : "%02X", data[i]);
                hex += byte;
            }
            printf("advise %s %s\n", static_cast<const char*>(item.utf8_str()), hex.c_str());
            break;
        }
        }
        ++m_iAdvises;
        if (m_command.count >= 0 && m_iAdvises >= m_command.count)
            Finish(EXIT_DONE, StopsOnLeaving());
    }

    // The press values end with the connection alone: the driver then also
    // re-reads its driver settings, so that thresholds edited while watching
    // take effect. Other advise loops are stopped first.
    bool StopsOnLeaving() const { return m_command.mode != MODE_VALUES; }

    void OnSignal()
    {
        if (!m_bStarted) {
            Finish(EXIT_INTERRUPTED, false);
        } else if (m_command.mode == MODE_POINTS) {
            printf("calibration interrupted after %d of %d points\n", m_iPoints, m_command.points);
            Finish(EXIT_INTERRUPTED, true);
        } else {
            Finish(EXIT_DONE, StopsOnLeaving());
        }
    }

    void OnLost()
    {
        if (m_bFinished)
            return;
        fprintf(stderr, "skrib-settings: %s\n", LinkResultText(LINK_LOST));
        Finish(EXIT_LOST, false);
    }

    // Ends the advise loop (`stop`: as the driver's request, so that it
    // abandons a calibration or switches press values off), disconnects and
    // leaves the event loop.
    void Finish(int exitCode, bool stop)
    {
        if (m_bFinished)
            return;
        m_bFinished = true;
        m_exit = exitCode;
        if (m_pConnection && !m_pConnection->IsLost()) {
            // These wait for the driver's answer, running the event loop.
            if (stop)
                m_pConnection->StopAdvise(wxString::FromUTF8(m_command.item));
            if (!m_pConnection->IsLost())
                m_pConnection->Disconnect();
        }
        ExitMainLoop();
    }

    SettingsCommand m_command;
    std::unique_ptr<CEndSignalWatcher> m_pSignals;
    std::unique_ptr<CSettingsConnection> m_pConnection;
    int m_exit = EXIT_DONE;
    int m_iPoints = 0;
    int m_iAdvises = 0;
    bool m_bStarted = false;
    bool m_bFinished = false;
};

} // namespace

int main(int argc, char** argv)
{
    // Before any thread exists: the watcher thread takes the end signals.
    BlockEndSignals();
    setvbuf(stdout, nullptr, _IOLBF, 0);

    SettingsCommand command;
    std::string error;
    if (!ParseSettingsCommand(argc - 1, argv + 1, command, error)) {
        fprintf(stderr, "skrib-settings: %s\n%s", error.c_str(), SettingsUsage());
        return EXIT_USAGE;
    }
    if (command.help) {
        fputs(SettingsUsage(), stdout);
        return EXIT_DONE;
    }
    wxApp::SetInstance(new CClientApp(command));
    int wxArgc = 1;
    char* wxArgv[] = {argv[0], nullptr};
    return wxEntry(wxArgc, wxArgv);
}
