// Pointer action engine: turns the screen points and action codes of a board's
// work thread into pointer operations.
//
// The engine keeps the state of the current contact (pressed or not, where it
// was pressed, how long it has stayed still), smooths the pointer track, and
// decides when a contact becomes a press, a drag, a release, a right click
// (by holding still) or a double click. It calls six abstract pointer
// operations that an injection engine implements. The second user of the
// two-user mode is not injected: its actions go to the dual-user link.
//
// Four entry points share one action-code vocabulary and one set of state:
//
//   MouseAction      one-stage weighted filter (RC1/RC2), local double click,
//                    hold gives a right click
//   MouseAction3     two fixed filter stages (0.2, then 0.5), no double click,
//                    hold gives a right click
//   VUMouseAction    the VU filter, local double click, hold gives a right click
//   DualMouseAction  one-stage filter, double click sent to the peer, hold only
//                    sets a flag
//
// Threads: the entry points, ReadConfig and SetDualLink are serialised by a
// mutex of the engine, so the work thread and the main thread's time-out
// handling may call them at the same time. The pointer operations and the
// link's SendDualData run with that mutex held: they must not call back into
// the engine.
#ifndef SKRIB_POINTER_MOUSECTRL_H
#define SKRIB_POINTER_MOUSECTRL_H

#include <atomic>
#include <mutex>

#include <wx/gdicmn.h>
#include <wx/string.h>

#include "DualLink.h"

// Action codes, the second argument of every entry point. Other values do
// nothing.
enum MouseAction_Type
{
    MOUSE_ACTION_UP = 0,      // the contact ended
    MOUSE_ACTION_DOWN = 1,    // a contact is at the point: the first report
                              // presses, later ones drag
    MOUSE_ACTION_RCLICK = 2,  // right click at the current pointer position
    MOUSE_ACTION_LCLICK = 3,  // left click
    MOUSE_ACTION_MOVE = 4,    // move the pointer without a button
    MOUSE_ACTION_REPRESS = 5  // release and press again while pressed
                              // (MouseAction and VUMouseAction only)
};

class CMouseCtrlBase
{
public:
    // Creates the injection engine for a work thread; the caller owns it.
    // Defined by the injection layer, which chooses the engine.
    static CMouseCtrlBase* CreateMouseCtrl(const wxString& name);

    // `name` is the work thread's name, which is also its settings section.
    explicit CMouseCtrlBase(const wxString& name);
    virtual ~CMouseCtrlBase();

    CMouseCtrlBase(const CMouseCtrlBase&) = delete;
    CMouseCtrlBase& operator=(const CMouseCtrlBase&) = delete;

    // Reads LIMIT_COUNT, LIMIT_MOVE (integers) and RC1, RC2 (decimal text of
    // at most 19 characters) from <name>/Constants of CONFIG_FILE. Anything
    // missing or unreadable gives 0. The file is read without the engine's
    // mutex; the four values are replaced together.
    void ReadConfig();

    // The entry points; `pt` is a screen point, `action` a MouseAction_Type.
    void MouseAction(wxPoint pt, int action);
    void MouseAction3(wxPoint pt, int action);
    void VUMouseAction(wxPoint pt, int action);
    void DualMouseAction(wxPoint pt, int action);

    // Tells the engine the current dual-user link; null when there is none,
    // and then the second user's records are dropped. The engine never owns
    // or deletes the link: keeping it alive is the owner's business. The call
    // waits for an entry point in progress, so once it has returned the
    // previous link is no longer used and its owner may delete it.
    void SetDualLink(IDualLink* link);

protected:
    // Pointer operations of the injection engine. The button operations act
    // at the last position given to MouseMove.
    virtual void LButtonDown() = 0;
    virtual void RButton() = 0;  // right button down
    virtual void LButtonUp() = 0;
    virtual void RButtonUp() = 0;
    virtual void LButtonDoubleClick() = 0;
    virtual void MouseMove(int x, int y) = 0;

    // The pause inside the right click sequence; sleeps by default.
    virtual void Pause(unsigned int microseconds);
    // Local time in milliseconds, for the double-click time limits.
    virtual long long NowMillis();

    // Internal operations. They expect the engine's mutex to be held, or a
    // single thread; mouseProc and RcDigital guard their process-wide state
    // themselves.

    // First stage of the MouseAction3 filter (weight 0.2 of the new point);
    // x < 0 resets both stages and gives (0, 0).
    static wxPoint mouseProc(int x, int y);
    // Second stage (weight `a` of the new point); x < 0 resets it.
    static wxPoint RcDigital(int x, int y, double a);
    // The VU filter; both move the pointer themselves.
    void VUDataFilt(int x, int y);
    void VURcDigital(int x, int y, double a);
    static void Bezier_middle(wxPoint& out, wxPoint a, wxPoint b);

    wxString m_name;

    // Settings.
    int m_limitCount = 0;  // still reports before the hold rule fires; <= 0: off
                           // (except in MouseAction3)
    int m_limitMove = 0;   // still radius in pixels per axis (strictly less)
    float m_rc1 = 0.0f;    // weight of the new point in the one-stage filter
    float m_rc2 = 0.0f;    // weight of the previous filtered point

    // Local contact.
    bool m_bDown = false;       // a contact is in progress and the left button
                                // was pressed for it
    bool m_bRightDone = false;  // the hold rule has fired for this contact
    bool m_bStill = false;      // the last report was still (shared with the
                                // dual contact)
    int m_holdCount = 0;        // still reports of the current contact
    wxPoint m_ptPress;          // first report of the contact
    wxPoint m_ptLast;           // last filtered point
    int m_clickCount = 0;       // releases counted for the double click
    wxPoint m_ptLastUp;         // last local release
    long long m_lastUpTime = 0; // last release, local or dual (ms)

    // VU filter.
    int m_vuMoves = 0;    // reports since the press that went straight through
    int m_vuSamples = 0;  // sample counter 0..10
    int m_vuGroup = 0;    // 0..3
    bool m_vuSlow = false;
    wxPoint m_ptVuRef;
    wxPoint m_ptVuFirst;
    wxPoint m_ptVuMid;
    int m_vuState = 0;    // second-order smoother: 0, 1, 2
    wxPoint m_ptVuHist1;
    wxPoint m_ptVuHist2;

    // Dual contact.
    bool m_bDualDown = false;
    bool m_bDualHold = false;
    bool m_bPrevStill = false;
    int m_MiceDotCount = 0;
    wxPoint m_ptDualPress;
    wxPoint m_ptDualLast;
    wxPoint m_ptPrevPress;

private:
    void RightClick();
    wxPoint OneStage(wxPoint pt, wxPoint last) const;
    bool IsStill(wxPoint pt, wxPoint origin) const;
    void LocalUp(wxPoint pt);
    void LocalPress(wxPoint pt);
    void HoldStep(wxPoint pt);
    void CommonAction(wxPoint pt, int action);
    void SendDual(int action, int x, int y);

    std::mutex m_mutex;
    std::atomic<IDualLink*> m_pDualLink{nullptr};
};

#endif // SKRIB_POINTER_MOUSECTRL_H
