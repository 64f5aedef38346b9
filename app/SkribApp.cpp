#include "SkribApp.h"

#include "Companion.h"
#include "ConfigXML.h"
#include "MyDialog.h"
#include "SkribDriverIPC.h"
#include "SkribDualSock.h"
#include "SkribLog.h"
#include "SkribWorkBase.h"
#include "SoftLinkFlags.h"

#include <wx/app.h>
#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/log.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>
#include <wx/socket.h>
#include <wx/translation.h>
#include <wx/utils.h>

#include <cerrno>
#include <clocale>
#include <cstring>
#include <unistd.h>

namespace {

CSkribApp* g_pSkribApp = nullptr;

// The Event_Type table: command posted for each value.
const int kEventCommand[] = {
    ID_START_BOARD_SOFT,    ID_START_ORIENT,         ID_START_RELEASE_TIMER, ID_START_SIDEKEY_TIMER,
    ID_START_REPRESS_TIMER, ID_START_DUAL_RELEASE_TIMER, ID_SHOW_NOT_TOUCH,   ID_CLOSE_NOT_TOUCH,
};

const char* const kTraceChannels[] = {"LogInfo", "BOWork", "IPC", "workThread",
                                      "DevNotify", "Orient", "Sidekey", "CConversion"};

const char* const kTimeoutNames[] = {"TIMEOUT_RELEASE", "TIMEOUT_DUAL_RELEASE", "TIMEOUT_SIDEKEY", "TIMEOUT_REPRESS"};

} // namespace

wxBEGIN_EVENT_TABLE(CSkribApp, wxEvtHandler)
    EVT_SOCKET(ID_SOFT_SOCKET, CSkribApp::OnRecv)
    EVT_MENU(ID_START_BOARD_SOFT, CSkribApp::StartBoardSoft)
    EVT_MENU(ID_START_ORIENT, CSkribApp::StartOrient)
    EVT_MENU(ID_SHOW_NOT_TOUCH, CSkribApp::StartNotTouch)
    EVT_MENU(ID_CLOSE_NOT_TOUCH, CSkribApp::CloseNotTouch)
    EVT_MENU(ID_START_RELEASE_TIMER, CSkribApp::StartTimer)
    EVT_MENU(ID_START_SIDEKEY_TIMER, CSkribApp::StartTimer)
    EVT_MENU(ID_START_REPRESS_TIMER, CSkribApp::StartTimer)
    EVT_MENU(ID_START_DUAL_RELEASE_TIMER, CSkribApp::StartTimer)
    EVT_TIMER(ID_TIMER_RELEASE, CSkribApp::OnTimer)
    EVT_TIMER(ID_TIMER_SIDEKEY, CSkribApp::OnTimer)
    EVT_TIMER(ID_TIMER_REPRESS, CSkribApp::OnTimer)
    EVT_TIMER(ID_TIMER_DUAL_RELEASE, CSkribApp::OnTimer)
wxEND_EVENT_TABLE()

CSkribApp& wxGetApp()
{
    return *g_pSkribApp;
}

bool HasSkribApp()
{
    return g_pSkribApp != nullptr;
}

CSkribApp::CSkribApp(const CSkribOptions& options)
    : m_timerSidekey(this, ID_TIMER_SIDEKEY),
      m_options(options),
      m_timerRelease(this, ID_TIMER_RELEASE),
      m_timerRepress(this, ID_TIMER_REPRESS),
      m_timerDualRelease(this, ID_TIMER_DUAL_RELEASE),
      m_checker("CSkribAppZIW", wxString::FromUTF8(options.lockDir.c_str()))
{
    g_pSkribApp = this;
    SetCompanionPaths(options.boardApp, options.boardApp1, options.orientApp);
}

CSkribApp::~CSkribApp()
{
    delete m_pLocale;
    m_pLocale = nullptr;
    OnExit();
    if (g_pSkribApp == this)
        g_pSkribApp = nullptr;
}

bool CSkribApp::IsHeadless() const
{
    // wxTheApp is a GUI application by type; the console one is not.
    wxAppConsole* app = wxAppConsole::GetInstance();
    return !app || !app->IsGUI();
}

bool CSkribApp::OnInit()
{
    // 1. The working folder: every relative path of the driver starts here.
    if (chdir(m_options.workDir.c_str()) != 0)
        SkribLog("working folder \"%s\": %s; the settings file and catalogues will not be found",
                 m_options.workDir.c_str(), strerror(errno));

    // 2. The system's language, else English.
    if (!SetLanguage(wxLocale::GetSystemLanguage()))
        SetLanguage(wxLANGUAGE_ENGLISH_US);
    // Decimal numbers in the settings file and in messages use a point,
    // whatever language was chosen; set before any other thread exists.
    setlocale(LC_NUMERIC, "C");

    // 3. One driver per machine.
    if (m_checker.IsAnotherRunning()) {
        ShowMessage(wxGetTranslation(wxString::FromUTF8("SkribEP服务已经在运行! ")), "Message");
        return false;
    }
    m_bOwnsPidEntry = true;

    // 4. Closing the dialog or a message box must not end the driver.
    if (!IsHeadless())
        static_cast<wxApp*>(wxAppConsole::GetInstance())->SetExitOnFrameDelete(false);

    // 5. The process id for the companion applications.
    WriteProcessId(static_cast<int>(getpid()));

    // 6. - 7.
    CreateLog();
    if (!CreateIPC())
        return false;
    return CreateDevNotify();
}

int CSkribApp::OnExit()
{
    // 1. The work thread is stopped and joined: no thread outlives the
    // application (a detached one could still post events during exit).
    StopWork();
    // 2. The settings server goes after the monitor, below.
    // 3. The links.
    CloseSoftLink();
    // 4. The monitor is stopped and joined: no thread outlives the application.
    if (m_pNotify) {
        m_pNotify->Stop();
        delete m_pNotify;
        m_pNotify = nullptr;
        StopWork(); // a board that arrived meanwhile
        CloseSoftLink();
    }
    // The settings server, once no work thread can advise through it.
    delete m_pDriverIPC;
    m_pDriverIPC = nullptr;
    // 5.
    if (m_bOwnsPidEntry)
        WriteProcessId(-1);
    return 0;
}

void CSkribApp::WriteProcessId(int pid)
{
    CConfigXML config;
    if (config.open(CONFIG_FILE) && config.writeInt("Global", "Pid", "BoardSer", pid))
        config.save();
    else
        SkribLog("process id %d not recorded: \"%s\" is missing or has no Global/Pid", pid, CONFIG_FILE);
    config.close();
}

void CSkribApp::ShowMessage(const wxString& text, const wxString& caption)
{
    SkribLog("%s: %s", caption.utf8_str().data(), text.utf8_str().data());
    if (!IsHeadless())
        wxMessageBox(text, caption, wxOK | wxCENTRE, nullptr);
}

bool CSkribApp::SetLanguage(int language)
{
    delete m_pLocale;
    m_pLocale = nullptr;

    // A locale that the system has not generated cannot be set; its
    // catalogues still load without it, and no warning box may appear.
    wxTranslations* translations = nullptr;
    if (wxLocale::IsAvailable(language)) {
        m_pLocale = new wxLocale;
        if (m_pLocale->Init(language, wxLOCALE_LOAD_DEFAULT))
            translations = wxTranslations::Get();
        else {
            delete m_pLocale;
            m_pLocale = nullptr;
        }
    }
    if (!translations) {
        translations = new wxTranslations;
        wxTranslations::Set(translations);
        translations->SetLanguage(static_cast<wxLanguage>(language));
    }

    // Anchored to the working folder, not to whatever the current folder is.
    wxFileTranslationsLoader::AddCatalogLookupPathPrefix(wxFileName::DirName(wxGetCwd()).GetFullPath() + "LANG");
    if (translations->AddCatalog("BoardDriver"))
        return true;
    return translations->AddCatalog("en_US/BoardDriver");
}

bool CSkribApp::CreateLog()
{
    wxLog::SetTimestamp("%Y-%m-%d %H:%M:%S");
    wxLog::SetLogLevel(static_cast<wxLogLevel>(7));
    for (const char* channel : kTraceChannels)
        wxLog::AddTraceMask(channel);
    return true;
}

bool CSkribApp::CreateIPC()
{
    int port = 0;
    CConfigXML config;
    config.open(CONFIG_FILE);
    config.readInt("Global", "port", "num", port, SETTINGS_PORT_DEFAULT);
    config.close();
    m_strIPCService = wxString::Format("%d", port);

    DriverIPCHost host;
    host.boardActive = [this] { return m_bBoardActive.load(); };
    host.notifyWork = [this](ClientNotify_Type kind, int value) {
        std::shared_ptr<CSkribWorkBase> work = Work();
        return work && work->DealClientNotify(kind, value);
    };
    m_pDriverIPC = new CSkribDriverIPC(std::move(host));
    if (!m_pDriverIPC->Create(m_strIPCService)) {
        delete m_pDriverIPC;
        m_pDriverIPC = nullptr;
        return false;
    }
    return true;
}

bool CSkribApp::CreateDevNotify()
{
    ManualDevice manual;
    manual.node = m_options.device;
    manual.driverType = m_options.driverType;
    manual.matchHid = m_options.matchHid;
    m_pNotify = CSkribNotifyBase::CreateNotify(this, manual);
    if (m_pNotify && m_pNotify->Init() && m_pNotify->Start())
        return true;
    SkribLog("hot-plug monitor cannot start: no board can be served");
    delete m_pNotify;
    m_pNotify = nullptr;
    return false;
}

void CSkribApp::StopWork()
{
    std::shared_ptr<CSkribWorkBase> work;
    {
        std::lock_guard<std::mutex> lock(m_workLock);
        work.swap(m_pWork);
    }
    if (work)
        work->Stop();
}

std::shared_ptr<CSkribWorkBase> CSkribApp::Work() const
{
    std::lock_guard<std::mutex> lock(m_workLock);
    return m_pWork;
}

bool CSkribApp::CreateWorkThread(int driverType, CDeviceBase* device)
{
    g_bSoftStart = false;
    std::shared_ptr<CSkribWorkBase> t(CSkribWorkBase::CreateWorkThread(driverType));
    bool result = false;
    if (t) {
        t->SetHost(this);
        if (t->Init(device)) {
            device = nullptr; // the work thread owns it now
            result = t->Run();
        } else {
            device = nullptr; // Init took it; the thread's Close releases it
        }
        if (!result)
            t.reset();
    } else {
        SkribLog("no work thread for driver type %d (board at %s)", driverType, device ? device->Location() : "?");
    }
    // A device that no work thread took is released here, once.
    delete device;

    m_bBoardActive = true;
    {
        std::lock_guard<std::mutex> lock(m_workLock);
        m_pWork = t;
    }
    // The link is made on the main thread, which then announces the board
    // ("Connect", "IsStart", "DouPenEnabled"). Without a link (no work
    // thread) there is nobody to announce it to.
    if (result)
        CallAfter(&CSkribApp::OpenSoftLink);
    return result;
}

bool CSkribApp::DestoryWorkThread(const tagDevice_Info& info)
{
    bool result = false;
    std::shared_ptr<CSkribWorkBase> work = Work();
    if (work && work->CheckDevInfo(info)) {
        m_bBoardActive = false;
        SendConnectToSoft(false);
        {
            std::lock_guard<std::mutex> lock(m_workLock);
            m_pWork.reset();
        }
        // Stopped and joined here; the object goes with the last copy (a
        // timer call of the main thread may still hold one).
        work->Stop();
        work.reset();
        result = true;
    }
    wxSleep(1);
    CallAfter(&CSkribApp::CloseSoftLink);
    return result;
}

void CSkribApp::OpenSoftLink()
{
    CloseSoftLink(); // a link left from an earlier board would hold the port
    auto* link = new CSkribIPCSock(this, this, m_options.softPort, m_options.softPeerPort);
    if (!link->Init()) {
        delete link;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_linkLock);
        m_pIPCSock = link;
    }
    SendConnectToSoft(true);
    SendMsgToSoft(MSG_DOUPEN_ENABLED);
}

void CSkribApp::CloseSoftLink()
{
    DestoryDualSock();
    CSkribIPCSock* link;
    {
        std::lock_guard<std::mutex> lock(m_linkLock);
        link = m_pIPCSock;
        m_pIPCSock = nullptr;
    }
    delete link;
}

bool CSkribApp::CreateDualSock(int port)
{
    auto* link = new CSkribDualSock;
    bool connected = link->ConnectToSoft(port);
    if (std::shared_ptr<CSkribWorkBase> work = Work())
        work->SetDualLink(link);
    // The engine has let go of the old link: it can go.
    delete m_pDualSock;
    m_pDualSock = link;
    return connected;
}

void CSkribApp::DestoryDualSock()
{
    if (!m_pDualSock)
        return;
    if (std::shared_ptr<CSkribWorkBase> work = Work())
        work->SetDualLink(nullptr);
    delete m_pDualSock;
    m_pDualSock = nullptr;
}

void CSkribApp::NotifyWork(ClientNotify_Type kind, int value)
{
    if (std::shared_ptr<CSkribWorkBase> work = Work())
        work->DealClientNotify(kind, value);
    else
        wxLogTrace("IPC", "notification %d dropped: no work thread", static_cast<int>(kind));
}

bool CSkribApp::CreateEvent(int type)
{
    if (type < 0 || type >= static_cast<int>(sizeof kEventCommand / sizeof kEventCommand[0]))
        return false;
    // The side-key window is open from the request on (see CSidekeyTimerGate).
    if (type == EVENT_SIDEKEY_TIMER)
        m_sidekeyGate.RequestStart();
    wxQueueEvent(this, new wxCommandEvent(wxEVT_COMMAND_MENU_SELECTED, kEventCommand[type]));
    return true;
}

void CSkribApp::SendConnectToSoft(bool connected)
{
    // The board's style is looked up before the link's lock is taken.
    int driverType = -1;
    if (connected) {
        std::shared_ptr<CSkribWorkBase> work = Work();
        if (!m_bBoardActive || !work || !work->Device())
            return;
        driverType = work->Device()->Info().driverType;
    }
    std::lock_guard<std::mutex> lock(m_linkLock);
    if (!m_pIPCSock)
        return;
    if (connected) {
        m_pIPCSock->SetDriverType(driverType);
        m_pIPCSock->SendMsgToSoft(MSG_CONNECT);
        m_pIPCSock->SendMsgToSoft(MSG_IS_START);
    } else {
        m_pIPCSock->SendMsgToSoft(MSG_DISCONNECT);
        m_pIPCSock->SetDriverType(-1);
    }
}

void CSkribApp::SendMsgToSoft(int type)
{
    SkribLog("ggg %d", type);
    std::lock_guard<std::mutex> lock(m_linkLock);
    if (m_pIPCSock)
        m_pIPCSock->SendMsgToSoft(type);
}

void CSkribApp::SetDriverType(int driverType)
{
    std::lock_guard<std::mutex> lock(m_linkLock);
    if (m_pIPCSock)
        m_pIPCSock->SetDriverType(driverType);
}

void CSkribApp::OnSend(const char* data, int length)
{
    std::lock_guard<std::mutex> lock(m_linkLock);
    if (m_pIPCSock)
        m_pIPCSock->OnSend(data, length);
}

void CSkribApp::SendToClient(const wxString& text)
{
    // The server queues the text for the main thread; the pointer is set
    // before the first work thread starts and cleared after the last ends.
    if (m_pDriverIPC)
        m_pDriverIPC->Advise(text);
}

void CSkribApp::StartBoardSoft(wxCommandEvent&)
{
    SoftAppStart();
}

void CSkribApp::StartOrient(wxCommandEvent&)
{
    int pid = 0;
    CConfigXML config;
    config.open(CONFIG_FILE);
    config.readInt("Global", "Pid", "Orient", pid, 0);
    config.close();
    SkribLog("orient pid:%d", pid);
    OrientAppStart(pid);
}

void CSkribApp::StartNotTouch(wxCommandEvent&)
{
    StartNotTouchApp(true);
}

void CSkribApp::CloseNotTouch(wxCommandEvent&)
{
    StartNotTouchApp(false);
}

void CSkribApp::StartNotTouchApp(bool show)
{
    const wxString text = wxGetTranslation(wxString::FromUTF8(NOT_TOUCH_TEXT));
    if (IsHeadless()) {
        SkribLog("%s: %s", show ? "do-not-touch dialog shown" : "do-not-touch dialog closed", text.utf8_str().data());
        return;
    }
    if (show) {
        if (m_pNotTouch) {
            m_pNotTouch->CloseDialog();
            m_pNotTouch = nullptr;
        }
        int width = wxSystemSettings::GetMetric(wxSYS_SCREEN_X);
        int height = wxSystemSettings::GetMetric(wxSYS_SCREEN_Y);
        m_pNotTouch = new MyDialog(nullptr, -1, wxEmptyString, wxPoint(width / 2, height / 4), wxDefaultSize,
                                   wxBORDER_NONE | wxSTAY_ON_TOP);
        m_pNotTouch->CentreOnScreen(wxHORIZONTAL);
        static_cast<wxApp*>(wxAppConsole::GetInstance())->SetTopWindow(m_pNotTouch);
        m_pNotTouch->Show();
    } else if (m_pNotTouch) {
        m_pNotTouch->CloseDialog();
        wxMilliSleep(500);
        m_pNotTouch = nullptr;
    }
}

void CSkribApp::StartTimer(wxCommandEvent& event)
{
    switch (event.GetId()) {
    case ID_START_RELEASE_TIMER:
        m_timerRelease.StartOnce(100);
        break;
    case ID_START_SIDEKEY_TIMER:
        // Not started for a window that the work thread closed meanwhile.
        if (m_sidekeyGate.Arm())
            m_timerSidekey.StartOnce(500);
        else
            m_timerSidekey.Stop();
        break;
    case ID_START_REPRESS_TIMER:
        m_timerRepress.StartOnce(500);
        break;
    case ID_START_DUAL_RELEASE_TIMER:
        m_timerDualRelease.StartOnce(100);
        break;
    default:
        break;
    }
}

void CSkribApp::OnTimer(wxTimerEvent& event)
{
    switch (event.GetId()) {
    case ID_TIMER_RELEASE:
        DeliverTimeout(TIMEOUT_RELEASE);
        break;
    case ID_TIMER_DUAL_RELEASE:
        DeliverTimeout(TIMEOUT_DUAL_RELEASE);
        break;
    case ID_TIMER_SIDEKEY:
        DeliverTimeout(TIMEOUT_SIDEKEY);
        break;
    case ID_TIMER_REPRESS:
        DeliverTimeout(TIMEOUT_REPRESS);
        break;
    default:
        break;
    }
}

void CSkribApp::DeliverTimeout(Timeout_Type type)
{
    std::shared_ptr<CSkribWorkBase> work = Work();
    if (work) {
        work->OnTimer(type);
    } else {
        if (type == TIMEOUT_SIDEKEY)
            m_sidekeyGate.Claim(); // the window closes all the same
        wxLogTrace("workThread", "%s dropped: no work thread", kTimeoutNames[type]);
    }
}

void CSkribApp::OnRecv(wxSocketEvent& event)
{
    if (event.GetSocketEvent() != wxSOCKET_INPUT)
        return;
    // Every waiting datagram, each read whole into a zeroed 50-byte buffer;
    // one that does not fit with its terminating zero is ignored whole. The
    // main thread owns the link: no lock (see the class comment).
    if (m_pIPCSock)
        m_pIPCSock->ReadDatagrams();
}
