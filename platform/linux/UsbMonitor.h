// The hot-plug monitor on Linux: a thread that follows USB devices through
// libudev, applies the bus position rules, offers a supported board to
// OnAdd (again when one of its hidraw nodes arrives, while no board is
// served) and reports its removal to OnRemove. With a node given by hand it
// follows that hidraw node instead; with ManualDevice::matchHid it follows
// hidraw nodes by their HID device's identity (boards without USB parent).
#pragma once

#include "NotifyBase.h"
#include "PollThread.h"

#include <atomic>
#include <mutex>
#include <string>

struct udev;
struct udev_device;

// The parent-hub rule: true when a device with these ids may be considered
// given the ids of its parent (hubVid/hubPid < 0 when it has no USB parent).
bool PassesHubRule(int vid, int pid, int hubVid, int hubPid);

class CSkribNotifyUdev : public CSkribNotifyBase
{
public:
    CSkribNotifyUdev(IBoardHost* host, const ManualDevice& manual);
    ~CSkribNotifyUdev() override;

    bool Start() override;
    void Stop() override;

    // Devices and events handled so far (for tests that wait on the monitor).
    unsigned Handled() const { return m_handled; }

    // Held while the monitor reads sysfs for one device or event. A caller
    // that changes the device tree from inside this process (a test that
    // mutates a mock sysfs) holds it too, so that the two never overlap.
    std::mutex& EventLock() { return m_eventLock; }

private:
    void Enumerate();
    bool OnEvent(short revents);
    void OnProcess(udev_device* dev);
    void OnManual(udev_device* dev, const char* action);
    // --match-hid: a hidraw node whose HID device is a table entry.
    void OnHid(udev_device* dev, const char* action);
    // USB devices are followed (the table with the hub rule), with their
    // hidraw nodes as a second chance; otherwise hidraw nodes alone.
    bool FollowsUsb() const { return m_manual.node.empty() && !m_manual.matchHid; }
    bool processRemove();

    ManualDevice m_manual;
    char m_location[128] = {};
    std::string m_servedSysPath; // the served board's USB device (or node)
    std::string m_service;
    udev* m_pUdev = nullptr;
    struct udev_monitor* m_pMonitor = nullptr;
    CPollThread m_thread;
    std::atomic<unsigned> m_handled{0};
    std::mutex m_eventLock;
};
