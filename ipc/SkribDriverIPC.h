// The settings server: the calibration application and settings clients
// connect over the toolkit's TCP IPC with a topic, start and stop advise
// loops with an item, and receive the driver's advises.
//
// Topics: "Orient", "SideKey", "PENSET", "DriversSet", "SetSpeed". There is
// one connection at a time: any new client, whatever its topic, replaces the
// current one, and a client with another topic is then refused.
//
// Starting an advise loop (only while a board is active) hands the board's
// work thread a notification:
//
//     topic         item                   notification             value
//     "Orient"      n                      NOTIFY_ORIENT_START      n
//     "SideKey"     n >= 1                 NOTIFY_HOTKEY_START      n
//     "SideKey"     n < 1                  NOTIFY_SIDEKEY_RELOAD    0
//     "PENSET"      any                    NOTIFY_PENSET_RELOAD     0
//     "SetSpeed"    n                      NOTIFY_SET_SPEED         n
//     "DriversSet"  "save"                 NOTIFY_DRIVERSET_RELOAD  0
//     "DriversSet"  "data"                 NOTIFY_DRIVERSET_DATA    1
//     "DriversSet"  "auto0" .. "auto3"     NOTIFY_AUTO_LEVEL        0 .. 3
//     "DriversSet"  anything else          none
//
// (n: the item's leading decimal integer, 0 when there is none; items are
// compared exactly.) Stopping "Orient" or "SideKey" abandons a calibration
// (NOTIFY_ORIENT_END 0), stopping "DriversSet"/"data" switches the press
// values off (NOTIFY_DRIVERSET_DATA 0). A client that goes away, or that a
// new client replaces, does both; when the work thread took the second, it
// also reloads its driver settings (NOTIFY_DRIVERSET_RELOAD).
//
// Advises carry 4 bytes (wxIPC_PRIVATE): the first three characters of the
// text in the locale's multibyte encoding, zero-padded, then a zero. They go
// out under the item of the client's last accepted advise start.
//
// Safety:
// - The server listens on loopback only: a peer on the network, or a
//   connection addressed to a non-loopback address of this machine, is
//   refused.
// - A program that connects and stalls holds up neither the server nor the
//   main thread: a connection is accepted only with its first bytes, and
//   reads and writes never wait (a request that is not there whole is
//   refused; a client that stops reading loses advises).
// - A calibration run that the work thread does not take (no work thread, or
//   a point count it refuses) fails the client's advise start, so that the
//   client does not wait for points that never come.
//
// Threads:
// - Accepting, the connections and their callbacks, and every send run on
//   the main thread, in the toolkit's event loop.
// - Advise may be called from any thread (the work thread reports press
//   values and finished points). It only queues the payload; the main thread
//   sends it from its event loop. No other thread ever touches a connection,
//   so the main thread may replace or drop it at any time, and no advise
//   goes out inside a request's callback, ahead of the request's answer.
// - Each queued payload carries the advise session it was produced in. A
//   session ends when the connection is replaced or lost and when an advise
//   loop starts or stops; a payload of an ended session is dropped, so a
//   late "fin" or press value never reaches the next client or run.
#pragma once

#include "SkribWorkTypes.h"

#include <wx/sckipc.h>
#include <wx/string.h>

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

class CSkribDriverIPC;

// The five topics of the server.
bool IsSettingsTopic(const wxString& topic);

// The notification that an accepted advise start of `topic`/`item` gives;
// false when it gives none (the table above).
bool StartAdviseNotification(const wxString& topic, const wxString& item, ClientNotify_Type& kind, int& value);

// The 4 bytes of an advise of `text`.
std::array<unsigned char, 4> AdvisePayload(const wxString& text);

// What the server asks of the application; called on the main thread.
struct DriverIPCHost
{
    // A board is active: the application has created a work thread for it
    // (successfully or not) and not yet destroyed it.
    std::function<bool()> boardActive;
    // Hands a notification to the current work thread (DealClientNotify);
    // false when there is none or it did not take the notification.
    std::function<bool(ClientNotify_Type, int)> notifyWork;
};

class MyConnection : public wxTCPConnection
{
public:
    explicit MyConnection(CSkribDriverIPC& server) : m_server(server) {}

    bool OnStartAdvise(const wxString& topic, const wxString& item) override;
    bool OnStopAdvise(const wxString& topic, const wxString& item) override;
    // The peer went away. The object stays; its owner deletes it.
    bool OnDisconnect() override;

    // Sends one advise under the stored item; nothing without one, or when
    // the peer is gone. Main thread.
    void Send(const std::array<unsigned char, 4>& payload);

private:
    friend class CSkribDriverIPC;
    void SetNoDelay();

    CSkribDriverIPC& m_server;
    wxString m_strItem;
    bool m_bNoDelay = false;
    bool m_bGone = false; // the peer went away (OnDisconnect)
};

class CSkribDriverIPC : public wxTCPServer
{
public:
    explicit CSkribDriverIPC(DriverIPCHost host);
    ~CSkribDriverIPC() override;

    CSkribDriverIPC(const CSkribDriverIPC&) = delete;
    CSkribDriverIPC& operator=(const CSkribDriverIPC&) = delete;

    // Listens on `service` (a port number in decimal; "0" takes a free port)
    // on loopback only. False when the port cannot be bound or the socket
    // cannot be restricted to loopback (then nothing listens).
    bool Create(const wxString& service) override;

    wxConnectionBase* OnAcceptConnection(const wxString& topic) override;

    // Disconnects and deletes the current connection, if any, without
    // notifications (the destructor's step).
    void Disconnect();

    // Queues `text` for the connected client; any thread. Dropped when no
    // client is connected or has started advising by the time it is sent.
    void Advise(const wxString& text);

    // The port the server listens on (0 when it does not).
    int Port() const;

    MyConnection* Connection() const { return m_pConnection; }

private:
    friend class MyConnection;

    struct Pending
    {
        unsigned session;
        std::array<unsigned char, 4> payload;
    };

    // The connection's callbacks (main thread).
    bool StartAdvise(MyConnection& connection, const wxString& topic, const wxString& item);
    void StopAdvise(MyConnection& connection, const wxString& topic, const wxString& item);
    void Disconnected(MyConnection& connection);

    // The current client is gone: abandon its calibration and its press values.
    void ClientGone();
    void EndSession() { m_uSession.fetch_add(1); }
    void Flush();

    DriverIPCHost m_host;
    // Main thread only.
    MyConnection* m_pConnection = nullptr;
    // The connection that the last new client replaced: disconnected, and
    // deleted at the next replacement or with the server. Where the sockets
    // may wait (see Create), the toolkit may still be reading a request of
    // it further up the stack (a socket wait runs the event loop), so it is
    // not deleted at once.
    MyConnection* m_pRetired = nullptr;

    // Written on the main thread, read by Advise on any thread.
    std::atomic<unsigned> m_uSession{0};

    // m_queueLock guards the queue, the wake-up flag and the drop count.
    std::mutex m_queueLock;
    std::vector<Pending> m_queue;
    bool m_bWakePending = false;
    unsigned m_uDropped = 0;
    // Receives the wake-up that runs Flush on the main thread; its pending
    // wake-up goes with it.
    wxEvtHandler m_wake;
};
