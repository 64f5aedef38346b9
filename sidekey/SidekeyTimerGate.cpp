#include "SidekeyTimerGate.h"

void CSidekeyTimerGate::RequestStart()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bRunning = true;
    ++m_requested;
}

bool CSidekeyTimerGate::Arm()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_armed = m_requested;
    return m_bRunning;
}

bool CSidekeyTimerGate::IsRunning() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bRunning;
}

void CSidekeyTimerGate::Stop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bRunning = false;
}

bool CSidekeyTimerGate::Claim()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bRunning || m_armed != m_requested)
        return false;
    m_bRunning = false;
    return true;
}
