// Calibration collector: turns the touches of a calibration run into one
// stable device point per target and stores the points.
//
// A run collects m_nDotNum points, for the screen (STATE_ORIENT, stored as
// "coordinate"/"dotNum" and "dot0".. of the settings section) or for the
// hot-key zones (STATE_HOTKEY, stored as "HOTKEY"/"key0".., no count).
//
// Per touch: the first m_nSkip reports are dropped (the finger settles), the
// next m_nRecvSize are kept as samples, and the report after them finishes
// the point: outliers are dropped (GoodData) or, when that is not
// conclusive, the trimmed mean is taken (DealData); "fin" goes to the
// settings client. Further reports of the same touch are ignored. The work
// thread clears m_nRecvNum and m_bPointDone when a touch ends (EndTouch), so
// a touch that ends early leaves no point and the target is collected again.
//
// Runs are refused before they start (InitPara returns false and the
// collector stays idle) when they could not give a defined result or would
// not fit: fewer than 1 or more than ORIENT_DOT_MAX points, a screen run of
// more points than the conversion holds (CONVERSION_DOT_MAX), or a sample
// count ("Constants"/"ORIENT_RECV_DATA_SIZE") below ORIENT_DATA_MIN (the
// trimmed mean drops two samples and the deviation needs two) or above
// ORIENT_DATA_MAX.
//
// Threads: the owning work thread calls everything with its lock held;
// InitPara runs on the main thread (the settings server's request).
#pragma once

#include "SkribWorkTypes.h" // State_Type

#include <wx/gdicmn.h>
#include <wx/string.h>

#include <functional>

constexpr int ORIENT_DOT_MAX = 30;   // points per run
constexpr int ORIENT_DATA_MAX = 200; // samples per point
constexpr int ORIENT_DATA_MIN = 3;

class COrientProcess
{
public:
    // m_nSkip is 12 for "SkribWorkVU", 8 for any other section.
    explicit COrientProcess(wxString name);
    virtual ~COrientProcess();

    COrientProcess(const COrientProcess&) = delete;
    COrientProcess& operator=(const COrientProcess&) = delete;

    // Where "fin" goes after each finished point (the settings client).
    void SetAdvise(std::function<void(const wxString&)> advise) { m_advise = std::move(advise); }

    // Starts a run of `dotNum` points of kind `state`; reads the sample
    // count. False (and idle) for a run refused as above.
    bool InitPara(int dotNum, State_Type state);

    // One report of the current touch, raw device coordinates. True exactly
    // once: when the last point of the run has been finished and stored.
    bool ReceiveData(int x, int y);

    // The end of a touch: the next report starts the next (or the same) point.
    void EndTouch()
    {
        m_nRecvNum = 0;
        m_bPointDone = false;
    }

    // Outlier rejection over the samples: writes the current point as the
    // mean of the samples within 1.95 standard deviations on both axes;
    // true when at least two and at most 35 % of them were rejected.
    bool GoodData();
    // Trimmed mean: per axis the samples' sum without the largest and the
    // smallest, divided by N - 2; overwrites the current point.
    void DealData();

    // Stores the run when it is complete (nothing for STATE_NORMAL).
    void SaveConfig(State_Type state);

    int m_nDotNum = 0;
    int m_nCurDot = 0;
    wxRealPoint m_dots[ORIENT_DOT_MAX];
    wxPoint m_data[ORIENT_DATA_MAX];
    State_Type m_state = STATE_NORMAL;
    wxString m_strName;
    int m_nRecvSize = 0;
    int m_nSkip;
    int m_nRecvNum = 0;
    bool m_bPointDone = false;

private:
    std::function<void(const wxString&)> m_advise;
};
