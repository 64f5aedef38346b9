// The companion programs' side of the driver's settings server: where the
// shared settings file is, which port the server listens on, and one client
// connection with a topic whose advises arrive on the main thread.
#pragma once

#include "CompanionTypes.h"

#include <wx/event.h>
#include <wx/sckipc.h>
#include <wx/string.h>

#include <functional>
#include <memory>
#include <string>

// A regular file at `path`.
bool FileExists(const std::string& path);

// The driver's working folder: `given` when not empty; otherwise the
// current folder when it holds the settings file (the driver starts its
// companions there); otherwise the installed driver's folder.
std::string FindWorkDir(const std::string& given);

// "Global"/"port"/"num" of the settings file in `workDir`, with the driver's
// default 4869 when the element is missing or the file cannot be read.
int ReadServerPort(const std::string& workDir);

const char* LinkResultText(LinkResult result);

class CSettingsConnection : public wxTCPConnection
{
public:
    // Called on the main thread for each advise: its item and payload bytes.
    std::function<void(const wxString& item, const unsigned char* data, size_t size)> onAdvise;
    // Called on the main thread when the driver closes the connection or goes away.
    std::function<void()> onLost;
    // Both run from the event loop, after the toolkit's socket handler that
    // received them has returned: they may talk to the driver (stop the
    // advise loop, disconnect) and wait for its answers.

    bool OnAdvise(const wxString& topic, const wxString& item, const void* data, size_t size,
                  wxIPCFormat format) override;
    // The object stays; its owner deletes it.
    bool OnDisconnect() override;

    bool IsLost() const { return m_bLost; }
    void SetNoDelay();

private:
    bool m_bLost = false;
    // Carries the callbacks to the event loop; pending ones go with it.
    wxEvtHandler m_defer;
};

// Connects to the settings server on 127.0.0.1:`port` with `topic`.
LinkResult OpenSettingsLink(int port, const wxString& topic, std::unique_ptr<CSettingsConnection>& connection);
