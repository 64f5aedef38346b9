#include "SidekeyProcess.h"

#include "ConfigXML.h"
#include "SkribAppTypes.h"
#include "SkribLog.h"
#include "SoftLinkFlags.h"
#include "WorkHost.h"

#include <cmath>
#include <cstring>

namespace {

const char* const kZoneNames[SIDEKEY_ZONE_COUNT] = {
    "anew", "save", "prev", "next", "mous", "bpen", "rpen", "lpen", "gpen", "eare", "cust", "cusp", "orient", "board",
};

// Pen zones and the codes of their double press.
struct PenDouble
{
    const char* key;
    const char* code;
};
const PenDouble kPenDoubles[] = {{"bpen", "bped"}, {"rpen", "rped"}, {"lpen", "lped"}, {"gpen", "gped"}};

} // namespace

CSidekeyProcess::CSidekeyProcess(bool hadHand, wxString name) : m_strName(std::move(name)), m_bHadHand(hadHand)
{
    for (const char* key : kZoneNames)
        m_keys.Add(key);
    for (wxRealPoint& p : m_points)
        p = wxRealPoint(0.0, 0.0);
}

CSidekeyProcess::~CSidekeyProcess() = default;

void CSidekeyProcess::ReadEnable()
{
    int enable = 0;
    CConfigXML config;
    config.open(CONFIG_FILE);
    config.readInt(m_strName.mb_str(), "Flag", "Enable_Soft_Sidekey", enable, 0);
    config.close();
    m_bEnable = !m_bHadHand && enable != 0;
}

void CSidekeyProcess::ReadConfig()
{
    int size = 0, enable = 0;
    const wxCharBuffer section = m_strName.mb_str();
    CConfigXML config;
    config.open(CONFIG_FILE);
    config.readDot(section, "HOTKEY", "key", SIDEKEY_POINT_COUNT, m_points);
    config.readInt(section, "Constants", "SIDEKEY_POINT_SIZE", size, 0);
    config.readInt(section, "Flag", "Enable_Soft_Sidekey", enable, 0);
    config.close();
    m_nPointSize = size;
    m_bEnable = !m_bHadHand && enable != 0;
    SkribLog("side keys: zones %s, half side %d", m_bEnable ? "on" : "off", m_nPointSize);
}

bool CSidekeyProcess::DealSidekey(int x, int y, int& handled)
{
    if (!m_bEnable)
        return false;
    const double s = m_nPointSize;
    for (int i = 0; i < SIDEKEY_ZONE_COUNT; ++i) {
        const wxRealPoint& a = m_points[i];
        const wxRealPoint& b = m_points[i + SIDEKEY_ZONE_COUNT];
        const bool hit = (std::fabs(x - a.x) < s && std::fabs(y - a.y) < s) ||
                         (std::fabs(x - b.x) < s && std::fabs(y - b.y) < s);
        if (!hit)
            continue;
        if (handled != 0)
            return true; // the touch already pressed its zone
        StartSoftKey(m_keys[static_cast<size_t>(i)]);
        handled = 1;
        return true;
    }
    return false;
}

void CSidekeyProcess::StartSoftKey(const wxString& key)
{
    SkribLog("side key %s", static_cast<const char*>(key.mb_str()));
    if (!TimerRunning()) {
        FirstPress(key);
        return;
    }
    if (key != m_strKey) {
        // Another key closes the pending key's window as a single press.
        StopTimer();
        OnTimer();
        FirstPress(key);
        return;
    }
    if (key == "front") {
        if (m_strFront == "elfc") {
            m_strKey = "";
            SendCode("elfd");
            StopTimer();
        } else {
            StopTimer();
            OnTimer();
            m_strKey = key;
            StartTimer();
        }
        return;
    }
    if (key == "back") {
        if (m_strBack == "elbc") {
            m_strKey = "";
            SendCode("elbd");
            StopTimer();
        } else {
            StopTimer();
            SendText(m_strBack);
            SendText(m_strBack);
            m_strKey = "";
        }
        Post(EVENT_START_BOARD_SOFT);
        return;
    }
    for (const PenDouble& pen : kPenDoubles) {
        if (key == pen.key) {
            m_strKey = "";
            SendCode(pen.code);
            StopTimer();
            return;
        }
    }
    StopTimer();
    OnTimer();
    m_strKey = key;
    StartTimer();
}

void CSidekeyProcess::FirstPress(const wxString& key)
{
    if (key == "front" && m_strFront == "elfc")
        SendCode("elfc");
    if (key == "back" && m_strBack == "elbc")
        SendCode("elbc");
    m_strKey = key;
    StartTimer();
}

void CSidekeyProcess::OnTimer()
{
    const wxString& key = m_strKey;
    if (key.empty())
        return;
    if (key == "orient") {
        Post(EVENT_START_ORIENT);
    } else if (key == "board") {
        Post(EVENT_START_BOARD_SOFT);
    } else if (key == "front") {
        if (m_strFront != "elfc")
            SendText(m_strFront);
    } else if (key == "back") {
        if (!g_bOnBoard && m_rightClick)
            m_rightClick();
        if (m_strBack != "elbc")
            SendText(m_strBack);
    } else {
        SendText(key);
    }
}

void CSidekeyProcess::SendCode(const char* code)
{
    if (m_pHost)
        m_pHost->OnSend(code, static_cast<int>(strlen(code)));
}

void CSidekeyProcess::SendText(const wxString& text)
{
    // The text in the locale's multibyte form, as many bytes as that form
    // has: a text that does not convert sends nothing.
    const wxCharBuffer bytes = text.mb_str();
    if (m_pHost && bytes.length() > 0)
        m_pHost->OnSend(bytes.data(), static_cast<int>(bytes.length()));
}

void CSidekeyProcess::Post(int event)
{
    if (m_pHost)
        m_pHost->CreateEvent(event);
}

bool CSidekeyProcess::TimerRunning()
{
    return m_pHost && m_pHost->IsSidekeyTimerRunning();
}

void CSidekeyProcess::StopTimer()
{
    if (m_pHost)
        m_pHost->StopSidekeyTimer();
}

void CSidekeyProcess::StartTimer()
{
    Post(EVENT_SIDEKEY_TIMER);
}
