#include "SettingsLink.h"

#include "ConfigXML.h"
#include "SocketOptions.h"

#include <wx/socket.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace {

class CSettingsClient : public wxTCPClient
{
public:
    wxConnectionBase* OnMakeConnection() override { return new CSettingsConnection; }
};

// Whether anything accepts TCP connections on 127.0.0.1:port.
bool Listening(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

} // namespace

bool FileExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}


std::string FindWorkDir(const std::string& given)
{
    if (!given.empty())
        return given;
    if (FileExists(CONFIG_FILE))
        return ".";
    return SKRIB_INSTALL_DIR;
}

int ReadServerPort(const std::string& workDir)
{
    const std::string path = workDir + "/" CONFIG_FILE;
    int port = SETTINGS_PORT_DEFAULT;
    if (!FileExists(path))
        return port; // not waited for: the store retries a missing file for seconds
    CConfigXML config;
    if (config.open(path.c_str()))
        config.readInt("Global", "port", "num", port, SETTINGS_PORT_DEFAULT);
    config.close();
    return port;
}

const char* LinkResultText(LinkResult result)
{
    switch (result) {
    case LINK_OK:
        return "connected";
    case LINK_NO_DRIVER:
        return "the driver is not running (nothing listens on its settings port)";
    case LINK_REFUSED:
        return "the driver refused the topic";
    case LINK_NO_BOARD:
        return "no board is active (or the board did not start the run)";
    case LINK_LOST:
        return "the driver closed the connection";
    }
    return "?";
}

bool CSettingsConnection::OnAdvise(const wxString&, const wxString& item, const void* data, size_t size, wxIPCFormat)
{
    // The toolkit reuses its buffer: the bytes go along as a copy.
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::vector<unsigned char> payload(bytes, bytes + size);
    m_defer.CallAfter([this, item, payload] {
        if (onAdvise)
            onAdvise(item, payload.data(), payload.size());
    });
    return true;
}

bool CSettingsConnection::OnDisconnect()
{
    m_bLost = true;
    m_defer.CallAfter([this] {
        if (onLost)
            onLost();
    });
    return true;
}

void CSettingsConnection::SetNoDelay()
{
    if (m_sock && m_sock->IsOk())
        ::SetNoDelay(m_sock->GetSocket());
}

LinkResult OpenSettingsLink(int port, const wxString& topic, std::unique_ptr<CSettingsConnection>& connection)
{
    connection.reset();
    CSettingsClient client;
    wxConnectionBase* made = client.MakeConnection("127.0.0.1", wxString::Format("%d", port), topic);
    if (!made)
        // Told apart afterwards, so that a working connect is not preceded
        // by a connection the server would have to turn away.
        return Listening(port) ? LINK_REFUSED : LINK_NO_DRIVER;
    connection.reset(static_cast<CSettingsConnection*>(made));
    connection->SetNoDelay();
    return LINK_OK;
}
