// Stand-ins around a work thread in tests: one log of everything that
// leaves it, in order, and a pointer engine and a host that write to it.
#pragma once

#include "MouseCtrl.h"
#include "SidekeyTimerGate.h"
#include "SkribAppTypes.h"
#include "WorkHost.h"

#include <mutex>
#include <string>
#include <vector>

struct CEventLog
{
    void Add(const std::string& e)
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(e);
    }
    std::vector<std::string> Snapshot()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return events;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(mutex);
        events.clear();
    }
    std::mutex mutex;
    std::vector<std::string> events;
};

class CRecordingEngine : public CMouseCtrlBase
{
public:
    explicit CRecordingEngine(CEventLog& log) : CMouseCtrlBase("SkribWorkZIW"), m_log(log) {}
    void LButtonDown() override { m_log.Add("ldown"); }
    void RButton() override { m_log.Add("rdown"); }
    void LButtonUp() override { m_log.Add("lup"); }
    void RButtonUp() override { m_log.Add("rup"); }
    void LButtonDoubleClick() override { m_log.Add("dclick"); }
    void MouseMove(int x, int y) override { m_log.Add("move " + std::to_string(x) + "," + std::to_string(y)); }

private:
    CEventLog& m_log;
};

// SendConnectToSoft(true) stands for "Connect" and "IsStart".
//
// The side-key timer is a controllable one: starting it (the event
// EVENT_SIDEKEY_TIMER, not logged) opens its window as the application does
// once its main thread has handled the event; a test lets it expire by
// calling the work thread's OnTimer(TIMEOUT_SIDEKEY), as the application's
// timer does.
class CRecordingHost : public IWorkHost
{
public:
    explicit CRecordingHost(CEventLog& log) : m_log(log) {}
    bool CreateEvent(int type) override
    {
        if (type == EVENT_SIDEKEY_TIMER) {
            m_timer.RequestStart();
            m_timer.Arm();
            return true;
        }
        m_log.Add("event " + std::to_string(type));
        return true;
    }
    void SendConnectToSoft(bool connected) override { m_log.Add(connected ? "Connect IsStart" : "DisConnect"); }
    void SendMsgToSoft(int type) override { m_log.Add("msg " + std::to_string(type)); }
    void OnSend(const char* data, int length) override { m_log.Add(std::string(data, static_cast<size_t>(length))); }
    void SendToClient(const wxString& text) override { m_log.Add("client " + text.ToStdString()); }
    bool CreateDualSock(int port) override
    {
        m_log.Add("dualsock " + std::to_string(port));
        return true;
    }
    void DestoryDualSock() override { m_log.Add("dualsock closed"); }
    bool IsSidekeyTimerRunning() override { return m_timer.IsRunning(); }
    void StopSidekeyTimer() override { m_timer.Stop(); }
    bool ClaimSidekeyExpiry() override { return m_timer.Claim(); }

private:
    CEventLog& m_log;
    CSidekeyTimerGate m_timer;
};
