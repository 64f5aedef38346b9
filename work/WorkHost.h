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
};
