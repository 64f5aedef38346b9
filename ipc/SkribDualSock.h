// The dual-user link: a TCP connection to the whiteboard application on the
// local host that carries the second user's pointer actions, one 20-byte
// record per action (five little-endian 32-bit ints: -1, -1, action, x, y).
//
// Threads: the application creates, connects and deletes the link (main
// thread, or a work thread that is being closed); the pointer engine writes
// records from the board's work thread. m_mutex guards the connection:
// ConnectToSoft installs it, SendDualData writes a whole record under it,
// DisConnect and the destructor close it under it, so the connection never
// closes during a write. The object itself must not be deleted while a call
// runs: the owner first detaches it from the pointer engine
// (CMouseCtrlBase::SetDualLink(nullptr) waits for an engine call in
// progress), then deletes it.
//
// The connection is a plain non-blocking socket with TCP_NODELAY (a record is
// sent at once, not held back to be merged with the next one).
#pragma once

#include "DualLink.h"

#include <mutex>

enum
{
    DUAL_RECORD_SIZE = 20,
    // How long ConnectToSoft waits for the peer to accept.
    DUAL_CONNECT_TIMEOUT_MS = 1000,
    // How long a record may wait for room in the connection before the
    // connection is given up.
    DUAL_WRITE_TIMEOUT_MS = 200,
};

// The record of one pointer action, byte for byte.
void FormatDualRecord(int action, int x, int y, unsigned char (&record)[DUAL_RECORD_SIZE]);

class CSkribDualSock : public IDualLink
{
public:
    explicit CSkribDualSock(int connectTimeoutMs = DUAL_CONNECT_TIMEOUT_MS);
    ~CSkribDualSock() override;

    CSkribDualSock(const CSkribDualSock&) = delete;
    CSkribDualSock& operator=(const CSkribDualSock&) = delete;

    // Connects to 127.0.0.1 at `port`, taken as an unsigned 16-bit number.
    // An existing connection is closed first. Waits until the peer accepts,
    // refuses, or the connect time-out passes; true when connected.
    bool ConnectToSoft(int port);

    // Writes the record of one action when connected; nothing otherwise.
    // True when the whole record went out. A connection that fails a write
    // (peer gone, or no room within the write time-out) is closed: nothing
    // ever follows a record that went out only in part, so the records the
    // peer reads stay aligned.
    bool SendDualData(int action, int x, int y) override;

    // Closes the connection, if any.
    void DisConnect();

    bool IsConnected() const;

private:
    const int m_iConnectTimeoutMs;
    mutable std::mutex m_mutex;
    int m_iSocket = -1; // the connection; -1 when not connected
};
