#include "SkribDriverIPC.h"

#include "SkribLog.h"
#include "SocketOptions.h"

#include <wx/socket.h>
#include <wx/strconv.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace {

const char* const kTopics[] = {"Orient", "SideKey", "PENSET", "DriversSet", "SetSpeed"};

// More queued advises than this means the main thread is not running its
// loop; newer ones are dropped rather than piled up.
constexpr size_t kQueueLimit = 256;

// How long a new connection may take to send its first bytes before the
// kernel hands it over anyway (and the server then refuses it). A client
// sends its handshake at once.
constexpr int kHandshakeWaitSeconds = 5;

std::string Utf8(const wxString& text)
{
    return std::string(text.utf8_str().data());
}

} // namespace

bool IsSettingsTopic(const wxString& topic)
{
    for (const char* t : kTopics)
        if (topic == t)
            return true;
    return false;
}

bool StartAdviseNotification(const wxString& topic, const wxString& item, ClientNotify_Type& kind, int& value)
{
    const int n = wxAtoi(item);
    if (topic == "Orient") {
        kind = NOTIFY_ORIENT_START;
        value = n;
        return true;
    }
    if (topic == "SideKey") {
        kind = n >= 1 ? NOTIFY_HOTKEY_START : NOTIFY_SIDEKEY_RELOAD;
        value = n >= 1 ? n : 0;
        return true;
    }
    if (topic == "PENSET") {
        kind = NOTIFY_PENSET_RELOAD;
        value = 0;
        return true;
    }
    if (topic == "SetSpeed") {
        kind = NOTIFY_SET_SPEED;
        value = n;
        return true;
    }
    if (topic == "DriversSet") {
        if (item == "save") {
            kind = NOTIFY_DRIVERSET_RELOAD;
            value = 0;
            return true;
        }
        if (item == "data") {
            kind = NOTIFY_DRIVERSET_DATA;
            value = 1;
            return true;
        }
        static const char* const kLevels[] = {"auto0", "auto1", "auto2", "auto3"};
        for (int level = 0; level < 4; ++level)
            if (item == kLevels[level]) {
                kind = NOTIFY_AUTO_LEVEL;
                value = level;
                return true;
            }
    }
    return false;
}

std::array<unsigned char, 4> AdvisePayload(const wxString& text)
{
    std::array<unsigned char, 4> payload = {0, 0, 0, 0};
    // The locale's multibyte form of the first three characters; a text that
    // does not convert sends zeros.
    const wxCharBuffer converted = text.Left(3).mb_str(wxConvLibc);
    const char* bytes = converted.data();
    if (bytes)
        for (size_t i = 0; i < 3 && bytes[i]; ++i)
            payload[i] = static_cast<unsigned char>(bytes[i]);
    return payload;
}

// ---------------------------------------------------------------------------
// MyConnection

bool MyConnection::OnStartAdvise(const wxString& topic, const wxString& item)
{
    return m_server.StartAdvise(*this, topic, item);
}

bool MyConnection::OnStopAdvise(const wxString& topic, const wxString& item)
{
    m_server.StopAdvise(*this, topic, item);
    return true;
}

bool MyConnection::OnDisconnect()
{
    m_server.Disconnected(*this);
    return true;
}

void MyConnection::Send(const std::array<unsigned char, 4>& payload)
{
    if (m_strItem.empty() || !GetConnected() || !m_sock)
        return;
    Advise(m_strItem, payload.data(), payload.size(), wxIPC_PRIVATE);
}

void MyConnection::SetNoDelay()
{
    // The socket exists once the toolkit has set up the accepted connection,
    // which is before any request of the client arrives.
    if (m_bNoDelay || !m_sock || !m_sock->IsOk())
        return;
    m_bNoDelay = true;
    if (!::SetNoDelay(m_sock->GetSocket()))
        SkribLog("settings server: TCP_NODELAY not set (%s); advises may be delayed", strerror(errno));
}

// ---------------------------------------------------------------------------
// CSkribDriverIPC

CSkribDriverIPC::CSkribDriverIPC(DriverIPCHost host) : m_host(std::move(host)) {}

CSkribDriverIPC::~CSkribDriverIPC()
{
    Disconnect();
    delete m_pRetired;
    m_pRetired = nullptr;
}

bool CSkribDriverIPC::Create(const wxString& service)
{
    if (!wxTCPServer::Create(service) || !m_server) {
        SkribLog("settings server: cannot listen on port %s (taken by another program?)", Utf8(service).c_str());
        return false;
    }
    // The toolkit binds every interface for a port number: narrow it to
    // loopback before the event loop accepts anybody.
    if (!RestrictToLoopback(m_server->GetSocket())) {
        SkribLog("settings server: cannot restrict port %s to loopback (%s); not listening", Utf8(service).c_str(),
                 strerror(errno));
        m_server->SetClientData(nullptr);
        m_server->Destroy();
        m_server = nullptr;
        return false;
    }
    // The toolkit reads the connect handshake, and later each request, on
    // the main thread, waiting up to ten minutes for bytes that a stalled
    // local program never sends. Connections reach accept() only with their
    // first bytes, and reads never wait: a request that does not arrive
    // whole is refused. Writes do not wait either: a client that stops
    // reading loses advises instead of stopping the driver. Accepted sockets
    // take these flags from the listening one.
    if (DeferAcceptUntilData(m_server->GetSocket(), kHandshakeWaitSeconds))
        m_server->SetFlags(wxSOCKET_NOWAIT | wxSOCKET_REUSEADDR);
    else
        SkribLog("settings server: TCP_DEFER_ACCEPT not set (%s); a stalled client can hold up the driver",
                 strerror(errno));
    SkribLog("settings server: listening on 127.0.0.1 port %d", Port());
    return true;
}

int CSkribDriverIPC::Port() const
{
    wxIPV4address local;
    if (!m_server || !m_server->GetLocal(local))
        return 0;
    return local.Service();
}

wxConnectionBase* CSkribDriverIPC::OnAcceptConnection(const wxString& topic)
{
    // Whatever the new client asks for, the current one goes.
    if (m_pConnection) {
        MyConnection* old = m_pConnection;
        m_pConnection = nullptr;
        EndSession();
        old->Disconnect();
        if (!old->m_bGone)
            ClientGone();
        delete m_pRetired;
        m_pRetired = old;
    }
    if (!IsSettingsTopic(topic)) {
        SkribLog("settings server: client refused, unknown topic \"%s\"", Utf8(topic).c_str());
        return nullptr;
    }
    SkribLog("settings server: client connected, topic \"%s\"", Utf8(topic).c_str());
    m_pConnection = new MyConnection(*this);
    EndSession();
    return m_pConnection;
}

void CSkribDriverIPC::Disconnect()
{
    if (!m_pConnection)
        return;
    EndSession();
    m_pConnection->Disconnect();
    delete m_pConnection;
    m_pConnection = nullptr;
}

bool CSkribDriverIPC::StartAdvise(MyConnection& connection, const wxString& topic, const wxString& item)
{
    if (&connection != m_pConnection)
        return false; // replaced while its request was being read
    connection.SetNoDelay();
    if (!m_host.boardActive()) {
        SkribLog("settings server: %s/%s refused, no board is active", Utf8(topic).c_str(), Utf8(item).c_str());
        return false;
    }
    EndSession();
    ClientNotify_Type kind;
    int value = 0;
    if (StartAdviseNotification(topic, item, kind, value)) {
        const bool taken = m_host.notifyWork(kind, value);
        // A calibration that does not start would leave the client waiting
        // for points that never come.
        if (!taken && (kind == NOTIFY_ORIENT_START || kind == NOTIFY_HOTKEY_START)) {
            SkribLog("settings server: %s/%s refused, the board did not start the run", Utf8(topic).c_str(),
                     Utf8(item).c_str());
            return false;
        }
    }
    connection.m_strItem = item;
    return true;
}

void CSkribDriverIPC::StopAdvise(MyConnection& connection, const wxString& topic, const wxString& item)
{
    if (&connection != m_pConnection || !m_host.boardActive())
        return;
    EndSession();
    if (topic == "Orient" || topic == "SideKey")
        m_host.notifyWork(NOTIFY_ORIENT_END, 0);
    else if (topic == "DriversSet" && item == "data")
        m_host.notifyWork(NOTIFY_DRIVERSET_DATA, 0);
}

void CSkribDriverIPC::Disconnected(MyConnection& connection)
{
    if (&connection != m_pConnection)
        return; // a replaced connection: its client was let go already
    SkribLog("settings server: client disconnected");
    connection.m_bGone = true;
    EndSession();
    ClientGone();
}

void CSkribDriverIPC::ClientGone()
{
    if (!m_host.boardActive())
        return;
    m_host.notifyWork(NOTIFY_ORIENT_END, 0);
    if (m_host.notifyWork(NOTIFY_DRIVERSET_DATA, 0))
        m_host.notifyWork(NOTIFY_DRIVERSET_RELOAD, 0);
}

void CSkribDriverIPC::Advise(const wxString& text)
{
    Pending pending{m_uSession.load(), AdvisePayload(text)};
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (m_queue.size() >= kQueueLimit) {
            ++m_uDropped;
            return;
        }
        m_queue.push_back(pending);
        wake = !m_bWakePending;
        m_bWakePending = true;
    }
    if (wake)
        m_wake.CallAfter([this] { Flush(); });
}

void CSkribDriverIPC::Flush()
{
    std::vector<Pending> batch;
    unsigned dropped = 0;
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        batch.swap(m_queue);
        m_bWakePending = false;
        dropped = m_uDropped;
        m_uDropped = 0;
    }
    if (dropped)
        SkribLog("settings server: %u advises dropped, the event loop fell behind", dropped);
    // Where the sockets may wait (see Create), a send runs the event loop
    // meanwhile, which may replace the connection: look at both afresh for
    // each payload.
    for (const Pending& p : batch)
        if (p.session == m_uSession.load() && m_pConnection)
            m_pConnection->Send(p.payload);
}
