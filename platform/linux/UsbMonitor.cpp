#include "UsbMonitor.h"

#include "HidRaw.h"
#include "SkribLog.h"
#include "UsbLocation.h"

#include <libudev.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int kHubVid = 0x1314, kHubPid = 0x1055;

bool ReadIds(udev_device* dev, int& vid, int& pid)
{
    const char* v = udev_device_get_sysattr_value(dev, "idVendor");
    const char* p = udev_device_get_sysattr_value(dev, "idProduct");
    if (!v || !p)
        return false;
    vid = static_cast<int>(strtol(v, nullptr, 16));
    pid = static_cast<int>(strtol(p, nullptr, 16));
    return true;
}

bool ReadLocation(udev_device* dev, uint32_t& location)
{
    int bus = 0;
    std::vector<int> ports;
    if (!ParseUsbSysName(udev_device_get_sysname(dev), bus, ports))
        return false;
    location = UsbLocationId(bus, ports);
    return true;
}

// The USB device itself, or the one a hidraw node belongs to (none for a
// node without a USB parent). The result lives as long as dev.
udev_device* UsbDeviceOf(udev_device* dev)
{
    const char* subsystem = udev_device_get_subsystem(dev);
    if (subsystem && strcmp(subsystem, "hidraw") == 0)
        return udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device");
    return dev;
}

} // namespace

bool PassesHubRule(int vid, int pid, int hubVid, int hubPid)
{
    const bool needsHub = (vid == 0x1477 && pid == 0x1223) || (vid == 0x1314 && (pid == 0x1101 || pid == 0x1103)) ||
                          (vid == 0x0006 && pid == 0xBEEF);
    return !needsHub || (hubVid == kHubVid && hubPid == kHubPid);
}

CSkribNotifyBase* CSkribNotifyBase::CreateNotify(IBoardHost* host, const ManualDevice& manual)
{
    return new CSkribNotifyUdev(host, manual);
}

CSkribNotifyUdev::CSkribNotifyUdev(IBoardHost* host, const ManualDevice& manual)
    : CSkribNotifyBase(host), m_manual(manual)
{
}

CSkribNotifyUdev::~CSkribNotifyUdev()
{
    Stop();
}

bool CSkribNotifyUdev::Start()
{
    m_pUdev = udev_new();
    if (!m_pUdev)
        return false;
    // Events come from udevd once it has processed them; without udevd (a
    // container, a bare kernel) straight from the kernel.
    const char* source = access("/run/udev/control", F_OK) == 0 ? "udev" : "kernel";
    m_pMonitor = udev_monitor_new_from_netlink(m_pUdev, source);
    if (!m_pMonitor) {
        Stop();
        return false;
    }
    // Following USB boards, hidraw arrivals count too: the kernel announces a
    // USB device before it has made the hidraw nodes of its interfaces.
    if (FollowsUsb())
        udev_monitor_filter_add_match_subsystem_devtype(m_pMonitor, "usb", "usb_device");
    udev_monitor_filter_add_match_subsystem_devtype(m_pMonitor, "hidraw", nullptr);
    if (udev_monitor_enable_receiving(m_pMonitor) < 0) {
        SkribLog("hot-plug monitor: cannot receive %s device events", source);
        Stop();
        return false;
    }
    if (!m_thread.Start(udev_monitor_get_fd(m_pMonitor), [this](short revents) { return OnEvent(revents); },
                        [this] { Enumerate(); })) {
        Stop();
        return false;
    }
    return true;
}

void CSkribNotifyUdev::Stop()
{
    m_thread.Stop();
    if (m_pMonitor)
        udev_monitor_unref(m_pMonitor);
    m_pMonitor = nullptr;
    if (m_pUdev)
        udev_unref(m_pUdev);
    m_pUdev = nullptr;
}

// The devices present at start, on the monitor's thread.
void CSkribNotifyUdev::Enumerate()
{
    std::lock_guard<std::mutex> lock(m_eventLock);
    udev_enumerate* e = udev_enumerate_new(m_pUdev);
    if (FollowsUsb()) {
        udev_enumerate_add_match_subsystem(e, "usb");
        udev_enumerate_add_match_property(e, "DEVTYPE", "usb_device");
    } else {
        udev_enumerate_add_match_subsystem(e, "hidraw");
    }
    udev_enumerate_scan_devices(e);
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e))
    {
        udev_device* dev = udev_device_new_from_syspath(m_pUdev, udev_list_entry_get_name(entry));
        if (!dev)
            continue;
        if (!m_manual.node.empty())
            OnManual(dev, "add");
        else if (m_manual.matchHid)
            OnHid(dev, "add");
        else if (!m_bActive)
            OnProcess(dev);
        udev_device_unref(dev);
        ++m_handled;
    }
    udev_enumerate_unref(e);
}

bool CSkribNotifyUdev::OnEvent(short revents)
{
    if (revents & POLLERR) {
        SkribLog("hot-plug monitor: %s", strerror(errno));
        return false;
    }
    std::lock_guard<std::mutex> lock(m_eventLock);
    udev_device* dev = udev_monitor_receive_device(m_pMonitor);
    if (!dev)
        return true;
    const char* action = udev_device_get_action(dev);
    action = action ? action : "";
    if (!m_manual.node.empty()) {
        OnManual(dev, action);
    } else if (m_manual.matchHid) {
        OnHid(dev, action);
    } else if (strcmp(action, "add") == 0) {
        // While a board is served, arrivals are skipped for good. A new
        // hidraw node offers its USB device again: a board whose nodes were
        // not all there when the device itself arrived is served once they
        // are.
        if (!m_bActive)
            OnProcess(UsbDeviceOf(dev));
    } else if (strcmp(action, "remove") == 0 && m_bActive && m_servedSysPath == udev_device_get_syspath(dev)) {
        processRemove();
    }
    udev_device_unref(dev);
    ++m_handled;
    return true;
}

void CSkribNotifyUdev::OnProcess(udev_device* dev)
{
    if (m_bActive || !dev)
        return;
    int vid = 0, pid = 0;
    if (!ReadIds(dev, vid, pid))
        return;
    int hubVid = -1, hubPid = -1;
    if (udev_device* hub = udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device"))
        ReadIds(hub, hubVid, hubPid);
    if (!PassesHubRule(vid, pid, hubVid, hubPid)) {
        SkribLog("USB %04x:%04x below %04x:%04x: not in a supported position", vid, pid, hubVid & 0xFFFF,
                 hubPid & 0xFFFF);
        return;
    }
    uint32_t location = 0;
    if (!ReadLocation(dev, location))
        return;
    for (const tagDevice_Info& row : m_devices) {
        if (row.pid != pid || row.vid != vid)
            continue;
        tagDevice_Info info = row;
        memset(m_location, 0, sizeof m_location);
        snprintf(m_location, sizeof m_location, "%s", UsbLocationText(location).c_str());
        m_service = udev_device_get_syspath(dev);
        info.location = m_location;
        info.service = m_service.c_str();
        SkribLog("board %04x:%04x at %s (%s)", vid, pid, m_location, info.service);
        if (OnAdd(info)) {
            m_bActive = true;
            m_servedSysPath = m_service;
        }
        return; // only the first matching entry is tried
    }
}

void CSkribNotifyUdev::OnManual(udev_device* dev, const char* action)
{
    const char* node = udev_device_get_devnode(dev);
    if (!node || m_manual.node != node)
        return;
    if (strcmp(action, "add") == 0 && !m_bActive) {
        tagDevice_Info info;
        info.devType = DEVICE_HID;
        info.driverType = static_cast<tagDriverType>(m_manual.driverType);
        memset(m_location, 0, sizeof m_location);
        snprintf(m_location, sizeof m_location, "%s", node);
        m_service = node;
        info.location = m_location;
        info.service = m_service.c_str();
        SkribLog("board given by hand at %s, driver type %d", node, m_manual.driverType);
        if (OnAdd(info)) {
            m_bActive = true;
            m_servedSysPath = udev_device_get_syspath(dev);
        }
    } else if (strcmp(action, "remove") == 0 && m_bActive && m_servedSysPath == udev_device_get_syspath(dev)) {
        processRemove();
    }
}

void CSkribNotifyUdev::OnHid(udev_device* dev, const char* action)
{
    const char* sysPath = udev_device_get_syspath(dev);
    if (strcmp(action, "remove") == 0) {
        // The node is gone from sysfs: it is known by its path alone.
        if (m_bActive && m_servedSysPath == sysPath)
            processRemove();
        return;
    }
    if (strcmp(action, "add") != 0 || m_bActive)
        return;
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(dev, "hid", nullptr);
    int vid = 0, pid = 0;
    if (!hid || !ParseHidId(udev_device_get_property_value(hid, "HID_ID"), vid, pid))
        return;
    for (const tagDevice_Info& row : m_devices) {
        if (row.vid != vid || row.pid != pid || row.devType != DEVICE_HID)
            continue;
        tagDevice_Info info = row;
        memset(m_location, 0, sizeof m_location);
        snprintf(m_location, sizeof m_location, "%s", udev_device_get_sysname(hid));
        // The device finds its node below the HID device, as below a USB board.
        m_service = udev_device_get_syspath(hid);
        info.location = m_location;
        info.service = m_service.c_str();
        SkribLog("board %04x:%04x at HID device %s (matched by its HID identity)", vid, pid, m_location);
        if (OnAdd(info)) {
            m_bActive = true;
            m_servedSysPath = sysPath;
        }
        return; // only the first matching entry is tried
    }
}

bool CSkribNotifyUdev::processRemove()
{
    m_bActive = false;
    tagDevice_Info info;
    info.pid = info.vid = info.baudRate = 0;
    info.location = m_location;
    SkribLog("board at %s removed", m_location);
    return OnRemove(info);
}
