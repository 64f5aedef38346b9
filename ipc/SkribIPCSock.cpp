#include "SkribIPCSock.h"

#include "DeviceInfo.h"
#include "SkribAppTypes.h"
#include "SkribLog.h"
#include "SoftLinkFlags.h"

#include <wx/socket.h>
#include <wx/thread.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

const char* const g_board_type[20] = {
    "StyleKA",   "StyleKAD",  "StyleMO",    "StyleMOG",  "StyleMOD",  "StyleMODG", "StyleVU",
    "StyleVUG",  "StyleVUD",  "StyleVUDG",  "StyleVUQG", "StyleVUQDG", "StyleNE",  "StyleBO",
    "StyleBOFD", "StyleBOTD", "StyleZIW",   "StyleHU",   nullptr,     nullptr,
};

const char* const g_action_send[6] = {
    "DisConnect", "Connect", "EnableGuesture", "DisableGuesture", "IsStart", "DouPenEnabled",
};

const char* const g_action_recv[11] = {
    "Start", "Close", "StartDualSplit", "StartDual", "ShutDownDual", "WorkRect",
    "Earea", "Mouse", "Pen",   "InBoardFrm", "NotInBoardFrm",
};

static_assert(sizeof g_board_type / sizeof g_board_type[0] == DRIVER_KAPD2 + 1, "one style slot per announced type");
static_assert(sizeof g_action_send / sizeof g_action_send[0] == MSG_DOUPEN_ENABLED + 1, "one name per message");
static_assert(sizeof g_action_recv / sizeof g_action_recv[0] == SOFT_ACTION_NOT_IN_BOARD_FRM + 1,
              "one name per action");

namespace {

const char kPrefix[] = "#TQ@";

// Datagrams handled per input event, so that a flood cannot hold the main
// thread.
const int kMaxDatagramsPerRound = 64;

bool StartsWith(const char* text, const char* name)
{
    return strncmp(text, name, strlen(name)) == 0;
}

// A decimal number by the rules of atoi (leading blanks, a sign, digits, the
// rest ignored, 0 when there are no digits), clamped to int instead of
// overflowing.
int ReadPort(const char* text)
{
    long value = strtol(text, nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

// One decimal int at `text`: leading blanks and a sign allowed, at least one
// digit, within the range of int. `end` is set after the digits.
bool ReadInt(const char* text, const char*& end, int& value)
{
    char* stop = nullptr;
    errno = 0;
    long number = strtol(text, &stop, 10);
    if (stop == text || errno == ERANGE || number < INT_MIN || number > INT_MAX)
        return false;
    value = static_cast<int>(number);
    end = stop;
    return true;
}

// "left,top,width,height" at `text`; characters after the fourth number do
// not matter. The middle must be an int.
bool ReadWorkRect(const char* text, int& middle)
{
    int numbers[4];
    const char* at = text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (*at != ',')
                return false;
            ++at;
        }
        if (!ReadInt(at, at, numbers[i]))
            return false;
    }
    const long long mid = static_cast<long long>(numbers[0]) + numbers[2] / 2;
    if (mid < INT_MIN || mid > INT_MAX)
        return false;
    middle = static_cast<int>(mid);
    return true;
}

} // namespace

tagSoftMsg ParseSoftMsg(const char* data, size_t length)
{
    tagSoftMsg msg;
    if (!data || length >= SOFT_RECV_BUFSIZE)
        return msg;

    // The text in a zero-filled buffer, as it was received: fields that a
    // short message lacks read as empty text.
    char buf[SOFT_RECV_BUFSIZE];
    memset(buf, 0, sizeof buf);
    memcpy(buf, data, length);

    if (buf[1] != 'T' || buf[2] != 'Q')
        return msg;
    const char* action = buf + 4;

    // Prefix rules first, the longer name before the one it starts with.
    if (StartsWith(action, "StartDualSplit")) {
        msg.action = SOFT_ACTION_START_DUAL_SPLIT;
        msg.port = ReadPort(buf + 19);
    } else if (StartsWith(action, "StartDual")) {
        msg.action = SOFT_ACTION_START_DUAL;
        msg.port = ReadPort(buf + 14);
    } else if (StartsWith(action, "ShutDownDual")) {
        msg.action = SOFT_ACTION_SHUTDOWN_DUAL;
    } else if (StartsWith(action, "WorkRect")) {
        if (ReadWorkRect(buf + 13, msg.middle))
            msg.action = SOFT_ACTION_WORK_RECT;
    } else {
        for (int i = 0; i < static_cast<int>(sizeof g_action_recv / sizeof g_action_recv[0]); ++i) {
            if (strcmp(action, g_action_recv[i]) == 0) {
                msg.action = i;
                break;
            }
        }
    }
    return msg;
}

std::string FrameSoftMsg(int index, int driverType)
{
    if (index < 0 || index >= static_cast<int>(sizeof g_action_send / sizeof g_action_send[0]))
        return std::string();
    std::string text = kPrefix;
    text += g_action_send[index];
    // Types without a style name (18, 19) announce without a style part.
    if ((index == MSG_DISCONNECT || index == MSG_CONNECT) && driverType >= 0 &&
        driverType < static_cast<int>(sizeof g_board_type / sizeof g_board_type[0]) && g_board_type[driverType]) {
        text += '@';
        text += g_board_type[driverType];
    }
    return text;
}

CSkribIPCSock::CSkribIPCSock(ISoftLinkHost* host, wxEvtHandler* handler, int localPort, int remotePort)
    : m_pHost(host), m_pHandler(handler), m_iLocalPort(localPort), m_iRemotePort(remotePort)
{
}

CSkribIPCSock::~CSkribIPCSock()
{
    {
        // No send uses the descriptor after this.
        std::lock_guard<std::mutex> lock(m_sendLock);
        m_iFd = -1;
    }
    delete m_pAddress;
    m_pAddress = nullptr;
    if (m_pSocket) {
        // Closes the descriptor now (the port is free again) and frees the
        // object once the events already queued for it have been handled.
        m_pSocket->Destroy();
        m_pSocket = nullptr;
    }
}

bool CSkribIPCSock::Init()
{
    if (!wxThread::IsMain()) {
        SkribLog("board application link: Init must run on the main thread; no socket created");
        return false;
    }
    if (m_pSocket)
        return true;

    m_pAddress = new wxIPV4address;
    m_pAddress->Hostname("127.0.0.1");
    m_pAddress->Service(static_cast<unsigned short>(m_iLocalPort));
    m_pSocket = new wxDatagramSocket(*m_pAddress, wxSOCKET_NOWAIT | wxSOCKET_REUSEADDR);
    if (m_pHandler)
        m_pSocket->SetEventHandler(*m_pHandler, ID_SOFT_SOCKET);
    m_pSocket->SetNotify(wxSOCKET_INPUT_FLAG);
    m_pSocket->Notify(true);

    // From now on the address is where every datagram goes.
    m_pAddress->Service(static_cast<unsigned short>(m_iRemotePort));

    const bool usable = m_pSocket->IsOk();
    if (usable) {
        std::lock_guard<std::mutex> lock(m_sendLock);
        m_iFd = static_cast<int>(m_pSocket->GetSocket());
        const int len = m_pAddress->GetAddressDataLen();
        if (len > 0 && static_cast<size_t>(len) <= sizeof m_dest) {
            m_iDestLen = static_cast<socklen_t>(len);
            memcpy(&m_dest, m_pAddress->GetAddressData(), m_iDestLen);
        }
    }
    std::string host;
    int port = m_iLocalPort;
    LocalAddress(host, port);
    SkribLog("board application link: %s (127.0.0.1:%d, to port %d)",
             usable ? "socket created" : "socket not usable", port, m_iRemotePort);
    return true;
}

bool CSkribIPCSock::IsUsable() const
{
    std::lock_guard<std::mutex> lock(m_sendLock);
    return m_iFd >= 0;
}

bool CSkribIPCSock::LocalAddress(std::string& host, int& port) const
{
    std::lock_guard<std::mutex> lock(m_sendLock);
    sockaddr_in local{};
    socklen_t len = sizeof local;
    if (m_iFd < 0 || getsockname(m_iFd, reinterpret_cast<sockaddr*>(&local), &len) != 0 || local.sin_family != AF_INET)
        return false;
    char text[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, &local.sin_addr, text, sizeof text))
        return false;
    host = text;
    port = ntohs(local.sin_port);
    return true;
}

void CSkribIPCSock::OnSend(const char* data, int length)
{
    if (!data || length <= 0)
        return;
    SkribLog("to board application: %.*s", length, data);
    std::lock_guard<std::mutex> lock(m_sendLock);
    if (m_iFd < 0)
        return;
    // One datagram; the result is not looked at.
    (void)sendto(m_iFd, data, static_cast<size_t>(length), MSG_DONTWAIT | MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&m_dest), m_iDestLen);
}

void CSkribIPCSock::SendMsgToSoft(int index)
{
    const std::string text = FrameSoftMsg(index, m_iDriverType);
    if (!text.empty())
        OnSend(text.data(), static_cast<int>(text.size()));
}

int CSkribIPCSock::ReadDatagrams()
{
    if (!m_pSocket || !m_pSocket->IsOk())
        return 0;
    int count = 0;
    // What is waiting, up to a bound per round; an empty datagram also ends
    // the round. The socket reports input again for whatever is left.
    while (count < kMaxDatagramsPerRound) {
        char buf[SOFT_RECV_BUFSIZE];
        memset(buf, 0, sizeof buf);
        wxIPV4address from;
        m_pSocket->RecvFrom(from, buf, sizeof buf);
        const wxUint32 got = m_pSocket->LastCount();
        if (got == 0)
            break;
        ++count;
        // A full buffer left no room for the terminating zero: the datagram
        // was longer than a message may be, and is ignored whole.
        if (got < sizeof buf)
            OnRecv(buf);
        else
            SkribLog("board application link: datagram of %u or more bytes ignored", static_cast<unsigned>(got));
    }
    return count;
}

void CSkribIPCSock::OnRecv(const char* text)
{
    if (!text)
        return;
    DoAction(ParseMsg(text));
}

int CSkribIPCSock::ParseMsg(const char* text)
{
    const tagSoftMsg msg = ParseSoftMsg(text, strnlen(text, SOFT_RECV_BUFSIZE));
    switch (msg.action) {
    case SOFT_ACTION_START_DUAL_SPLIT:
    case SOFT_ACTION_START_DUAL:
        g_iSotfPort = msg.port;
        break;
    case SOFT_ACTION_WORK_RECT:
        if (m_pHost)
            m_pHost->NotifyWork(NOTIFY_WORK_RECT, msg.middle);
        break;
    default:
        break;
    }
    return msg.action;
}

void CSkribIPCSock::DoAction(int action)
{
    switch (action) {
    case SOFT_ACTION_START: {
        g_bSoftStart = true;
        const int type = m_iDriverType;
        if (type >= 0 && type <= DRIVER_KAPD2) {
            SendMsgToSoft(MSG_CONNECT);
            SendMsgToSoft(MSG_DOUPEN_ENABLED);
        } else {
            SendMsgToSoft(MSG_DISCONNECT);
        }
        break;
    }
    case SOFT_ACTION_CLOSE:
        g_bSoftStart = false;
        if (m_pHost)
            m_pHost->NotifyWork(NOTIFY_DUAL_SHUTDOWN, 0);
        break;
    case SOFT_ACTION_START_DUAL_SPLIT:
        if (m_pHost)
            m_pHost->NotifyWork(NOTIFY_DUAL_SPLIT_START, g_iSotfPort);
        break;
    case SOFT_ACTION_START_DUAL:
        if (m_pHost)
            m_pHost->NotifyWork(NOTIFY_DUAL_START, g_iSotfPort);
        break;
    case SOFT_ACTION_SHUTDOWN_DUAL:
        if (m_pHost)
            m_pHost->NotifyWork(NOTIFY_DUAL_SHUTDOWN, 0);
        break;
    case SOFT_ACTION_IN_BOARD_FRM:
        g_bOnBoard = true;
        break;
    case SOFT_ACTION_NOT_IN_BOARD_FRM:
        g_bOnBoard = false;
        break;
    default:
        // "WorkRect" was handed over while parsing; "Earea", "Mouse", "Pen"
        // and unknown texts do nothing.
        break;
    }
}
