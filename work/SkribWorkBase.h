// The work thread that serves one board: it owns the opened device and the
// board's components (conversion, pointer engine, calibration collector,
// side-key processor), runs the read loop (read, check, decode, dispatch),
// watches for silence, and takes time-outs and notifications from the main
// thread. A board family supplies decoding and reactions in a subclass.
//
// Thread hand-overs, all in this class:
// - The read loop runs on the work thread. The main thread calls OnTimer and
//   DealClientNotify while it runs. m_mutex serialises them with the loop's
//   handling of a report: everything those calls and the handlers touch (the
//   state, the points, the components) is only touched under m_mutex. The
//   loop never holds it while it waits for the board.
// - Lifetime: the application holds the thread in a shared pointer and hands
//   out copies for each call; a call in progress keeps the object alive. The
//   application stops and joins the thread (Stop) before it lets go of it,
//   and the object is destroyed by whoever drops the last copy, never while
//   a call runs or the loop runs.
#pragma once

#include "DeviceBase.h"
#include "SkribWorkTypes.h"
#include "WorkHost.h"

#include <wx/gdicmn.h>
#include <wx/string.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

class CMouseCtrlBase;
class IDualLink;
class CConversionBase;
class COrientProcess;  // calibration collector
class CSidekeyProcess; // side keys and hot-key zones

class CSkribWorkBase
{
public:
    // The work thread class of a driver type; null for types without one.
    static CSkribWorkBase* CreateWorkThread(int driverType);

    CSkribWorkBase();
    virtual ~CSkribWorkBase(); // stops and joins the loop if it still runs, then Close

    CSkribWorkBase(const CSkribWorkBase&) = delete;
    CSkribWorkBase& operator=(const CSkribWorkBase&) = delete;

    // Before Run, on the thread that creates the work thread; takes the device.
    virtual bool Init(CDeviceBase* device);
    // The application; set before Init.
    void SetHost(IWorkHost* host);

    // Starts the read loop on its own thread.
    bool Run();
    // Asks the loop to end and waits for it. The device's wait is cut short.
    void Stop();
    bool TestDestroy() const { return m_bStop.load(); }

    bool CheckDevInfo(const tagDevice_Info& info);
    // Main thread.
    void OnTimer(Timeout_Type kind);
    virtual bool DealClientNotify(ClientNotify_Type kind, int value);

    void DealHadKey();
    // Attaches the dual-user link to the pointer engine (null detaches it;
    // returns once no engine call uses the old one).
    void SetDualLink(IDualLink* link);
    void Close();

    const wxString& Name() const { return m_strName; }
    CDeviceBase* Device() const { return m_pDev; }

    // The process-wide silence limit (-1 until the first base loop fixed it).
    static int SilenceLimit();

protected:
    virtual void* Entry();
    virtual bool Dev2Scr() = 0;
    virtual bool DataHeadCheck();
    virtual int WriteConnect();
    virtual int GetCmdType() = 0;
    virtual int SendDualData(int, int, int) { return 0; }
    virtual int Read(unsigned char* buffer, int length);
    virtual int Write(const unsigned char* data, int length);
    virtual void OnPressT() {}
    virtual void OnPressS() {}
    virtual void OnReleaseT() {}
    virtual void OnReleaseS() {}
    virtual void OnFrontPress() {}
    virtual void OnBackPress() {}
    virtual void OnValuePressT() {}
    virtual void OnValuePressS() {}
    virtual void OnMiddlePressS() {}
    virtual void OnMiddlePressT() {}

    // A key of the board's own hot-key table was pressed: a side-key press.
    virtual void OnHadKey(const wxString& name);

    // One report's handling after a full read, under m_mutex.
    void Dispatch();
    wxPoint Convert(const wxRealPoint& device);

    CDeviceBase* m_pDev = nullptr;
    CMouseCtrlBase* m_pMouseCtrl = nullptr;
    CConversionBase* m_pConversion = nullptr;
    COrientProcess* m_pOrient = nullptr;
    CSidekeyProcess* m_pSidekey = nullptr;
    std::map<unsigned char, wxString> m_keyMap;
    wxRealPoint m_devPoint;
    wxPoint m_scrPoint;
    unsigned char* m_pBuf = nullptr;
    int m_iLen = 8;
    int m_iKeyFlag = 0;
    State_Type m_iState = STATE_NORMAL;
    wxString m_strName;

    IWorkHost* m_pHost = nullptr;
    std::recursive_mutex m_mutex; // see the header comment (families lock again in their overrides)

private:
    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
};
