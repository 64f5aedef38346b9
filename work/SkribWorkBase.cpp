#include "SkribWorkBase.h"

#include "ConfigXML.h"
#include "Conversion.h"
#include "Injection.h"
#include "MouseCtrl.h"
#include "OrientProcess.h"
#include "SidekeyProcess.h"
#include "SkribLog.h"
#include "SkribWorkZIW.h"
#include "SoftLinkFlags.h"

#include <chrono>
#include <cstring>

namespace {

// The silence limit: fixed by the first base loop for the whole process.
std::atomic<int> g_silenceLimit{-1};

} // namespace

CSkribWorkBase* CSkribWorkBase::CreateWorkThread(int driverType)
{
    switch (driverType) {
    case DRIVER_ZIW:
        return new CSkribWorkZIW;
    // The other families add their classes here as they arrive: VUQ (10,
    // 11), VU (7), KAPD (1, 18, 19), KA (0), MO (2), MOD (4), NE (12).
    default:
        return nullptr;
    }
}

int CSkribWorkBase::SilenceLimit()
{
    return g_silenceLimit.load();
}

CSkribWorkBase::CSkribWorkBase() = default;

void CSkribWorkBase::SetHost(IWorkHost* host)
{
    m_pHost = host;
    if (m_pSidekey)
        m_pSidekey->SetHost(host);
}

CSkribWorkBase::~CSkribWorkBase()
{
    Stop();
    Close();
}

bool CSkribWorkBase::Init(CDeviceBase* device)
{
    m_pDev = device;
    m_pConversion = CConversionBase::CreateConversion(m_strName);
    // The screen is the one that the pointer engine's injection addresses.
    int width = 0, height = 0;
    InjectionScreenSize(width, height);
    m_pConversion->Init(width, height);
    m_pMouseCtrl = CMouseCtrlBase::CreateMouseCtrl(m_strName);
    m_pMouseCtrl->ReadConfig();
    m_pOrient = new COrientProcess(m_strName);
    // "fin" after each calibration point, to the settings client.
    m_pOrient->SetAdvise([this](const wxString& text) {
        if (m_pHost)
            m_pHost->SendToClient(text);
    });
    m_pSidekey = new CSidekeyProcess(device && device->m_bHadHand, m_strName);
    m_pSidekey->SetHost(m_pHost);
    // The back button's single press: a right click where the pointer was
    // last sent (run with m_mutex held, as every side-key call is).
    m_pSidekey->SetRightClick([this] {
        if (m_pMouseCtrl)
            m_pMouseCtrl->MouseAction(m_scrPoint, MOUSE_ACTION_RCLICK);
    });
    m_pSidekey->ReadConfig();

    CConfigXML config;
    if (config.open(CONFIG_FILE)) {
        config.writeStr("Global", "CurrentRun", "TYPE", m_strName.mb_str());
        config.writeInt(m_strName.mb_str(), "Flag", "Is_Had_Hand", device && device->m_bHadHand ? 1 : 0);
        config.save();
    }
    config.close();

    m_pBuf = new unsigned char[static_cast<size_t>(m_iLen)];
    memset(m_pBuf, 0, static_cast<size_t>(m_iLen));
    return true;
}

bool CSkribWorkBase::Run()
{
    if (m_thread.joinable() || !m_pBuf)
        return false;
    m_bStop = false;
    m_thread = std::thread([this] { Entry(); });
    return true;
}

void CSkribWorkBase::Stop()
{
    m_bStop = true;
    if (!m_thread.joinable())
        return;
    // A read that waits for the board returns at once on a closed device.
    if (m_pDev)
        m_pDev->Close();
    m_thread.join();
}

bool CSkribWorkBase::CheckDevInfo(const tagDevice_Info& info)
{
    return m_pDev && m_pDev->CheckDevInfo(info);
}

bool CSkribWorkBase::DataHeadCheck()
{
    if (m_iLen < 8 || (m_pBuf[0] != 0xAA && m_pBuf[0] != 0xEE))
        return false;
    unsigned char x = 0;
    for (int i = 0; i < 7; ++i)
        x ^= m_pBuf[i];
    return x == m_pBuf[7];
}

int CSkribWorkBase::WriteConnect()
{
    return m_pDev ? m_pDev->WriteConnect() : -1;
}

int CSkribWorkBase::Read(unsigned char* buffer, int length)
{
    return m_pDev ? m_pDev->Read(buffer, length) : -1;
}

int CSkribWorkBase::Write(const unsigned char* data, int length)
{
    if (!m_pDev) {
        SkribLog("m_pDev = NULL");
        return -1;
    }
    return m_pDev->Write(data, length);
}

wxPoint CSkribWorkBase::Convert(const wxRealPoint& device)
{
    return m_pConversion ? m_pConversion->Conversion(device) : wxPoint(0, 0);
}

void* CSkribWorkBase::Entry()
{
    int expected = -1;
    const int timeout = m_pDev ? m_pDev->m_timeout : 1000;
    g_silenceLimit.compare_exchange_strong(expected, timeout > 0 ? 2000 / timeout - 1 : 1);
    const int limit = g_silenceLimit.load();
    SkribLog("ggg:%d", limit);

    const bool isNE = m_strName == "SkribWorkNE";
    if (!isNE)
        WriteConnect();
    bool connected = true;
    int silence = 0;

    while (!TestDestroy()) {
        memset(m_pBuf, 0, static_cast<size_t>(m_iLen));
        if (Read(m_pBuf, m_iLen) == m_iLen) {
            if (!connected) {
                if (m_strName == "SkribWorkVU")
                    DealClientNotify(NOTIFY_REINIT, 0);
                if (m_pHost)
                    m_pHost->SendConnectToSoft(true);
                connected = true;
            }
            silence = 0;
            std::lock_guard<std::recursive_mutex> lock(m_mutex);
            Dispatch();
        } else if (!isNE) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++silence;
            if (silence > limit)
                WriteConnect();
            if (silence == 3 * limit) {
                if (m_pHost)
                    m_pHost->SendConnectToSoft(false);
                g_bSoftStart = false;
                connected = false;
            }
        }
    }
    return nullptr;
}

void CSkribWorkBase::Dispatch()
{
    if (!DataHeadCheck() || !Dev2Scr())
        return;
    switch (GetCmdType()) {
    case 0:
        OnPressT();
        SkribLog("(%g,%g)", m_devPoint.x, m_devPoint.y);
        break;
    case 1:
        OnPressS();
        break;
    case 2:
        OnReleaseT();
        break;
    case 3:
        OnReleaseS();
        break;
    case 4:
        OnFrontPress();
        break;
    case 5:
        OnBackPress();
        break;
    case 6:
        OnValuePressT();
        break;
    case 7:
        OnValuePressS();
        break;
    case 8:
        OnMiddlePressT();
        break;
    case 9:
        OnMiddlePressS();
        break;
    default:
        if (m_pDev && m_pDev->m_bHadHand)
            DealHadKey();
        break;
    }
}

void CSkribWorkBase::DealHadKey()
{
    if (m_iLen < 3)
        return;
    auto key = m_keyMap.find(m_pBuf[2]);
    if (key != m_keyMap.end())
        OnHadKey(key->second);
}

void CSkribWorkBase::SetDualLink(IDualLink* link)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_pMouseCtrl)
        m_pMouseCtrl->SetDualLink(link);
}

void CSkribWorkBase::OnHadKey(const wxString& name)
{
    if (m_pSidekey)
        m_pSidekey->StartSoftKey(name);
}

void CSkribWorkBase::OnTimer(Timeout_Type kind)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (kind == TIMEOUT_SIDEKEY) {
        // The expiry counts only if no press has stopped or restarted the
        // window meanwhile; claimed under m_mutex, so that it cannot fall
        // between a press's look at the timer and what the press does.
        if (m_pHost && !m_pHost->ClaimSidekeyExpiry())
            return;
        if (m_pSidekey)
            m_pSidekey->OnTimer();
        return;
    }
    if (!m_pMouseCtrl)
        return;
    switch (kind) {
    case TIMEOUT_RELEASE:
        if (m_pOrient)
            m_pOrient->EndTouch();
        m_iKeyFlag = 0;
        m_pMouseCtrl->MouseAction3(m_scrPoint, MOUSE_ACTION_UP);
        if (m_iState == STATE_NORMAL) {
            m_scrPoint = Convert(m_devPoint);
            m_pMouseCtrl->MouseAction3(m_scrPoint, MOUSE_ACTION_MOVE);
        }
        break;
    case TIMEOUT_DUAL_RELEASE:
        m_scrPoint = Convert(m_devPoint);
        m_pMouseCtrl->DualMouseAction(m_scrPoint, MOUSE_ACTION_UP);
        // Not followed by the side keys' single-press action: that belongs
        // to the side-key timer's expiry alone and would run twice.
        break;
    case TIMEOUT_REPRESS:
        m_pMouseCtrl->MouseAction(m_scrPoint, MOUSE_ACTION_REPRESS);
        break;
    default:
        break;
    }
}

bool CSkribWorkBase::DealClientNotify(ClientNotify_Type kind, int value)
{
    // Called by the main thread, and by the loop itself (NOTIFY_REINIT) while
    // it holds no lock.
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    switch (kind) {
    case NOTIFY_ORIENT_END:
        if (value == 0)
            m_iState = STATE_NORMAL;
        return true;
    case NOTIFY_ORIENT_START:
    case NOTIFY_HOTKEY_START: {
        // A run the collector refuses (see COrientProcess) leaves normal
        // work, also in place of a run in progress; false tells the caller.
        const State_Type state = kind == NOTIFY_ORIENT_START ? STATE_ORIENT : STATE_HOTKEY;
        const bool started = m_pOrient && m_pOrient->InitPara(value, state);
        m_iState = started ? state : STATE_NORMAL;
        return started;
    }
    case NOTIFY_SIDEKEY_RELOAD:
        if (m_pSidekey)
            m_pSidekey->ReadEnable();
        return true;
    default:
        return false;
    }
}

void CSkribWorkBase::Close()
{
    CConfigXML config;
    if (config.open(CONFIG_FILE)) {
        config.writeStr("Global", "CurrentRun", "TYPE", "");
        config.save();
    }
    config.close();
    if (m_pDev) {
        m_pDev->Close();
        delete m_pDev;
        m_pDev = nullptr;
    }
    delete m_pMouseCtrl;
    m_pMouseCtrl = nullptr;
    delete m_pConversion;
    m_pConversion = nullptr;
    delete m_pOrient;
    m_pOrient = nullptr;
    delete m_pSidekey;
    m_pSidekey = nullptr;
    delete[] m_pBuf;
    m_pBuf = nullptr;
}
