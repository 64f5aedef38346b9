// The shipped board: a HID multi-touch board with 64-byte reports carrying
// up to two contacts.
//
// Input report (64 bytes, report id first; 16-bit values little endian):
//
//   byte  0      report id, 1
//   byte  1      contact 1 status: 7 touching, 0 not touching
//   bytes 3-4    contact 1 X        bytes 5-6    contact 1 Y
//   bytes 7-8    contact 1 size A   bytes 9-10   contact 1 size B
//   byte  11     contact 2 status: 7 touching, 0 not, 0x77 (split screen)
//   bytes 13-14  contact 2 X        bytes 15-16  contact 2 Y
//   bytes 17-18  contact 2 size A   bytes 19-20  contact 2 size B
//   bytes 2, 12, 21-63 not used
//
// Output: the 64-byte connect command 02 01 01 00 ... as one output report.
#pragma once

#include "SkribWorkBase.h"

// One decoded report.
struct ZiwReport
{
    int id = 0;
    int status[2] = {0, 0};
    int x[2] = {0, 0};
    int y[2] = {0, 0};
    int sizeA[2] = {0, 0};
    int sizeB[2] = {0, 0};
};

ZiwReport DecodeZiwReport(const unsigned char* report);

// The press value of a report: the size values of contact 1, plus those of
// contact 2 when it touches, divided by 20.
int ZiwPressValue(const ZiwReport& report);

class CSkribWorkZIW : public CSkribWorkBase
{
public:
    static const unsigned char CONNECT_DEVICE_CMD_ZIW[64];
    // How often Init writes the connect command before it gives up.
    static constexpr int CONNECT_WRITE_TRIES = 10;

    CSkribWorkZIW();

    bool Init(CDeviceBase* device) override;
    bool DealClientNotify(ClientNotify_Type type, int value) override;
    bool ReadDriverSetData();

    // One full report's handling (check, decode, dispatch by state), as the
    // read loop does it; takes the work thread's lock. The report that
    // completes a calibration run also finishes it (FinishOrient).
    void HandleReport(const unsigned char* report);

protected:
    void* Entry() override;
    bool Dev2Scr() override;
    bool DataHeadCheck() override;
    int WriteConnect() override;
    int GetCmdType() override { return 10; }
    int Read(unsigned char* buf, int len) override;
    int Write(const unsigned char* buf, int len) override;
    void OnPressT() override;
    void OnPressS() override;
    void OnReleaseT() override;
    void OnReleaseS() override;

    void OnCommon();
    void OnDualCommon();
    void OnDualSplit();
    // A report during a calibration run: fed to the collector, or the end
    // of a touch. The kind of the run when this report completed it, else
    // STATE_NORMAL.
    State_Type OnOrient();
    // After a completed run: pause 1 s, move the pointer to the last touched
    // point, pause 2 s, reload the conversion or the hot-key zones, and
    // return to normal work.
    void FinishOrient(State_Type completed);
    // The pauses of FinishOrient, in seconds.
    virtual void OrientPause(int seconds);

    int m_bGesture = 0;
    bool m_bSendPressVal = false;
    int m_iValue1 = 0;
    int m_iValue2 = 0;
    int m_iPressCount = 0;
    wxPoint m_ptFirst;
    wxPoint m_ptSecond;
    int m_iContactX[2] = {0, 0};
    int m_iContactY[2] = {0, 0};
    int m_iContactState[2] = {0, 0};
    bool m_bDual = false;
    bool m_bDualSplit = false;
    wxRealPoint m_ptDualDev;
    wxPoint m_ptDualScr;
    int m_iSide[2] = {0, 0};
    int m_iSplitX = -1;

private:
    int ScreenX(const wxRealPoint& p);
};
