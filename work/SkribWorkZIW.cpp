#include "SkribWorkZIW.h"

#include "ConfigXML.h"
#include "Conversion.h"
#include "MouseCtrl.h"
#include "OrientProcess.h"
#include "SidekeyProcess.h"
#include "SkribAppTypes.h"
#include "SkribLog.h"
#include "SoftLinkFlags.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace {

int U16(const unsigned char* p)
{
    return p[0] | p[1] << 8;
}

// The silence limit of the family: fixed by the first ZIW loop.
std::atomic<int> g_timeLimit{-1};

} // namespace

const unsigned char CSkribWorkZIW::CONNECT_DEVICE_CMD_ZIW[64] = {0x02, 0x01, 0x01};

ZiwReport DecodeZiwReport(const unsigned char* r)
{
    ZiwReport d;
    d.id = r[0];
    for (int c = 0; c < 2; ++c) {
        const unsigned char* p = r + 1 + 10 * c;
        d.status[c] = p[0];
        d.x[c] = U16(p + 2);
        d.y[c] = U16(p + 4);
        d.sizeA[c] = U16(p + 6);
        d.sizeB[c] = U16(p + 8);
    }
    return d;
}

int ZiwPressValue(const ZiwReport& r)
{
    int sum = r.sizeA[0] + r.sizeB[0];
    if (r.status[1] == 7)
        sum += r.sizeA[1] + r.sizeB[1];
    return sum / 20;
}

CSkribWorkZIW::CSkribWorkZIW()
{
    m_strName = "SkribWorkZIW";
    m_iLen = 64;
}

bool CSkribWorkZIW::Init(CDeviceBase* device)
{
    ReadDriverSetData();
    if (!CSkribWorkBase::Init(device))
        return false;
    if (!m_pDev)
        return true;
    // The board takes the connect command before it reports; a board that
    // keeps refusing it (unplugged meanwhile) is not waited for forever.
    for (int i = 0; i < CONNECT_WRITE_TRIES; ++i) {
        if (Write(CONNECT_DEVICE_CMD_ZIW, 64) == 64)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    SkribLog("the board did not take the connect command after %d tries", CONNECT_WRITE_TRIES);
    return true;
}

bool CSkribWorkZIW::ReadDriverSetData()
{
    int value1 = m_iValue1, value2 = m_iValue2, gesture = m_bGesture;
    CConfigXML config;
    config.open(CONFIG_FILE);
    config.readInt("SkribWorkZIW", "DriverSet", "VALUE1_T", value1, 0);
    config.readInt("SkribWorkZIW", "DriverSet", "VALUE2_T", value2, 0);
    config.readInt("SkribWorkZIW", "DriverSet", "GESTURE_T", gesture, 0);
    config.close();
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_iValue1 = value1;
    m_iValue2 = value2;
    m_bGesture = gesture;
    SkribLog("VALUE1=%d VALUE2=%d m_bGesture=%d", m_iValue1, m_iValue2, m_bGesture);
    return true;
}

int CSkribWorkZIW::Read(unsigned char* buf, int len)
{
    return m_pDev ? m_pDev->ReadDirect(buf, len) : -1;
}

int CSkribWorkZIW::Write(const unsigned char* buf, int len)
{
    return m_pDev ? m_pDev->WriteDirect(buf, len) : -1;
}

int CSkribWorkZIW::WriteConnect()
{
    return m_pDev ? m_pDev->WriteDirect(CONNECT_DEVICE_CMD_ZIW, 64) : -1;
}

bool CSkribWorkZIW::DataHeadCheck()
{
    return m_pBuf[0] == 1;
}

bool CSkribWorkZIW::Dev2Scr()
{
    ZiwReport r = DecodeZiwReport(m_pBuf);
    for (int c = 0; c < 2; ++c) {
        m_iContactState[c] = r.status[c];
        m_iContactX[c] = r.x[c];
        m_iContactY[c] = r.y[c];
    }
    return true;
}

void* CSkribWorkZIW::Entry()
{
    int expected = -1;
    const int timeout = m_pDev ? m_pDev->m_timeout : 1000;
    g_timeLimit.compare_exchange_strong(expected, timeout > 0 ? 2000 / timeout - 1 : 1);
    const int limit = g_timeLimit.load();

    WriteConnect();
    bool present = true;
    int misses = 0;
    while (!TestDestroy()) {
        memset(m_pBuf, 0, 64);
        if (Read(m_pBuf, 64) < 64) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++misses;
            if (misses > limit) {
                WriteConnect();
                if (misses == 3 * limit) {
                    if (m_pHost)
                        m_pHost->SendConnectToSoft(false);
                    g_bSoftStart = false;
                    present = false;
                }
            }
            continue;
        }
        if (!present) {
            if (m_pHost) {
                m_pHost->SendConnectToSoft(true);
                m_pHost->SendMsgToSoft(MSG_DOUPEN_ENABLED);
            }
            present = true;
        }
        misses = 0;
        HandleReport(m_pBuf);
    }
    return nullptr;
}

void CSkribWorkZIW::HandleReport(const unsigned char* report)
{
    State_Type completed = STATE_NORMAL;
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        if (report != m_pBuf)
            memcpy(m_pBuf, report, 64);
        if (!DataHeadCheck() || !Dev2Scr())
            return;
        if (m_iState == STATE_NORMAL) {
            if (!m_bDual)
                OnCommon();
            else if (m_bDualSplit)
                OnDualSplit();
            else
                OnDualCommon();
        } else {
            completed = OnOrient();
        }
    }
    if (completed != STATE_NORMAL)
        FinishOrient(completed);
}

void CSkribWorkZIW::OnCommon()
{
    const int s1 = m_iContactState[0], s2 = m_iContactState[1];
    if (s1 == 7 && s2 == 0) {
        m_devPoint = wxRealPoint(m_iContactX[0], m_iContactY[0]);
        OnPressT();
    } else if (s1 == 7 && s2 == 7) {
        m_devPoint = wxRealPoint((m_iContactX[0] + m_iContactX[1]) / 2, (m_iContactY[0] + m_iContactY[1]) / 2);
        OnPressT();
    } else {
        OnReleaseT();
    }
}

void CSkribWorkZIW::OnDualCommon()
{
    const int s1 = m_iContactState[0], s2 = m_iContactState[1];
    if (s1 == 7 || s1 == 0) {
        m_devPoint = wxRealPoint(m_iContactX[0], m_iContactY[0]);
        if (s1 == 7)
            OnPressT();
        else
            OnReleaseT();
    }
    if (s2 == 7 || s2 == 0) {
        m_ptDualDev = wxRealPoint(m_iContactX[1], m_iContactY[1]);
        if (s2 == 7)
            OnPressS();
        else
            OnReleaseS();
    }
}

int CSkribWorkZIW::ScreenX(const wxRealPoint& p)
{
    return Convert(p).x;
}

void CSkribWorkZIW::OnDualSplit()
{
    const int s1 = m_iContactState[0], s2 = m_iContactState[1];
    const int width = m_pConversion ? m_pConversion->m_width : 0;
    const int M = m_iSplitX >= 1 ? m_iSplitX : width / 2;
    const int L = M - 3, R = M + 3;
    const wxRealPoint p1(m_iContactX[0], m_iContactY[0]), p2(m_iContactX[1], m_iContactY[1]);
    int& side1 = m_iSide[0];
    int& side2 = m_iSide[1];

    if (s1 == 7 && s2 == 7) {
        const int a = ScreenX(p1), b = ScreenX(p2);
        const wxRealPoint mid((p1.x + p2.x) * 0.5, (p1.y + p2.y) * 0.5);
        if (a > M && b > M) {
            if (side1 == 1 || side2 == 1)
                OnReleaseT();
            m_ptDualDev = mid;
            OnPressS();
            side1 = side2 = 2;
        } else if (a < L && b < L) {
            if (side1 == 2 || side2 == 2)
                OnReleaseS();
            m_devPoint = mid;
            OnPressT();
            side1 = side2 = 1;
        } else if (a < L && b > M) {
            if (side1 == 2)
                OnReleaseS();
            if (side2 == 1)
                OnReleaseT();
            m_devPoint = p1;
            OnPressT();
            m_ptDualDev = p2;
            OnPressS();
            side1 = 1;
            side2 = 2;
        } else if (a > M && b < L) {
            if (side1 == 1)
                OnReleaseT();
            if (side2 == 2)
                OnReleaseS();
            m_ptDualDev = p1;
            OnPressS();
            m_devPoint = p2;
            OnPressT();
            side1 = 2;
            side2 = 1;
        }
    } else if (s1 == 7 && s2 == 0) {
        const int a = ScreenX(p1);
        if (a < L) {
            OnReleaseS();
            if (side2 == 1)
                OnReleaseT();
            m_devPoint = p1;
            OnPressT();
            side1 = 1;
            side2 = 0;
        } else if (a > R) {
            OnReleaseT();
            if (side2 == 2)
                OnReleaseS();
            m_ptDualDev = p1;
            OnPressS();
            side1 = 2;
            side2 = 0;
        }
    } else if (s1 == 0 && s2 == 0x77) {
        const int b = ScreenX(p2);
        if (b < L) {
            OnReleaseS();
            if (side1 == 1)
                OnReleaseT();
            m_devPoint = p2;
            OnPressT();
            side1 = 0;
            side2 = 1;
        } else if (b > R) {
            OnReleaseT();
            if (side1 == 2)
                OnReleaseS();
            m_ptDualDev = p2;
            OnPressS();
            side1 = 0;
            side2 = 2;
        }
    } else {
        OnReleaseT();
        OnReleaseS();
        side1 = side2 = 0;
    }
}

void CSkribWorkZIW::OnPressT()
{
    // The hot-key zones take the report first; a touch presses at most one
    // zone (m_iKeyFlag until the touch ends).
    if (m_pSidekey &&
        m_pSidekey->DealSidekey(static_cast<int>(m_devPoint.x), static_cast<int>(m_devPoint.y), m_iKeyFlag))
        return;
    m_scrPoint = Convert(m_devPoint);
    if (!m_bSendPressVal && !m_bGesture) {
        m_pMouseCtrl->MouseAction(m_scrPoint, MOUSE_ACTION_DOWN);
        return;
    }
    ++m_iPressCount;
    if (m_iPressCount == 1) {
        m_ptFirst = m_scrPoint;
    } else if (m_iPressCount == 2) {
        m_ptSecond = m_scrPoint;
    } else if (m_iPressCount == 3) {
        const int iPressVal = ZiwPressValue(DecodeZiwReport(m_pBuf));
        if (m_bSendPressVal) {
            if (m_pHost)
                m_pHost->SendToClient(wxString::Format("%i", iPressVal));
        } else if (m_pHost) {
            if (iPressVal < m_iValue1) {
                m_pHost->OnSend("pend", 4);
            } else if (iPressVal > m_iValue2) {
                m_pHost->CreateEvent(EVENT_START_BOARD_SOFT);
                m_pHost->OnSend("earh", 4);
            } else {
                m_pHost->OnSend("moue", 4);
            }
        }
        m_pMouseCtrl->MouseAction(m_ptFirst, MOUSE_ACTION_DOWN);
        m_pMouseCtrl->MouseAction(m_ptSecond, MOUSE_ACTION_DOWN);
        m_pMouseCtrl->MouseAction(m_scrPoint, MOUSE_ACTION_DOWN);
    } else {
        m_pMouseCtrl->MouseAction(m_scrPoint, MOUSE_ACTION_DOWN);
    }
}

void CSkribWorkZIW::OnReleaseT()
{
    if (m_pOrient)
        m_pOrient->EndTouch();
    m_iKeyFlag = 0;
    m_pMouseCtrl->MouseAction(m_scrPoint, MOUSE_ACTION_UP);
    m_iPressCount = 0;
}

void CSkribWorkZIW::OnPressS()
{
    m_ptDualScr = Convert(m_ptDualDev);
    m_pMouseCtrl->DualMouseAction(m_ptDualScr, MOUSE_ACTION_DOWN);
}

void CSkribWorkZIW::OnReleaseS()
{
    m_pMouseCtrl->DualMouseAction(m_ptDualScr, MOUSE_ACTION_UP);
}

State_Type CSkribWorkZIW::OnOrient()
{
    if (!m_pOrient)
        return STATE_NORMAL;
    if (m_iContactState[0] == 0) {
        m_pOrient->EndTouch();
        return STATE_NORMAL;
    }
    // Any other status counts as touching; the raw device point is collected.
    m_devPoint = wxRealPoint(m_iContactX[0], m_iContactY[0]);
    if (!m_pOrient->ReceiveData(m_iContactX[0], m_iContactY[0]))
        return STATE_NORMAL;
    return m_pOrient->m_state;
}

void CSkribWorkZIW::FinishOrient(State_Type completed)
{
    // The pauses run without m_mutex: the main thread's time-outs and
    // notifications are not held up; reports wait in the device's queue.
    OrientPause(1);
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        // The pointer goes to the last touched point without a button.
        m_scrPoint = Convert(m_devPoint);
        m_pMouseCtrl->MouseAction(m_scrPoint, MOUSE_ACTION_MOVE);
    }
    OrientPause(2);
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    // The stored points take effect in any case.
    if (completed == STATE_HOTKEY) {
        if (m_pSidekey)
            m_pSidekey->ReadConfig();
    } else if (m_pConversion) {
        m_pConversion->Update();
    }
    // Back to normal work, unless the run was ended or a new one started
    // during the pauses.
    const bool stillComplete = m_pOrient->m_nDotNum > 0 && m_pOrient->m_nCurDot == m_pOrient->m_nDotNum;
    if (m_iState == completed && stillComplete)
        m_iState = STATE_NORMAL;
}

void CSkribWorkZIW::OrientPause(int seconds)
{
    // Cut short when the thread is asked to stop.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!TestDestroy() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

bool CSkribWorkZIW::DealClientNotify(ClientNotify_Type type, int value)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    switch (type) {
    case NOTIFY_DRIVERSET_RELOAD:
        return ReadDriverSetData();
    case NOTIFY_DRIVERSET_DATA:
        if (value == 1) {
            m_bSendPressVal = true;
            return true;
        }
        if (value == 0 && m_bSendPressVal) {
            m_bSendPressVal = false;
            return true;
        }
        return false;
    case NOTIFY_DUAL_START:
    case NOTIFY_DUAL_SPLIT_START:
        m_bDual = true;
        if (type == NOTIFY_DUAL_SPLIT_START)
            m_bDualSplit = true;
        if (m_pHost && !m_pHost->CreateDualSock(value))
            SkribLog("dual-user link to port %d not connected", value);
        if (type == NOTIFY_DUAL_SPLIT_START)
            m_iSide[0] = m_iSide[1] = 0;
        return true;
    case NOTIFY_DUAL_SHUTDOWN:
        // The modes end first, so that no report of the second user reaches
        // the link that goes next.
        m_bDual = false;
        m_bDualSplit = false;
        if (m_pHost)
            m_pHost->DestoryDualSock();
        m_iSide[0] = m_iSide[1] = 0;
        SkribLog("SHUTDOWN_DUAL..ZIW");
        return true;
    case NOTIFY_WORK_RECT:
        m_iSplitX = value;
        return true;
    default:
        return CSkribWorkBase::DealClientNotify(type, value);
    }
}
