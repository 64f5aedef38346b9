#include "OrientProcess.h"

#include "ConfigXML.h"
#include "Conversion.h"
#include "SkribLog.h"

#include <wx/utils.h>

#include <cmath>

namespace {

// A sample further than this many standard deviations from the mean, on
// either axis, is an outlier.
constexpr double OUTLIER_LIMIT = 1.95;
// At least this share of the samples must survive the outlier rejection.
constexpr double KEPT_SHARE = 0.65;
// The pause after a store, in microseconds.
constexpr unsigned long SAVE_PAUSE_US = 500;

} // namespace

COrientProcess::COrientProcess(wxString name) : m_strName(std::move(name)), m_nSkip(m_strName == "SkribWorkVU" ? 12 : 8)
{
    for (wxRealPoint& p : m_dots)
        p = wxRealPoint(0.0, 0.0);
    for (wxPoint& p : m_data)
        p = wxPoint(0, 0);
}

COrientProcess::~COrientProcess() = default;

bool COrientProcess::InitPara(int dotNum, State_Type state)
{
    for (wxRealPoint& p : m_dots)
        p = wxRealPoint(0.0, 0.0);
    for (wxPoint& p : m_data)
        p = wxPoint(0, 0);
    m_nRecvNum = 0;
    m_bPointDone = false;
    m_nCurDot = 0;

    int size = 0;
    CConfigXML config;
    config.open(CONFIG_FILE);
    config.readInt(m_strName.mb_str(), "Constants", "ORIENT_RECV_DATA_SIZE", size, 0);
    config.close();
    m_nRecvSize = size;

    const int maxDots = state == STATE_ORIENT ? CONVERSION_DOT_MAX : ORIENT_DOT_MAX;
    const bool accepted = (state == STATE_ORIENT || state == STATE_HOTKEY) && dotNum >= 1 && dotNum <= maxDots &&
                          size >= ORIENT_DATA_MIN && size <= ORIENT_DATA_MAX;
    if (!accepted) {
        // Idle: with no points to collect every report is ignored.
        SkribLog("calibration of %d points with %d samples each refused (1 to %d points, %d to %d samples)", dotNum,
                 size, maxDots, ORIENT_DATA_MIN, ORIENT_DATA_MAX);
        m_nDotNum = 0;
        m_state = STATE_NORMAL;
        return false;
    }
    m_nDotNum = dotNum;
    m_state = state;
    return true;
}

bool COrientProcess::ReceiveData(int x, int y)
{
    const int n = m_nRecvSize, s = m_nSkip;
    if (m_nRecvNum < n + s && m_nCurDot < m_nDotNum) {
        if (m_nRecvNum >= s)
            m_data[m_nRecvNum - s] = wxPoint(x, y);
        ++m_nRecvNum;
        return false;
    }
    if (m_bPointDone || m_nCurDot >= m_nDotNum)
        return false;

    // The first report after the samples finishes the point.
    if (!GoodData())
        DealData();
    if (m_advise)
        m_advise("fin");
    ++m_nCurDot;
    if (m_nCurDot == m_nDotNum) {
        SaveConfig(m_state);
        return true;
    }
    m_bPointDone = true;
    return false;
}

bool COrientProcess::GoodData()
{
    const int n = m_nRecvSize;
    double sumX = 0, sumY = 0;
    for (int i = 0; i < n; ++i) {
        sumX += m_data[i].x;
        sumY += m_data[i].y;
    }
    const double mx = sumX / n, my = sumY / n;
    SkribLog("avg_x = %f, avg_y = %f", mx, my);

    double dx = 0, dy = 0;
    for (int i = 0; i < n; ++i) {
        dx += (m_data[i].x - mx) * (m_data[i].x - mx);
        dy += (m_data[i].y - my) * (m_data[i].y - my);
    }
    SkribLog("dx=%f, dy=%f", dx, dy);
    const double sx = std::sqrt(dx / (n - 1)), sy = std::sqrt(dy / (n - 1));
    SkribLog("sx=%f, sy=%f", sx, sy);

    // An axis without spread rejects nothing.
    double keptX = 0, keptY = 0;
    int kept = 0;
    for (int i = 0; i < n; ++i) {
        const bool outX = sx > 0 && std::fabs(m_data[i].x - mx) / sx > OUTLIER_LIMIT;
        const bool outY = sy > 0 && std::fabs(m_data[i].y - my) / sy > OUTLIER_LIMIT;
        if (outX || outY) {
            SkribLog("error data %d", i);
            continue;
        }
        keptX += m_data[i].x;
        keptY += m_data[i].y;
        ++kept;
    }
    // (At most about half the samples can lie that far out, so kept > 0.)
    if (kept > 0)
        m_dots[m_nCurDot] = wxRealPoint(keptX / kept, keptY / kept);
    if (kept < KEPT_SHARE * n)
        return false;
    return kept <= n - 2;
}

void COrientProcess::DealData()
{
    const int n = m_nRecvSize;
    int sumX = 0, sumY = 0;
    int minX = m_data[0].x, maxX = m_data[0].x, minY = m_data[0].y, maxY = m_data[0].y;
    for (int i = 0; i < n; ++i) {
        const wxPoint& p = m_data[i];
        sumX += p.x;
        sumY += p.y;
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
    }
    m_dots[m_nCurDot] = wxRealPoint(static_cast<double>(sumX - maxX - minX) / (n - 2),
                                    static_cast<double>(sumY - maxY - minY) / (n - 2));
}

void COrientProcess::SaveConfig(State_Type state)
{
    if (m_nCurDot != m_nDotNum || m_nDotNum < 1)
        return;
    const char* element = state == STATE_ORIENT ? "coordinate" : state == STATE_HOTKEY ? "HOTKEY" : nullptr;
    if (!element)
        return;
    const wxCharBuffer section = m_strName.mb_str();
    CConfigXML config;
    bool stored = false;
    if (config.open(CONFIG_FILE)) {
        stored = state == STATE_ORIENT ? config.writeInt(section, element, "dotNum", m_nDotNum) &&
                                             config.writeDot(section, element, "dot", m_nDotNum, m_dots)
                                       : config.writeDot(section, element, "key", m_nDotNum, m_dots);
        if (stored)
            config.save();
    }
    config.close();
    if (!stored)
        SkribLog("calibration not stored: \"%s\" has no %s/%s", CONFIG_FILE, section.data(), element);
    if (state == STATE_ORIENT) {
        for (int i = 0; i < m_nDotNum; ++i)
            SkribLog("(%f, %f)", m_dots[i].x, m_dots[i].y);
    }
    wxMicroSleep(SAVE_PAUSE_US);
}
