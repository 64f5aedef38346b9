// Conversion of board positions (device coordinates) to pixels of the main
// screen through the stored calibration.
//
// A calibration is the list of device positions that the board reported
// while the user touched a grid of screen targets. The grid has NC columns
// and NR rows and is stored column by column: target k is grid point
// (k / NR, k % NR). The stored count fixes the grid:
//
//     count   grid (NC x NR)   cell rule
//       4         2 x 2        single cell
//       9         3 x 3        centre-point rule
//      12         4 x 3        band rule
//      20         5 x 4        band rule
//    other        3 x 3        centre-point rule on the first nine targets
//
// The screen targets span the screen with a 4 % margin on each side:
// x = trunc(0.92 W / (NC - 1) * c + 0.04 W), y likewise with H and NR.
//
// A position is placed in one cell of the grid, then interpolated between
// the cell's top and bottom edges; outside the calibrated area the border
// cells are extrapolated and the result is clamped to 0..W x 0..H.
//
// Choices of this implementation:
// - 12 targets use the band rule on their real 4 x 3 grid (column limits
//   from the interior row, row limits from the interior columns), so that
//   the targets that the calibration screen shows and the cells that the
//   conversion uses agree.
// - When a skewed grid makes the band limits cross, a position may satisfy
//   no cell's limits. It then goes to the nearest cell: the one whose limits
//   it misses by the smallest distance (per axis the larger miss, the two
//   axes combined as a Euclidean length), the first in test order on a tie.
// - A stored count above CONVERSION_DOT_MAX is no calibration: the count
//   and all measured positions become zero, and every position converts
//   to (0, 0), as it does before any calibration has been stored.
//
// The screen size comes from the caller (Init / ReadScreen); Update keeps it.
#ifndef SKRIB_CALIB_CONVERSION_H
#define SKRIB_CALIB_CONVERSION_H

#include <wx/gdicmn.h>
#include <wx/string.h>

// Room for measured positions and screen targets.
constexpr int CONVERSION_DOT_MAX = 20;

class CConversionBase
{
public:
    // A new CConversion for any name; the caller owns it.
    static CConversionBase* CreateConversion(const wxString& name);

    // Zero calibration and targets; `name` is the settings section that
    // holds the calibration (the owning work thread's name).
    explicit CConversionBase(wxString name);
    virtual ~CConversionBase();

    CConversionBase(const CConversionBase&) = delete;
    CConversionBase& operator=(const CConversionBase&) = delete;

    // Device position to screen pixel, within 0..m_width x 0..m_height.
    // Constant time, no allocation, no file access.
    virtual wxPoint Conversion(const wxRealPoint& dev) = 0;

    // Reads "dotNum" and the "dot" points of <m_name>/coordinate from
    // CONFIG_FILE (relative to the working folder). When the file cannot be
    // opened nothing changes. A missing "dotNum" keeps the current count; a
    // missing or malformed point keeps its current value.
    virtual void ReadCoordinate();

    // ReadScreen, ReadCoordinate, ReadPosition. Called once when the work
    // thread starts, with the size of the main screen in pixels.
    void Init(int width, int height);
    // ReadCoordinate, ReadPosition; the screen size stays as it was.
    void Update();
    // Stores the size of the main screen in pixels.
    void ReadScreen(int width, int height);
    // Fills m_pos with the screen targets of the grid of m_dotNum.
    void ReadPosition();

    // Columns and rows of the grid for a stored count (table above).
    static void GridSize(int dotNum, int& columns, int& rows);

    wxRealPoint m_dot[CONVERSION_DOT_MAX]; // measured device positions, target order
    int m_dotNum;                          // stored count: 4, 9, 12, 20; 0 for none
    wxRealPoint m_pos[CONVERSION_DOT_MAX]; // screen targets (whole pixels)
    wxString m_name;                       // settings section
    int m_width;                           // main screen, pixels
    int m_height;
};

class CConversion : public CConversionBase
{
public:
    explicit CConversion(wxString name);

    wxPoint Conversion(const wxRealPoint& dev) override;

    // The cell (c, r) of the grid, 0 <= c <= NC - 2, 0 <= r <= NR - 2, that
    // Conversion uses for `dev`. False when no cell's limits accept it and
    // the nearest cell was taken.
    bool FindCell(const wxRealPoint& dev, int& c, int& r) const;

private:
    bool FindCell(const wxRealPoint& dev, int columns, int rows, int& c, int& r) const;
};

#endif // SKRIB_CALIB_CONVERSION_H
