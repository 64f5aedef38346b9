// The hot-plug monitor on Linux: a thread that follows USB devices through
// libudev, applies the bus position rules, offers a supported board to
// OnAdd and reports its removal to OnRemove. With a node given by hand it
// follows that hidraw node instead; with ManualDevice::matchHid it follows
// hidraw nodes by their HID device's identity (boards without USB parent).
#pragma once

#include "NotifyBase.h"

#include <atomic>
#include <string>
#include <thread>

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

private:
    void Run();
    void OnProcess(udev_device* dev);
    void OnManual(udev_device* dev, const char* action);
    // --match-hid: a hidraw node whose HID device is a table entry.
    void OnHid(udev_device* dev, const char* action);
    // USB devices are followed (the table with the hub rule), not hidraw nodes.
    bool FollowsUsb() const { return m_manual.node.empty() && !m_manual.matchHid; }
    bool processRemove();

    ManualDevice m_manual;
    char m_location[128] = {};
    std::string m_servedSysPath; // the served board's USB device (or node)
    std::string m_service;
    int m_wakeFd = -1;
    int m_monitorFd = -1;
    udev* m_pUdev = nullptr;
    struct udev_monitor* m_pMonitor = nullptr;
    std::thread m_thread;
    std::atomic<unsigned> m_handled{0};
};
