#include "MouseCtrl.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include <wx/time.h>
#include <wx/utils.h>

#include "ConfigXML.h"

namespace {

// Hold rule: the still flag drops after this many still reports.
constexpr int HOLD_STILL_CAP = 16;
constexpr int DUAL_STILL_CAP = 21;
// Local double click: release within this distance (per axis, inclusive) of
// the previous release, and within this time of it.
constexpr int DOUBLE_CLICK_RADIUS = 4;
constexpr long long DOUBLE_CLICK_MS = 10000;
// Dual double click: two still taps within this time; presses within
// DUAL_DOUBLE_CLICK_SCALE * LIMIT_MOVE of each other (per axis, strictly).
constexpr long long DUAL_DOUBLE_CLICK_MS = 500;
constexpr long long DUAL_DOUBLE_CLICK_SCALE = 4;
// Pause between the events of a right click.
constexpr unsigned int RIGHT_CLICK_PAUSE_US = 500;
// MouseAction3 filter weights of the new point.
constexpr double FIRST_STAGE_WEIGHT = 0.2;
constexpr double SECOND_STAGE_WEIGHT = 0.5;
// VU filter: every VU_SAMPLE_PERIOD samples the pen counts as slow when it
// stayed within VU_SLOW_RADIUS (per axis, inclusive) of where it was
// VU_SAMPLE_PERIOD - 1 samples before; while slow, only every
// (VU_GROUP_LAST + 1)th report moves the pointer.
constexpr int VU_SAMPLE_PERIOD = 10;
constexpr int VU_SLOW_RADIUS = 19;
constexpr int VU_GROUP_LAST = 3;
constexpr double VU_WEIGHT = 0.5;
// Text buffer of a weight: 19 characters and the terminating zero.
constexpr size_t RC_TEXT_SIZE = 20;

// Truncation toward zero that stays defined for any value: NaN gives 0, values
// beyond the int range give its bound. Only absurd weights from the settings
// file get there.
int TruncToInt(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= 2147483647.0)
        return std::numeric_limits<int>::max();
    if (v <= -2147483648.0)
        return std::numeric_limits<int>::min();
    return static_cast<int>(v);
}

long long AbsDiff(int a, int b)
{
    return std::llabs(static_cast<long long>(a) - b);
}

// A weight as the settings hold it: a decimal number with a point, read like
// atof but independent of the locale. Leading blanks and one '+' are skipped,
// text after the number is ignored, and text without a number gives 0.
float ParseWeight(const char* text)
{
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    if (*text == '+')
        ++text;
    const char* end = text;
    while (*end)
        ++end;
    double value = 0.0;
    const auto result = std::from_chars(text, end, value, std::chars_format::general);
    if (result.ec != std::errc())
        return 0.0f;
    return static_cast<float>(value);
}

// State of the MouseAction3 filter. It is process-wide: the board families
// that use it run one at a time, but a board that is going away and the one
// that replaces it may overlap, and the release time-out runs on the main
// thread, so the state has a lock of its own.
struct TwoStageState
{
    // mouseProc
    bool flag = false;
    int lastx = 0;
    int lasty = 0;
    // RcDigital
    bool MidFlag = false;
    int Xn_1 = 0;
    int Yn_1 = 0;
};

std::mutex g_twoStageMutex;
TwoStageState g_twoStage;

// Second stage, with g_twoStageMutex held.
wxPoint RcDigitalLocked(int x, int y, double a)
{
    TwoStageState& s = g_twoStage;
    if (x < 0) {
        s.MidFlag = false;
        return wxPoint(0, 0);
    }
    if (s.MidFlag) {
        x = TruncToInt(x * a + s.Xn_1 * (1.0 - a));
        y = TruncToInt(y * a + s.Yn_1 * (1.0 - a));
    } else {
        s.MidFlag = true;
    }
    s.Xn_1 = x;
    s.Yn_1 = y;
    return wxPoint(x, y);
}

} // namespace

CMouseCtrlBase::CMouseCtrlBase(const wxString& name)
    : m_name(name)
{
}

CMouseCtrlBase::~CMouseCtrlBase() = default;

void CMouseCtrlBase::Pause(unsigned int microseconds)
{
    wxMicroSleep(microseconds);
}

long long CMouseCtrlBase::NowMillis()
{
    return static_cast<long long>(wxGetLocalTimeMillis().GetValue());
}

void CMouseCtrlBase::ReadConfig()
{
    int limitCount = 0;
    int limitMove = 0;
    char rc1[RC_TEXT_SIZE] = "";
    char rc2[RC_TEXT_SIZE] = "";
    const wxScopedCharBuffer section = m_name.utf8_str();
    {
        CConfigXML cfg;
        if (cfg.open(CONFIG_FILE)) {
            cfg.readInt(section, "Constants", "LIMIT_COUNT", limitCount, 0);
            cfg.readInt(section, "Constants", "LIMIT_MOVE", limitMove, 0);
            cfg.readStr(section, "Constants", "RC1", rc1, sizeof rc1);
            cfg.readStr(section, "Constants", "RC2", rc2, sizeof rc2);
        }
        cfg.close();
    }
    const float w1 = ParseWeight(rc1);
    const float w2 = ParseWeight(rc2);

    std::lock_guard<std::mutex> lock(m_mutex);
    m_limitCount = limitCount;
    m_limitMove = limitMove;
    m_rc1 = w1;
    m_rc2 = w2;
}

void CMouseCtrlBase::SetDualLink(IDualLink* link)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pDualLink.store(link);
}

void CMouseCtrlBase::RightClick()
{
    LButtonUp();
    Pause(RIGHT_CLICK_PAUSE_US);
    RButton();
    Pause(RIGHT_CLICK_PAUSE_US);
    RButtonUp();
}

bool CMouseCtrlBase::IsStill(wxPoint pt, wxPoint origin) const
{
    return AbsDiff(pt.x, origin.x) < m_limitMove && AbsDiff(pt.y, origin.y) < m_limitMove;
}

// One-stage filter in single precision. Both weights 0 means the settings
// are missing: the point is taken as it is instead of pulling the pointer to
// (0, 0).
wxPoint CMouseCtrlBase::OneStage(wxPoint pt, wxPoint last) const
{
    if (m_rc1 == 0.0f && m_rc2 == 0.0f)
        return pt;
    const float fy = pt.y * m_rc1 + last.y * m_rc2;
    const float fx = pt.x * m_rc1 + last.x * m_rc2;
    return wxPoint(TruncToInt(fx), TruncToInt(fy));
}

// Release of MouseAction and VUMouseAction. The double-click test runs at
// every second release from the third on: the counter goes 0, 1, 2, is tested
// and reset at the next release, then 1, 2, tested, ...
void CMouseCtrlBase::LocalUp(wxPoint pt)
{
    m_holdCount = 0;
    if (m_bDown) {
        const long long now = NowMillis();
        if (m_clickCount >= 2) {
            m_clickCount = 0;
            // A clock that went back also counts as within the limit.
            if (AbsDiff(pt.x, m_ptLastUp.x) <= DOUBLE_CLICK_RADIUS
                && AbsDiff(pt.y, m_ptLastUp.y) <= DOUBLE_CLICK_RADIUS
                && now - m_lastUpTime < DOUBLE_CLICK_MS)
                LButtonDoubleClick();
        }
        ++m_clickCount;
        LButtonUp();
        m_ptLastUp = pt;
        m_lastUpTime = now;
    }
    m_bDown = false;
    m_bRightDone = false;
    m_bStill = false;
}

// First report of a local contact.
void CMouseCtrlBase::LocalPress(wxPoint pt)
{
    m_ptPress = pt;
    m_ptLast = pt;
    MouseMove(pt.x, pt.y);
    LButtonDown();
    m_bDown = true;
}

// Still test and hold rule of a later report (MouseAction, VUMouseAction).
void CMouseCtrlBase::HoldStep(wxPoint pt)
{
    m_bStill = true;
    if (IsStill(pt, m_ptPress))
        ++m_holdCount;
    else
        m_bStill = false;
    if (m_holdCount >= HOLD_STILL_CAP)
        m_bStill = false;
    if (m_holdCount > m_limitCount && !m_bRightDone && m_limitCount > 0) {
        m_bRightDone = true;
        m_holdCount = 0;
        RightClick();
    }
}

// Codes 2 to 5 of MouseAction and VUMouseAction.
void CMouseCtrlBase::CommonAction(wxPoint pt, int action)
{
    switch (action) {
    case MOUSE_ACTION_RCLICK:
        RightClick();
        break;
    case MOUSE_ACTION_LCLICK:
        LButtonDown();
        LButtonUp();
        break;
    case MOUSE_ACTION_MOVE:
        MouseMove(pt.x, pt.y);
        break;
    case MOUSE_ACTION_REPRESS:
        if (m_bDown) {
            LButtonUp();
            LButtonDown();
        }
        break;
    default:
        break;
    }
}

void CMouseCtrlBase::MouseAction(wxPoint pt, int action)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (action) {
    case MOUSE_ACTION_UP:
        LocalUp(pt);
        break;
    case MOUSE_ACTION_DOWN:
        if (!m_bDown) {
            LocalPress(pt);
        } else {
            HoldStep(pt);
            m_ptLast = OneStage(pt, m_ptLast);
            MouseMove(m_ptLast.x, m_ptLast.y);
        }
        break;
    default:
        CommonAction(pt, action);
        break;
    }
}

void CMouseCtrlBase::VUMouseAction(wxPoint pt, int action)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (action) {
    case MOUSE_ACTION_UP:
        LocalUp(pt);
        // The slow flag and its reference point carry over to the next contact.
        m_vuState = 0;
        m_vuMoves = 0;
        m_vuGroup = 0;
        m_vuSamples = 0;
        break;
    case MOUSE_ACTION_DOWN:
        if (!m_bDown) {
            LocalPress(pt);
        } else {
            HoldStep(pt);
            VUDataFilt(pt.x, pt.y);
        }
        break;
    default:
        CommonAction(pt, action);
        break;
    }
}

void CMouseCtrlBase::MouseAction3(wxPoint pt, int action)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (action) {
    case MOUSE_ACTION_UP:
        printf("case 0\n");
        m_holdCount = 0;
        if (m_bDown) {
            m_bDown = false;
            LButtonUp();
            mouseProc(-1, -1);
        }
        m_bDown = false;
        m_bRightDone = false;
        break;
    case MOUSE_ACTION_DOWN:
        if (!m_bDown) {
            m_ptPress = pt;
            MouseMove(pt.x, pt.y);
            LButtonDown();
            m_bDown = true;
        } else {
            if (IsStill(pt, m_ptPress))
                ++m_holdCount;
            // No "LIMIT_COUNT > 0" here: with 0 the first still report
            // right-clicks.
            if (m_holdCount > m_limitCount && !m_bRightDone) {
                m_bRightDone = true;
                m_holdCount = 0;
                RightClick();
            }
            const wxPoint p = mouseProc(pt.x, pt.y);
            MouseMove(p.x, p.y);
        }
        break;
    case MOUSE_ACTION_RCLICK:
        RightClick();
        break;
    case MOUSE_ACTION_LCLICK:
        LButtonDown();
        LButtonUp();
        break;
    case MOUSE_ACTION_MOVE:
        MouseMove(pt.x, pt.y);
        break;
    default:
        break;
    }
}

wxPoint CMouseCtrlBase::mouseProc(int x, int y)
{
    std::lock_guard<std::mutex> lock(g_twoStageMutex);
    TwoStageState& s = g_twoStage;
    if (x < 0) {
        s.flag = false;
        RcDigitalLocked(-1, -1, SECOND_STAGE_WEIGHT);
        return wxPoint(0, 0);
    }
    if (s.flag) {
        s.lastx = TruncToInt(x * FIRST_STAGE_WEIGHT + s.lastx * (1.0 - FIRST_STAGE_WEIGHT));
        s.lasty = TruncToInt(y * FIRST_STAGE_WEIGHT + s.lasty * (1.0 - FIRST_STAGE_WEIGHT));
        return RcDigitalLocked(s.lastx, s.lasty, SECOND_STAGE_WEIGHT);
    }
    // The first point passes both stages unchanged; the second stage starts
    // with the next one.
    s.lastx = x;
    s.lasty = y;
    s.flag = true;
    return wxPoint(x, y);
}

wxPoint CMouseCtrlBase::RcDigital(int x, int y, double a)
{
    std::lock_guard<std::mutex> lock(g_twoStageMutex);
    return RcDigitalLocked(x, y, a);
}

void CMouseCtrlBase::VUDataFilt(int x, int y)
{
    if (m_vuMoves <= 0) {
        // The first report after the press goes straight through.
        ++m_vuMoves;
        MouseMove(x, y);
    } else {
        if (m_vuSamples == VU_SAMPLE_PERIOD) {
            m_vuSamples = 0;
            m_vuSlow = AbsDiff(x, m_ptVuRef.x) <= VU_SLOW_RADIUS
                && AbsDiff(y, m_ptVuRef.y) <= VU_SLOW_RADIUS;
        } else if (m_vuSamples == 1) {
            m_ptVuRef = wxPoint(x, y);
        }
        if (m_vuSlow) {
            if (m_vuGroup == 0) {
                m_ptVuFirst = wxPoint(x, y);
                m_vuGroup = 1;
            } else if (m_vuGroup == VU_GROUP_LAST) {
                Bezier_middle(m_ptVuMid, m_ptVuFirst, wxPoint(x, y));
                VURcDigital(m_ptVuMid.x, m_ptVuMid.y, VU_WEIGHT);
                m_vuGroup = 0;
            } else {
                ++m_vuGroup;
            }
        } else {
            m_vuGroup = 0;
            VURcDigital(x, y, VU_WEIGHT);
        }
    }
    ++m_vuSamples;
}

void CMouseCtrlBase::VURcDigital(int x, int y, double a)
{
    const double b = (1.0 - a) * 0.5;
    int nx;
    int ny;
    switch (m_vuState) {
    case 1:
        nx = TruncToInt(x * a + m_ptVuHist2.x * (1.0 - a));
        ny = TruncToInt(y * a + m_ptVuHist2.y * (1.0 - a));
        m_ptVuHist1 = wxPoint(x, y);
        m_vuState = 2;
        break;
    case 2:
        ny = TruncToInt(y * a + m_ptVuHist1.y * b + m_ptVuHist2.y * b);
        nx = TruncToInt(x * a + m_ptVuHist1.x * b + m_ptVuHist2.x * b);
        m_ptVuHist2 = m_ptVuHist1;
        m_ptVuHist1 = wxPoint(nx, ny);
        break;
    default:
        nx = x;
        ny = y;
        m_ptVuHist2 = wxPoint(x, y);
        m_vuState = 1;
        break;
    }
    MouseMove(nx, ny);
}

// Integer halves truncate toward zero, so the result is the larger coordinate,
// or one less when both halves drop a remainder.
void CMouseCtrlBase::Bezier_middle(wxPoint& out, wxPoint a, wxPoint b)
{
    const long long x = (static_cast<long long>(a.x) + b.x) / 2 + AbsDiff(b.x, a.x) / 2;
    const long long y = (static_cast<long long>(a.y) + b.y) / 2 + AbsDiff(b.y, a.y) / 2;
    out.x = static_cast<int>(x);
    out.y = static_cast<int>(y);
}

void CMouseCtrlBase::SendDual(int action, int x, int y)
{
    if (IDualLink* link = m_pDualLink.load())
        link->SendDualData(action, x, y);
}

void CMouseCtrlBase::DualMouseAction(wxPoint pt, int action)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (action) {
    case MOUSE_ACTION_UP:
        printf(".......Release..%d\n", m_bDualDown ? 1 : 0);
        if (m_bDualDown) {
            m_bDualDown = false;
            m_bDualHold = false;
            m_MiceDotCount = 0;
            SendDual(DUAL_ACTION_UP, m_ptDualLast.x, m_ptDualLast.y);
            if (m_bStill) {
                const long long now = NowMillis();
                // A clock that went back also counts as within the limit.
                if (now - m_lastUpTime < DUAL_DOUBLE_CLICK_MS && m_bPrevStill) {
                    printf("hghhf\n");
                    const long long radius = DUAL_DOUBLE_CLICK_SCALE * m_limitMove;
                    if (AbsDiff(m_ptPrevPress.x, m_ptDualPress.x) < radius
                        && AbsDiff(m_ptPrevPress.y, m_ptDualPress.y) < radius) {
                        printf("double click\n");
                        SendDual(DUAL_ACTION_DOUBLECLICK, pt.x, pt.y);
                    }
                } else {
                    printf("single click\n");
                }
                m_bPrevStill = true;
                m_lastUpTime = now;
                m_ptPrevPress = m_ptDualPress;
            }
            m_bStill = false;
        }
        break;
    case MOUSE_ACTION_DOWN:
        if (!m_bDualDown) {
            m_ptDualPress = pt;
            m_ptDualLast = pt;
            SendDual(DUAL_ACTION_MOVE, pt.x, pt.y);
            SendDual(DUAL_ACTION_DOWN, pt.x, pt.y);
            m_bDualDown = true;
            printf("..........Press..\n");
        } else {
            m_bStill = true;
            if (IsStill(pt, m_ptDualPress)) {
                ++m_MiceDotCount;
                printf("m_MiceDotCount:%d\n", m_MiceDotCount);
            } else {
                m_bStill = false;
            }
            if (m_MiceDotCount >= DUAL_STILL_CAP)
                m_bStill = false;
            // The hold only marks the contact; the peer gets nothing.
            if (m_MiceDotCount > m_limitCount && !m_bDualHold && m_limitCount > 0) {
                m_bDualHold = true;
                m_MiceDotCount = 0;
            }
            m_ptDualLast = OneStage(pt, m_ptDualLast);
            SendDual(DUAL_ACTION_MOVE, m_ptDualLast.x, m_ptDualLast.y);
        }
        break;
    case MOUSE_ACTION_LCLICK:
        SendDual(DUAL_ACTION_DOWN, pt.x, pt.y);
        SendDual(DUAL_ACTION_UP, pt.x, pt.y);
        break;
    case MOUSE_ACTION_MOVE:
        SendDual(DUAL_ACTION_MOVE, pt.x, pt.y);
        break;
    default:
        // MOUSE_ACTION_RCLICK and MOUSE_ACTION_REPRESS do nothing for the
        // second user.
        break;
    }
}
