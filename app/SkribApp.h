// The driver's application object: start-up and teardown of the process-wide
// services, the hub through which other threads reach the main thread, the
// one-shot timers of the board's work thread, and the do-not-touch dialog.
//
// The object is an event handler owned by the toolkit's application (a GUI
// application with a display, a console application without one, see
// main.cpp), so that the same driver runs on a desktop and headless.
#pragma once

#include "NotifyBase.h"
#include "SidekeyTimerGate.h"
#include "SkribAppTypes.h"
#include "SkribIPCSock.h"
#include "SkribOptions.h"
#include "SkribWorkTypes.h"
#include "WorkHost.h"

#include <wx/event.h>
#include <wx/snglinst.h>
#include <wx/string.h>
#include <wx/timer.h>

#include <atomic>
#include <memory>
#include <mutex>

class wxLocale;
class wxSocketEvent;
class CSkribDriverIPC;  // settings server
class CSkribWorkBase;   // the board's work thread
class CSkribDualSock;   // dual-user link
class MyDialog;

// The links to the whiteboard application follow the work thread: the
// datagram link exists while a board's work thread runs, the dual-user link
// while the whiteboard application asked for the two-user mode. Both are made
// and deleted on the main thread only (the toolkit's socket belongs to the
// main thread's event loop); the monitor thread asks for that with CallAfter.
// Other threads send through the datagram link under m_linkLock; the main
// thread, the only writer of the pointer, reads it without the lock (its
// calls into the link may reach the work thread, which itself sends).
class CSkribApp : public wxEvtHandler, public IBoardHost, public IWorkHost, public ISoftLinkHost
{
public:
    explicit CSkribApp(const CSkribOptions& options);
    ~CSkribApp() override;

    // Start-up and teardown, on the main thread.
    bool OnInit();
    int OnExit();

    // Posts the command of `type` to the main thread; safe from any thread.
    // Values outside Event_Type post nothing (the result is then false).
    bool CreateEvent(int type) override;

    // The hot-plug monitor's thread hands over an identified board and takes
    // it back (serialised by the monitor).
    bool CreateWorkThread(int driverType, CDeviceBase* device) override;
    bool DestoryWorkThread(const tagDevice_Info& info) override;

    // Links to the whiteboard application and the settings client. They do
    // nothing while the link in question does not exist.
    void SendConnectToSoft(bool connected) override;
    void SendMsgToSoft(int type) override;
    void SetDriverType(int driverType);
    void OnSend(const char* data, int length) override;
    void SendToClient(const wxString& text) override;
    // Main thread (where the work thread's notifications arrive).
    bool CreateDualSock(int port) override;
    void DestoryDualSock() override;
    // The whiteboard application's requests for the work thread (main thread).
    void NotifyWork(ClientNotify_Type kind, int value) override;

    // The side-key timer's window for the work thread (m_sidekeyGate).
    bool IsSidekeyTimerRunning() override { return m_sidekeyGate.IsRunning(); }
    void StopSidekeyTimer() override { m_sidekeyGate.Stop(); }
    bool ClaimSidekeyExpiry() override { return m_sidekeyGate.Claim(); }

    // The work thread for a call from the main thread: the copy keeps it
    // alive for the call, even if the board goes meanwhile (null: none).
    std::shared_ptr<CSkribWorkBase> Work() const;

    // Steps of OnInit.
    bool SetLanguage(int language);
    bool CreateLog();
    bool CreateIPC();
    bool CreateDevNotify();

    void StartNotTouchApp(bool show);

    // Event handlers, main thread.
    void StartBoardSoft(wxCommandEvent& event);
    void StartOrient(wxCommandEvent& event);
    void StartNotTouch(wxCommandEvent& event);
    void CloseNotTouch(wxCommandEvent& event);
    void StartTimer(wxCommandEvent& event);
    void OnTimer(wxTimerEvent& event);
    void OnRecv(wxSocketEvent& event);

    // The settings server's service name as CreateIPC derived it ("" before).
    const wxString& IPCService() const { return m_strIPCService; }
    MyDialog* NotTouchDialog() const { return m_pNotTouch; }
    bool IsHeadless() const;
    bool HasSoftLink() const { return m_pIPCSock != nullptr; }
    const CSkribOptions& Options() const { return m_options; }

    // The side-key timer. Only the main thread touches it; the work thread
    // sees it through m_sidekeyGate.
    wxTimer m_timerSidekey;

    // A timer's expiry for the work thread (dropped when there is none).
    void DeliverTimeout(Timeout_Type type);

private:
    void StopWork();
    // Main thread: the datagram link of a new work thread, with the board's
    // announcement; and its end, with the dual-user link's.
    void OpenSoftLink();
    void CloseSoftLink();
    void ShowMessage(const wxString& text, const wxString& caption);
    void WriteProcessId(int pid);

    CSkribOptions m_options;

    wxTimer m_timerRelease;
    wxTimer m_timerRepress;
    wxTimer m_timerDualRelease;

    CSkribDriverIPC* m_pDriverIPC = nullptr;
    CSkribNotifyBase* m_pNotify = nullptr;
    // The one work thread. Set and cleared by the monitor thread, used by the
    // main thread; m_workLock guards the slot, the shared pointer the object.
    std::shared_ptr<CSkribWorkBase> m_pWork;
    mutable std::mutex m_workLock;
    CSkribIPCSock* m_pIPCSock = nullptr;
    std::mutex m_linkLock; // see the class comment
    CSkribDualSock* m_pDualSock = nullptr; // main thread only
    std::atomic<bool> m_bBoardActive{false};
    // Whether the side-key window is open: opened by CreateEvent(
    // EVENT_SIDEKEY_TIMER), closed by the work thread's stop or the expiry.
    CSidekeyTimerGate m_sidekeyGate;

    wxSingleInstanceChecker m_checker;
    wxLocale* m_pLocale = nullptr;

    MyDialog* m_pNotTouch = nullptr;
    wxString m_strIPCService;
    // Set once this instance holds the single-instance lock: only then does
    // its teardown clear the process id entry of the settings file.
    bool m_bOwnsPidEntry = false;

    wxDECLARE_EVENT_TABLE();
};

// The one application object of the process.
CSkribApp& wxGetApp();
bool HasSkribApp();
