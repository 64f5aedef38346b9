#include "HidRaw.h"

#include "SkribLog.h"

#include <libudev.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

bool ParseHidId(const char* hidId, int& vid, int& pid)
{
    unsigned bus = 0, v = 0, p = 0;
    if (!hidId || sscanf(hidId, "%x:%x:%x", &bus, &v, &p) != 3)
        return false;
    vid = static_cast<int>(v);
    pid = static_cast<int>(p);
    return true;
}

namespace {

std::vector<unsigned char> ReadDescriptor(const std::string& hidSysPath, const std::string& devNode)
{
    std::vector<unsigned char> bytes;
    // The sysfs file holds binary data: read it whole, not as a text attribute.
    int fd = open((hidSysPath + "/report_descriptor").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        unsigned char buf[HID_MAX_DESCRIPTOR_SIZE];
        ssize_t n = read(fd, buf, sizeof buf);
        close(fd);
        if (n > 0)
            return std::vector<unsigned char>(buf, buf + n);
    }
    fd = open(devNode.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return bytes;
    int size = 0;
    hidraw_report_descriptor desc;
    if (ioctl(fd, HIDIOCGRDESCSIZE, &size) == 0 && size > 0 && size <= HID_MAX_DESCRIPTOR_SIZE) {
        desc.size = static_cast<__u32>(size);
        if (ioctl(fd, HIDIOCGRDESC, &desc) == 0)
            bytes.assign(desc.value, desc.value + desc.size);
    }
    close(fd);
    return bytes;
}

// Fills `node` from a hidraw udev device; false when it has no hid parent.
bool Describe(udev_device* hidraw, HidrawNode& node, int* vid, int* pid)
{
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
    const char* devNode = udev_device_get_devnode(hidraw);
    if (!hid || !devNode)
        return false;
    int v = 0, p = 0;
    if (!ParseHidId(udev_device_get_property_value(hid, "HID_ID"), v, p))
        return false;
    if (vid)
        *vid = v;
    if (pid)
        *pid = p;
    node.devNode = devNode;
    node.hidSysPath = udev_device_get_syspath(hid);
    node.interfaceNumber = -1;
    if (udev_device* intf = udev_device_get_parent_with_subsystem_devtype(hidraw, "usb", "usb_interface")) {
        const char* number = udev_device_get_sysattr_value(intf, "bInterfaceNumber");
        if (number)
            node.interfaceNumber = static_cast<int>(strtol(number, nullptr, 16));
    }
    node.descriptor = ReadDescriptor(node.hidSysPath, node.devNode);
    return true;
}

bool Below(const std::string& path, const std::string& ancestor)
{
    return path.size() > ancestor.size() && path.compare(0, ancestor.size(), ancestor) == 0 &&
           path[ancestor.size()] == '/';
}

// Calls `visit` for every device of `subsystem` that udev knows.
void ForEachDevice(const char* subsystem, const std::function<void(udev_device*)>& visit)
{
    udev* u = udev_new();
    if (!u)
        return;
    udev_enumerate* e = udev_enumerate_new(u);
    udev_enumerate_add_match_subsystem(e, subsystem);
    udev_enumerate_scan_devices(e);
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e))
    {
        udev_device* dev = udev_device_new_from_syspath(u, udev_list_entry_get_name(entry));
        if (!dev)
            continue;
        visit(dev);
        udev_device_unref(dev);
    }
    udev_enumerate_unref(e);
    udev_unref(u);
}

// Event nodes that the kernel made for any of the HID devices.
std::vector<std::string> EventNodesBelow(const std::vector<std::string>& hidSysPaths)
{
    std::vector<std::string> nodes;
    ForEachDevice("input", [&](udev_device* dev) {
        const char* devNode = udev_device_get_devnode(dev);
        if (!devNode || strncmp(devNode, "/dev/input/event", 16) != 0)
            return;
        for (const std::string& hid : hidSysPaths)
            if (Below(udev_device_get_syspath(dev), hid))
                nodes.push_back(devNode);
    });
    return nodes;
}

} // namespace

std::vector<HidrawNode> FindHidrawNodes(int vid, int pid, const std::string& usbSysPath)
{
    std::vector<HidrawNode> nodes;
    ForEachDevice("hidraw", [&](udev_device* dev) {
        if (!usbSysPath.empty() && !Below(udev_device_get_syspath(dev), usbSysPath))
            return;
        HidrawNode node;
        int v = 0, p = 0;
        if (Describe(dev, node, &v, &p) && v == vid && p == pid)
            nodes.push_back(node);
    });
    // Interface order; nodes without a USB interface keep their sysfs order.
    std::stable_sort(nodes.begin(), nodes.end(), [](const HidrawNode& a, const HidrawNode& b) {
        return a.interfaceNumber != b.interfaceNumber ? a.interfaceNumber < b.interfaceNumber
                                                      : a.hidSysPath < b.hidSysPath;
    });
    return nodes;
}

bool DescribeHidrawNode(const std::string& devNode, HidrawNode& node)
{
    bool found = false;
    ForEachDevice("hidraw", [&](udev_device* dev) {
        const char* name = udev_device_get_devnode(dev);
        if (!found && name && devNode == name)
            found = Describe(dev, node, nullptr, nullptr);
    });
    return found;
}

CHidrawPort::~CHidrawPort()
{
    Close();
}

bool CHidrawPort::Open(const std::string& devNode, const std::vector<std::string>& hidSysPaths)
{
    Close();
    m_fd = open(devNode.c_str(), O_RDWR | O_CLOEXEC);
    if (m_fd < 0) {
        int err = errno;
        SkribLog("open %s: %s%s", devNode.c_str(), strerror(err),
                 err == EACCES ? " (install the driver's udev rule, or run as a user with access)" : "");
        return false;
    }
    m_bGone = false;
    // A pseudo-terminal stands in for a node in tests: a raw byte stream.
    m_bStream = isatty(m_fd);
    if (m_bStream) {
        termios raw;
        if (tcgetattr(m_fd, &raw) == 0) {
            cfmakeraw(&raw);
            tcsetattr(m_fd, TCSANOW, &raw);
        }
    }
    for (const std::string& eventNode : EventNodesBelow(hidSysPaths)) {
        int fd = open(eventNode.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0 && ioctl(fd, EVIOCGRAB, 1) == 0) {
            m_grabbed.push_back(fd);
            continue;
        }
        SkribLog("cannot hold %s for the driver (%s): the board may also move the pointer through the kernel",
                 eventNode.c_str(), strerror(errno));
        if (fd >= 0)
            close(fd);
    }
    return true;
}

bool CHidrawPort::StartReader(BytesHandler onBytes)
{
    if (m_fd < 0)
        return false;
    return m_reader.Start(m_fd, [this, onBytes = std::move(onBytes)](short revents) {
        if (revents & POLLIN) {
            unsigned char buf[4096];
            ssize_t n = read(m_fd, buf, sizeof buf);
            if (n > 0) {
                onBytes(buf, static_cast<size_t>(n));
                return true;
            }
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                return true;
        } else if (!(revents & (POLLHUP | POLLERR | POLLNVAL))) {
            return true;
        }
        m_bGone = true; // EIO, ENODEV, end of file or a hang-up: the board is gone
        return false;
    });
}

int CHidrawPort::Write(const unsigned char* data, int len)
{
    if (m_fd < 0 || len <= 0)
        return -1;
    ssize_t n;
    do {
        n = write(m_fd, data, static_cast<size_t>(len));
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

void CHidrawPort::Close()
{
    m_reader.Stop();
    for (int fd : m_grabbed) {
        ioctl(fd, EVIOCGRAB, 0);
        close(fd);
    }
    m_grabbed.clear();
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}
