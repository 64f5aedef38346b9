// Side keys: the pen's side buttons ("front", "back"), the board's own hot
// keys, and the hot-key zones on the board's surface. Each press becomes a
// key name; a second press of the same key inside the side-key timer's
// 500 ms window is a double press. The result is a four-letter code for the
// whiteboard application, a launch of the whiteboard or calibration
// application, or a right click.
//
// Zones: 14 named squares, each with two centres in device coordinates
// (settings "HOTKEY"/"key0".."key27": key i and key i+14 are the centres of
// zone i), half side "Constants"/"SIDEKEY_POINT_SIZE", switched on by
// "Flag"/"Enable_Soft_Sidekey" on boards without their own keys.
//
// Press logic (P the pending key, T the side-key timer):
//
//   T not running             "front" with code elfc: send elfc;
//                             "back" with code elbc: send elbc;
//                             then P := K, start T
//   T running, K = P:
//     front, code elfc        P := "", send elfd, stop T
//     front, other code       stop T, OnTimer, P := K, start T
//     back, code elbc         P := "", send elbd, stop T, start the whiteboard app
//     back, other code        stop T, send the code twice, P := "", start the app
//     bpen/rpen/lpen/gpen     P := "", send bped/rped/lped/gped, stop T
//     any other key           stop T, OnTimer, P := K, start T
//   T running, K != P         stop T, OnTimer, then as "T not running"
//
// OnTimer, the single press of P (P is not cleared): "" nothing; "orient"
// starts the calibration application; "board" the whiteboard application;
// "front" sends a non-default front code; "back" right-clicks unless the
// whiteboard window is in front, and sends a non-default back code; any
// other name is sent as the code.
//
// Threads: every member is used with the owning work thread's lock held:
// DealSidekey and StartSoftKey run on the work thread, OnTimer there or on
// the main thread at the timer's expiry, ReadEnable on the main thread. The
// timer itself is the application's, reached through the host (see
// CSidekeyTimerGate).
#pragma once

#include <wx/arrstr.h>
#include <wx/gdicmn.h>
#include <wx/string.h>

#include <functional>

class IWorkHost;

constexpr int SIDEKEY_ZONE_COUNT = 14;
constexpr int SIDEKEY_POINT_COUNT = 2 * SIDEKEY_ZONE_COUNT;

class CSidekeyProcess
{
public:
    // Zone names, default codes, no pending key, all centres 0, zones off.
    CSidekeyProcess(bool hadHand, wxString name);
    virtual ~CSidekeyProcess();

    CSidekeyProcess(const CSidekeyProcess&) = delete;
    CSidekeyProcess& operator=(const CSidekeyProcess&) = delete;

    // The application (codes, launches, the timer); null: presses go nowhere.
    void SetHost(IWorkHost* host) { m_pHost = host; }
    // A right click at the work thread's last screen point.
    void SetRightClick(std::function<void()> rightClick) { m_rightClick = std::move(rightClick); }

    // Re-reads the zones' switch only.
    void ReadEnable();
    // Reads the 28 centres, the half side and the switch.
    void ReadConfig();

    // The zone test of one report of a touch, in device coordinates: true
    // when the report lies on a zone (strictly inside its square around
    // either centre; the first zone in table order wins) and must not move
    // the pointer. Only the first such report of a touch (`handled` still 0)
    // presses the zone's key; `handled` is then 1 until the caller clears it
    // at the end of the touch. No allocation unless a zone is pressed.
    bool DealSidekey(int x, int y, int& handled);

    // One key press (table above).
    void StartSoftKey(const wxString& key);
    // The single-press action of the pending key.
    void OnTimer();

    wxArrayString m_keys;                       // zone names, zone order
    wxString m_strName;                         // settings section
    wxRealPoint m_points[SIDEKEY_POINT_COUNT];  // zone centres
    bool m_bHadHand;                            // the board has its own keys: zones off
    bool m_bEnable = false;                     // zones on
    int m_nPointSize = 0;                       // half side of a zone's square
    wxString m_strKey;                          // pending key
    wxString m_strFront = "elfc";               // pen front button code
    wxString m_strBack = "elbc";                // pen back button code

private:
    void FirstPress(const wxString& key);
    void SendCode(const char* code); // a built-in four-letter code
    void SendText(const wxString& text);
    void Post(int event);
    bool TimerRunning();
    void StopTimer();
    void StartTimer();

    IWorkHost* m_pHost = nullptr;
    std::function<void()> m_rightClick;
};
