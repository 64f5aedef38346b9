// The shipped board's work thread in tests, without a device: a recording
// pointer engine and host (WorkDoubles.h), reports built from contacts, and
// the calibration's pauses logged instead of slept.
#pragma once

#include "SidekeyProcess.h"
#include "SkribWorkZIW.h"
#include "WorkDoubles.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

// One contact of a report: status byte, position and the two size values.
struct Contact
{
    int status, x, y, sizeA, sizeB;
};

// A 64-byte report of the two contacts (the second absent by default).
inline std::vector<unsigned char> Report(Contact c1, Contact c2 = {0, 0, 0, 0, 0}, int id = 1)
{
    std::vector<unsigned char> r(64, 0);
    r[0] = static_cast<unsigned char>(id);
    const Contact cs[2] = {c1, c2};
    for (int i = 0; i < 2; ++i) {
        unsigned char* p = &r[1 + 10 * static_cast<size_t>(i)];
        p[0] = static_cast<unsigned char>(cs[i].status);
        const int values[4] = {cs[i].x, cs[i].y, cs[i].sizeA, cs[i].sizeB};
        for (int v = 0; v < 4; ++v) {
            p[2 + 2 * v] = static_cast<unsigned char>(values[v] & 0xFF);
            p[3 + 2 * v] = static_cast<unsigned char>(values[v] >> 8);
        }
    }
    return r;
}

// A 64-byte report: contact 1 with `status` at (x, y), contact 2 absent.
inline std::vector<unsigned char> ZiwTouch(int status, int x, int y)
{
    return Report({status, x, y, 0, 0});
}

class CRecordingZIW : public CSkribWorkZIW
{
public:
    explicit CRecordingZIW(CEventLog& log) : m_log(log), m_host(log) { SetHost(&m_host); }

    virtual ~CRecordingZIW() = default;

    // Init without a device, and the recording pointer engine.
    virtual bool Start()
    {
        if (!Init(nullptr))
            return false;
        delete m_pMouseCtrl;
        m_pMouseCtrl = new CRecordingEngine(m_log);
        return true;
    }

    // One touch: `reports` press reports at (x, y) with `status`, then one
    // report without contact.
    void Touch(int x, int y, int reports, int status = 7)
    {
        for (int i = 0; i < reports; ++i)
            HandleReport(ZiwTouch(status, x, y).data());
        HandleReport(ZiwTouch(0, 0, 0).data());
    }

    State_Type State()
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        return m_iState;
    }

    // A side-key press from a pen button or a board key, under the work
    // thread's lock as the families make it.
    void PressKey(const wxString& key)
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        m_pSidekey->StartSoftKey(key);
    }
    void SetBackCode(const wxString& code)
    {
        std::lock_guard<std::recursive_mutex> lock(m_mutex);
        m_pSidekey->m_strBack = code;
    }
    CRecordingHost& Host() { return m_host; }

    // Runs during each pause of a finished calibration (seconds), as the
    // main thread could.
    std::function<void(int)> m_onPause;

protected:
    void OrientPause(int seconds) override
    {
        m_log.Add("pause " + std::to_string(seconds));
        if (m_onPause)
            m_onPause(seconds);
    }

private:
    CEventLog& m_log;
    CRecordingHost m_host;
};
