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

// A 64-byte report: contact 1 with `status` at (x, y), contact 2 absent.
inline std::vector<unsigned char> ZiwTouch(int status, int x, int y)
{
    std::vector<unsigned char> r(64, 0);
    r[0] = 1;
    r[1] = static_cast<unsigned char>(status);
    r[3] = static_cast<unsigned char>(x & 0xFF);
    r[4] = static_cast<unsigned char>(x >> 8);
    r[5] = static_cast<unsigned char>(y & 0xFF);
    r[6] = static_cast<unsigned char>(y >> 8);
    return r;
}

class CRecordingZIW : public CSkribWorkZIW
{
public:
    explicit CRecordingZIW(CEventLog& log) : m_log(log), m_host(log) { SetHost(&m_host); }

    bool Start()
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
