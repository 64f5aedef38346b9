// The table of supported boards and the arrival and removal of the one board
// that is served. The platform's monitor (a thread) watches the bus and
// calls OnAdd and OnRemove.
#pragma once

#include "DeviceBase.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

// Who takes an identified board: the application, which builds its work
// thread.
class IBoardHost
{
public:
    virtual ~IBoardHost() = default;
    // Takes ownership of `device` in every case: on failure the host closes
    // and deletes it, exactly once.
    virtual bool CreateWorkThread(int driverType, CDeviceBase* device) = 0;
    // True when the work thread of the board at `info.location` was ended.
    virtual bool DestoryWorkThread(const tagDevice_Info& info) = 0;
};

// A board given by hand instead of the table and the bus rules, or the
// table's boards found by their HID identity alone.
struct ManualDevice
{
    std::string node; // "/dev/hidrawN"; empty: none
    int driverType = DRIVER_ZIW;
    // Without a node: follow hidraw nodes whose HID device carries a table
    // entry's vendor and product (HID_ID), whatever bus they are on and
    // without the hub rule. For boards without a USB parent (uhid).
    bool matchHid = false;
};

class CSkribNotifyBase
{
public:
    // The platform's monitor; the caller owns it.
    static CSkribNotifyBase* CreateNotify(IBoardHost* host, const ManualDevice& manual);

    explicit CSkribNotifyBase(IBoardHost* host) : m_pHost(host) {}
    virtual ~CSkribNotifyBase() = default;

    // Fills the table of supported devices.
    bool Init();
    void AddDevice(int vid, int pid, DeviceType devType, tagDriverType driverType, int baudRate);

    // The monitor thread: started once, stopped (and joined) at exit.
    virtual bool Start() = 0;
    virtual void Stop() = 0;

    virtual bool OnAdd(const tagDevice_Info& info);
    virtual bool OnRemove(const tagDevice_Info& info);
    virtual void EnumDevice(const char*) {}

    bool IsActive() const { return m_bActive; }
    const std::vector<tagDevice_Info>& Devices() const { return m_devices; }

protected:
    int m_iDevCount = 0;
    std::vector<tagDevice_Info> m_devices;
    std::atomic<bool> m_bActive{false};
    std::mutex m_pMutex; // serialises OnAdd and OnRemove
    IBoardHost* m_pHost;
};
