#include "NotifyBase.h"

#include "SkribLog.h"

#include <chrono>
#include <thread>

bool CSkribNotifyBase::Init()
{
    AddDevice(0x1477, 0x1223, DEVICE_HID, DRIVER_ZIW, 0);
    return true;
}

void CSkribNotifyBase::AddDevice(int vid, int pid, DeviceType devType, tagDriverType driverType, int baudRate)
{
    tagDevice_Info info;
    info.pid = pid;
    info.vid = vid;
    info.devType = devType;
    info.baudRate = baudRate;
    info.driverType = driverType;
    m_devices.push_back(info);
    ++m_iDevCount;
}

bool CSkribNotifyBase::OnAdd(const tagDevice_Info& info)
{
    std::lock_guard<std::mutex> lock(m_pMutex);
    CDeviceBase* device = CDeviceBase::CreateDevice(info);
    SkribLog("###########pDev = %p", static_cast<void*>(device));
    if (!device)
        return false;

    // Let a board that has just been attached settle.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    if (!device->Open()) {
        delete device;
        return m_bActive;
    }
    if (!device->Init() || !device->CheckDevType()) {
        delete device; // closes it
        return m_bActive;
    }
    // The host owns the device from here, whatever the outcome.
    if (m_pHost->CreateWorkThread(device->m_info.driverType, device))
        m_bActive = true;
    return m_bActive;
}

bool CSkribNotifyBase::OnRemove(const tagDevice_Info& info)
{
    bool ended;
    {
        std::lock_guard<std::mutex> lock(m_pMutex);
        ended = m_pHost->DestoryWorkThread(info);
    }
    if (ended)
        m_bActive = false;
    return ended;
}
