// What a board's work thread asks of the application: the messages to the
// whiteboard application and the settings client, and events for the main
// thread (timers, the dialog, launches). Safe from the work thread.
#pragma once

#include <wx/string.h>

class IWorkHost
{
public:
    virtual ~IWorkHost() = default;
    virtual bool CreateEvent(int type) = 0;
    virtual void SendConnectToSoft(bool connected) = 0;
    virtual void SendMsgToSoft(int type) = 0;
    virtual void OnSend(const char* data, int length) = 0;
    virtual void SendToClient(const wxString& text) = 0;
    // The dual-user link to the whiteboard application's TCP `port`: made
    // and attached to the thread's pointer engine (true when connected), and
    // detached and closed. Called where the thread's notifications arrive.
    virtual bool CreateDualSock(int port) = 0;
    virtual void DestoryDualSock() = 0;

    // The side-key timer (500 ms, one-shot; see CSidekeyTimerGate). Its
    // window opens with CreateEvent(EVENT_SIDEKEY_TIMER). The side keys ask
    // whether it is open and close it directly, holding the work thread's
    // lock; the work thread claims an expiry under the same lock before it
    // runs the single-press action, and a refused claim drops the expiry.
    virtual bool IsSidekeyTimerRunning() = 0;
    virtual void StopSidekeyTimer() = 0;
    virtual bool ClaimSidekeyExpiry() = 0;
};
