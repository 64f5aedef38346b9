// The link to the whiteboard application: short ASCII datagrams over UDP on
// the local host, one message per datagram.
//
// Out: framed messages "#TQ@<name>[@<style>]" (SendMsgToSoft) and raw
// four-letter command codes (OnSend), sent to 127.0.0.1:10000 from the
// link's socket. In: "?TQ?<action>[...]" datagrams to 127.0.0.1:9999, read
// on the main thread when the socket reports input; they set the process-wide
// flags (SoftLinkFlags.h), answer "Start", and hand the two-user requests and
// the working area to the board's work thread through the host.
//
// Threads:
// - Init, ReadDatagrams, OnRecv and the destructor run on the main thread
//   (the socket is registered with the main thread's event loop).
// - SendMsgToSoft, OnSend and SetDriverType may be called from any thread.
//   Sends do not touch the toolkit's socket object: each one is a single
//   sendto(2) on the socket's descriptor, made under m_sendLock, which the
//   destructor also takes before it closes the socket. The descriptor
//   therefore never closes under a send in progress.
// - The object itself must outlive every call: the owner keeps other
//   threads from calling a link it is about to delete.
#pragma once

#include "SkribWorkTypes.h"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>

#include <sys/socket.h>

class wxDatagramSocket;
class wxEvtHandler;
class wxIPV4address;

// Default ports: the driver listens on the first, the whiteboard application
// on the second.
enum
{
    SOFT_LOCAL_PORT = 9999,
    SOFT_REMOTE_PORT = 10000,
};

// The receive buffer: a message has room for 49 characters and a zero.
enum
{
    SOFT_RECV_BUFSIZE = 50
};

// Actions of received messages: the index in g_action_recv.
enum SoftAction_Type
{
    SOFT_ACTION_IGNORE = -1,
    SOFT_ACTION_START = 0,
    SOFT_ACTION_CLOSE = 1,
    SOFT_ACTION_START_DUAL_SPLIT = 2,
    SOFT_ACTION_START_DUAL = 3,
    SOFT_ACTION_SHUTDOWN_DUAL = 4,
    SOFT_ACTION_WORK_RECT = 5,
    SOFT_ACTION_EAREA = 6,
    SOFT_ACTION_MOUSE = 7,
    SOFT_ACTION_PEN = 8,
    SOFT_ACTION_IN_BOARD_FRM = 9,
    SOFT_ACTION_NOT_IN_BOARD_FRM = 10,
};

// Board style names by driver type; types 18 and 19 have none (null).
extern const char* const g_board_type[20];
// Names of the framed messages, by tagSendMsgType.
extern const char* const g_action_send[6];
// Names of the received actions, by SoftAction_Type.
extern const char* const g_action_recv[11];

// One received message, parsed without side effects.
struct tagSoftMsg
{
    int action = SOFT_ACTION_IGNORE;
    int port = 0;         // "StartDual", "StartDualSplit": the named port
    int middle = 0;       // "WorkRect": left + width / 2
};

// Parses a received datagram of `length` bytes (not necessarily
// zero-terminated). The text ends at the first zero byte. A datagram that
// does not fit the receive buffer with its terminating zero (length of
// SOFT_RECV_BUFSIZE or more) is ignored whole, as is a "WorkRect" whose four
// numbers do not parse or whose middle is out of range.
tagSoftMsg ParseSoftMsg(const char* data, size_t length);

// The framed text of message `index` (a tagSendMsgType) for the board style
// `driverType`: "#TQ@" + name, and for DisConnect and Connect "@" + style
// when the type has a style name. Empty for an index outside the table.
std::string FrameSoftMsg(int index, int driverType);

// What the link asks of the application. Called on the main thread.
class ISoftLinkHost
{
public:
    virtual ~ISoftLinkHost() = default;
    // Hands a notification to the board's current work thread
    // (DealClientNotify); dropped when there is none.
    virtual void NotifyWork(ClientNotify_Type kind, int value) = 0;
};

class CSkribIPCSock
{
public:
    // `host` takes the notifications for the work thread (may be null: they
    // are dropped). `handler` receives the socket's input events under
    // ID_SOFT_SOCKET. Port 0 for `localPort` binds an ephemeral port.
    CSkribIPCSock(ISoftLinkHost* host, wxEvtHandler* handler, int localPort = SOFT_LOCAL_PORT,
                  int remotePort = SOFT_REMOTE_PORT);
    virtual ~CSkribIPCSock();

    CSkribIPCSock(const CSkribIPCSock&) = delete;
    CSkribIPCSock& operator=(const CSkribIPCSock&) = delete;

    // Binds 127.0.0.1:localPort (address reuse, non-blocking) and registers
    // the socket's input events with the handler. True also when the port
    // cannot be bound (then nothing is received and sends do nothing); false
    // only when called off the main thread, where nothing is created.
    virtual bool Init();

    // One received message as zero-terminated text; no zero within the first
    // SOFT_RECV_BUFSIZE bytes means it did not fit, and it is ignored. Main
    // thread.
    virtual void OnRecv(const char* text);

    // Sends `length` bytes of `data` as one datagram to 127.0.0.1:remotePort.
    // Any thread; fire and forget.
    virtual void OnSend(const char* data, int length);

    // Sends the framed message `index` (a tagSendMsgType). Any thread.
    void SendMsgToSoft(int index);

    // The style announced with Connect and DisConnect; -1 clears it.
    void SetDriverType(int type) { m_iDriverType = type; }
    int DriverType() const { return m_iDriverType; }

    // The two halves of OnRecv: ParseMsg stores the port of a two-user start
    // and gives the working area's notification; DoAction carries out the
    // action. Main thread.
    int ParseMsg(const char* text);
    void DoAction(int action);

    // Reads every datagram waiting on the socket into a zero-filled
    // SOFT_RECV_BUFSIZE buffer and hands each one that fits to OnRecv. The
    // application calls it for the socket's wxSOCKET_INPUT events. Returns
    // the number of datagrams read (handled or ignored).
    int ReadDatagrams();

    // Whether the port was bound, and where.
    bool IsUsable() const;
    bool LocalAddress(std::string& host, int& port) const;

private:
    ISoftLinkHost* m_pHost;
    wxEvtHandler* m_pHandler;
    const int m_iLocalPort;
    const int m_iRemotePort;

    wxDatagramSocket* m_pSocket = nullptr;
    // The binding address, then the destination of every datagram.
    wxIPV4address* m_pAddress = nullptr;
    std::atomic<int> m_iDriverType{-1};

    // The socket's descriptor and the destination, as sends use them.
    mutable std::mutex m_sendLock;
    int m_iFd = -1;
    sockaddr_storage m_dest{};
    socklen_t m_iDestLen = 0;
};
