// An engine whose pointer operations are written to a list, a controllable
// clock, and a dual-user link that keeps the records it is given.
#ifndef SKRIB_TESTS_POINTER_RECORDINGMOUSECTRL_H
#define SKRIB_TESTS_POINTER_RECORDINGMOUSECTRL_H

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "MouseCtrl.h"

namespace ptrtest {

struct Settings
{
    int limitCount;
    int limitMove;
    float rc1;
    float rc2;
};

// Operations are recorded as "move x,y", "ldown", "lup", "rdown", "rup",
// "dbl" and "pause <us>". The list has no lock of its own: the engine must
// serialise the calls.
class CRecordingMouseCtrl : public CMouseCtrlBase
{
public:
    // Far enough from the engine's initial release time (0) that no first
    // release counts as quick.
    static constexpr long long START_MS = 1000000;

    explicit CRecordingMouseCtrl(const wxString& name = wxT("SkribWorkZIW"))
        : CMouseCtrlBase(name)
    {
    }

    // Sets the four settings as ReadConfig would; before any other thread
    // uses the engine.
    void Configure(const Settings& s)
    {
        m_limitCount = s.limitCount;
        m_limitMove = s.limitMove;
        m_rc1 = s.rc1;
        m_rc2 = s.rc2;
    }
    Settings Current() const { return Settings{m_limitCount, m_limitMove, m_rc1, m_rc2}; }

    std::vector<std::string> Take()
    {
        std::vector<std::string> ops;
        ops.swap(m_ops);
        return ops;
    }

    void Advance(long long ms) { m_now += ms; }
    // Pauses sleep and the clock is the real one.
    void UseRealTime() { m_realTime = true; }

    using CMouseCtrlBase::Bezier_middle;
    using CMouseCtrlBase::mouseProc;

protected:
    void LButtonDown() override { m_ops.push_back("ldown"); }
    void RButton() override { m_ops.push_back("rdown"); }
    void LButtonUp() override { m_ops.push_back("lup"); }
    void RButtonUp() override { m_ops.push_back("rup"); }
    void LButtonDoubleClick() override { m_ops.push_back("dbl"); }
    void MouseMove(int x, int y) override
    {
        m_ops.push_back("move " + std::to_string(x) + "," + std::to_string(y));
    }
    void Pause(unsigned int us) override
    {
        if (m_realTime)
            CMouseCtrlBase::Pause(us);
        else
            m_ops.push_back("pause " + std::to_string(us));
    }
    long long NowMillis() override
    {
        return m_realTime ? CMouseCtrlBase::NowMillis() : m_now;
    }

private:
    std::vector<std::string> m_ops;
    long long m_now = START_MS;
    bool m_realTime = false;
};

// Records as "<action>:x,y". The list has no lock either; `count` may be
// read by other threads.
class CRecordingLink : public IDualLink
{
public:
    bool SendDualData(int action, int x, int y) override
    {
        records.push_back(std::to_string(action) + ":" + std::to_string(x) + ","
                          + std::to_string(y));
        count.fetch_add(1);
        return true;
    }

    std::vector<std::string> Take()
    {
        std::vector<std::string> r;
        r.swap(records);
        return r;
    }

    std::vector<std::string> records;
    std::atomic<int> count{0};
};

} // namespace ptrtest

#endif // SKRIB_TESTS_POINTER_RECORDINGMOUSECTRL_H
