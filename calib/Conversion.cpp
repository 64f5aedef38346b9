#include "Conversion.h"

#include "ConfigXML.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

namespace {

const char* const COORDINATE = "coordinate";

// Truncate toward zero, then step up when the dropped fraction is above one
// half (a fraction of exactly 0.5 goes down). A value that is not finite,
// or whose whole number does not fit an int, gives 0.
int WholePixel(double v)
{
    if (!std::isfinite(v))
        return 0;
    double whole = std::trunc(v);
    if (v - whole > 0.5)
        whole += 1.0;
    if (whole < static_cast<double>(INT_MIN) || whole > static_cast<double>(INT_MAX))
        return 0;
    return static_cast<int>(whole);
}

int Clamp(int v, int high)
{
    if (v > high)
        v = high;
    if (v < 0)
        v = 0;
    return v;
}

} // namespace

CConversionBase* CConversionBase::CreateConversion(const wxString& name)
{
    return new CConversion(name);
}

CConversionBase::CConversionBase(wxString name)
    : m_dotNum(0)
    , m_name(std::move(name))
    , m_width(0)
    , m_height(0)
{
    for (int i = 0; i < CONVERSION_DOT_MAX; ++i) {
        m_dot[i] = wxRealPoint(0.0, 0.0);
        m_pos[i] = wxRealPoint(0.0, 0.0);
    }
}

CConversionBase::~CConversionBase() = default;

void CConversionBase::Init(int width, int height)
{
    ReadScreen(width, height);
    ReadCoordinate();
    ReadPosition();
}

void CConversionBase::Update()
{
    ReadCoordinate();
    ReadPosition();
}

void CConversionBase::ReadScreen(int width, int height)
{
    m_width = width;
    m_height = height;
}

void CConversionBase::ReadCoordinate()
{
    CConfigXML cfg;
    if (!cfg.open(CONFIG_FILE)) {
        cfg.close();
        return;
    }
    const wxScopedCharBuffer section = m_name.utf8_str();
    printf("%s\n", section.data());

    int dotNum = m_dotNum;
    cfg.readInt(section.data(), COORDINATE, "dotNum", dotNum, 0);
    if (dotNum > CONVERSION_DOT_MAX) {
        // More points than there is room for: not a calibration we can use.
        m_dotNum = 0;
        for (int i = 0; i < CONVERSION_DOT_MAX; ++i)
            m_dot[i] = wxRealPoint(0.0, 0.0);
    } else {
        m_dotNum = dotNum;
        cfg.readDot(section.data(), COORDINATE, "dot", m_dotNum, m_dot);
    }
    cfg.close();
}

void CConversionBase::ReadPosition()
{
    int columns = 0;
    int rows = 0;
    GridSize(m_dotNum, columns, rows);
    const double w = m_width;
    const double h = m_height;
    for (int c = 0; c < columns; ++c) {
        for (int r = 0; r < rows; ++r) {
            wxRealPoint& pos = m_pos[c * rows + r];
            pos.x = std::trunc(0.92 * w / (columns - 1) * c + w * 0.04);
            pos.y = std::trunc(h * 0.92 / (rows - 1) * r + h * 0.04);
        }
    }
}

void CConversionBase::GridSize(int dotNum, int& columns, int& rows)
{
    switch (dotNum) {
    case 4:
        columns = 2;
        rows = 2;
        break;
    case 12:
        columns = 4;
        rows = 3;
        break;
    case 20:
        columns = 5;
        rows = 4;
        break;
    default: // 9, and any count that fits no grid: the first nine targets
        columns = 3;
        rows = 3;
        break;
    }
}

CConversion::CConversion(wxString name)
    : CConversionBase(std::move(name))
{
}

bool CConversion::FindCell(const wxRealPoint& dev, int& c, int& r) const
{
    int columns = 0;
    int rows = 0;
    GridSize(m_dotNum, columns, rows);
    return FindCell(dev, columns, rows, c, r);
}

bool CConversion::FindCell(const wxRealPoint& dev, int columns, int rows, int& c, int& r) const
{
    const double X = dev.x;
    const double Y = dev.y;
    auto D = [this, rows](int col, int row) -> const wxRealPoint& { return m_dot[col * rows + row]; };

    if (columns == 3 && rows == 3) {
        // Centre-point rule: a point on the centre's x or y belongs to the
        // left column or the upper row.
        const wxRealPoint& centre = D(1, 1);
        c = X <= centre.x ? 0 : 1;
        r = Y <= centre.y ? 0 : 1;
        return true;
    }

    // Band rule (a 2 x 2 grid has one cell and no limits). Cells are tested
    // column by column, rows within a column; the first cell whose limits
    // all hold is taken. Column limits come from the interior rows, row
    // limits from the interior columns, and the outer cells reach to
    // infinity. A point on a limit belongs to the cell right of or below it.
    const int lastC = columns - 2;
    const int lastR = rows - 2;
    double bestMiss = std::numeric_limits<double>::infinity();
    int bestC = 0;
    int bestR = 0;
    for (int cc = 0; cc <= lastC; ++cc) {
        const int cx = std::min(cc + 1, lastC);
        for (int rr = 0; rr <= lastR; ++rr) {
            const int ry = std::min(std::max(rr, 1), lastR);
            bool inside = true;
            double missX = 0.0;
            double missY = 0.0;
            if (cc > 0 && !(X >= D(cc, ry).x)) {
                inside = false;
                missX = std::max(missX, D(cc, ry).x - X);
            }
            if (cc < lastC && !(X < D(cc + 1, ry).x)) {
                inside = false;
                missX = std::max(missX, X - D(cc + 1, ry).x);
            }
            if (rr > 0 && !(Y >= D(cx, rr).y)) {
                inside = false;
                missY = std::max(missY, D(cx, rr).y - Y);
            }
            if (rr < lastR && !(Y < D(cx, rr + 1).y)) {
                inside = false;
                missY = std::max(missY, Y - D(cx, rr + 1).y);
            }
            if (inside) {
                c = cc;
                r = rr;
                return true;
            }
            const double miss = missX * missX + missY * missY;
            if (miss < bestMiss) {
                bestMiss = miss;
                bestC = cc;
                bestR = rr;
            }
        }
    }
    c = bestC;
    r = bestR;
    return false;
}

wxPoint CConversion::Conversion(const wxRealPoint& dev)
{
    int columns = 0;
    int rows = 0;
    GridSize(m_dotNum, columns, rows);
    int c = 0;
    int r = 0;
    FindCell(dev, columns, rows, c, r);

    const int iTL = c * rows + r;
    const int iBL = iTL + 1;
    const int iTR = iTL + rows;
    const int iBR = iTR + 1;
    const wxRealPoint& TL = m_dot[iTL];
    const wxRealPoint& BL = m_dot[iBL];
    const wxRealPoint& TR = m_dot[iTR];
    const wxRealPoint& BR = m_dot[iBR];
    const double sTLx = m_pos[iTL].x;
    const double sTRx = m_pos[iTR].x;
    const double sBLx = m_pos[iBL].x;
    const double sBRx = m_pos[iBR].x;
    const double sTLy = m_pos[iTL].y;
    const double sBRy = m_pos[iBR].y;
    const double X = dev.x;
    const double Y = dev.y;

    // Where the vertical line through X meets the cell's top and bottom edges.
    const double Ytop = (TL.y - TR.y) / (TL.x - TR.x) * X
                        + (TL.x * TR.y - TR.x * TL.y) / (TL.x - TR.x);
    const double Ybot = (BL.y - BR.y) / (BL.x - BR.x) * X
                        + (BL.x * BR.y - BR.x * BL.y) / (BL.x - BR.x);

    // Screen x on the top edge, measured from TL (device length per pixel ktop).
    double Ltop = std::sqrt((X - TL.x) * (X - TL.x) + (Ytop - TL.y) * (Ytop - TL.y));
    if (X < TL.x)
        Ltop = -Ltop;
    const double ktop = std::sqrt((TL.x - TR.x) * (TL.x - TR.x) + (TL.y - TR.y) * (TL.y - TR.y))
                        / std::fabs(sTLx - sTRx);
    const double SXtop = Ltop / ktop + sTLx;

    // Screen x on the bottom edge, measured from BR.
    double Lbot = std::sqrt((X - BR.x) * (X - BR.x) + (Ybot - BR.y) * (Ybot - BR.y));
    if (X < BR.x)
        Lbot = -Lbot;
    const double kbot = std::sqrt((BL.x - BR.x) * (BL.x - BR.x) + (BL.y - BR.y) * (BL.y - BR.y))
                        / std::fabs(sBRx - sBLx);
    const double SXbot = Lbot / kbot + sBRx;

    // Between the two edges by the fraction t = (Y - Ytop) / (Ybot - Ytop),
    // written with q = t / (1 - t).
    double SX;
    double SY;
    if (Ybot != Y) {
        const double q = (Y - Ytop) / (Ybot - Y);
        SX = (SXtop + SXbot * q) / (q + 1);
        SY = (sTLy + sBRy * q) / (q + 1);
    } else {
        SX = SXbot;
        SY = sBRy;
    }

    return wxPoint(Clamp(WholePixel(SX), m_width), Clamp(WholePixel(SY), m_height));
}
