#include "MockBoard.h"

#include "SimIo.h"

#include <umockdev.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

const char* const kMockInputOnlyDescriptor = "0600ff0901a10185017508953f150026ff0009018102c0";
const char* const kMockInOutDescriptor = "0600ff0901a10185017508953f150026ff0009018102850209019102c0";

namespace {

const char* const kRoot = "/devices/pci0000:00/0000:00:14.0/usb1";
const char* const kHub = "/devices/pci0000:00/0000:00:14.0/usb1/1-1";
const char* const kBoard = "/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.3";

bool AddTree(UMockdevTestbed* testbed, const std::string& tree, std::string& error)
{
    GError* gerror = nullptr;
    if (umockdev_testbed_add_from_string(testbed, tree.c_str(), &gerror))
        return true;
    error = gerror ? gerror->message : "umockdev refused the device";
    if (gerror)
        g_error_free(gerror);
    return false;
}

// The options of a sanitizer without log_path (and, for AddressSanitizer,
// allowing its runtime to come after the preload).
void StripLogPath(const char* name)
{
    std::string kept = std::string(name) == "ASAN_OPTIONS" ? "verify_asan_link_order=0" : "";
    if (const char* old = getenv(name)) {
        std::string all = old;
        for (size_t start = 0; start <= all.size();) {
            size_t end = all.find(':', start);
            std::string option = all.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (!option.empty() && option.compare(0, 9, "log_path=") != 0)
                kept += (kept.empty() ? "" : ":") + option;
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
    }
    if (!kept.empty())
        setenv(name, kept.c_str(), 1);
}

} // namespace

bool RunUnderMockPreload(char** argv)
{
    if (getenv("SKRIB_UMOCKDEV_CHILD"))
        return true;
    std::string preload = "libumockdev-preload.so.0";
    if (const char* old = getenv("LD_PRELOAD"))
        preload = std::string(old) + ":" + preload;
    setenv("LD_PRELOAD", preload.c_str(), 1);
    for (const char* name : {"ASAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"})
        StripLogPath(name);
    setenv("SKRIB_UMOCKDEV_CHILD", "1", 1);
    execv("/proc/self/exe", argv);
    perror("execv");
    return false;
}

std::string MockUsbDevice(const std::string& path, const char* vid, const char* pid)
{
    return "P: " + path + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nA: idVendor=" + vid + "\nA: idProduct=" + pid +
           "\n\n";
}

std::string MockBoardTree(const std::string& path, const std::string& raw0, const std::string& raw1, int hidSerial,
                          const char* vid, const char* pid)
{
    std::string tree = MockUsbDevice(path, vid, pid);
    const std::string name = path.substr(path.rfind('/') + 1);
    const char* descriptors[2] = {kMockInputOnlyDescriptor, kMockInOutDescriptor};
    const std::string raws[2] = {raw0, raw1};
    for (int i = 0; i < 2; ++i) {
        std::string intf = path + "/" + name + ":1." + std::to_string(i);
        char hidName[40];
        snprintf(hidName, sizeof hidName, "0003:%s:%s.%04X", vid, pid, hidSerial + i);
        std::string hid = intf + "/" + hidName;
        tree += "P: " + intf + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceNumber=0" +
                std::to_string(i) + "\n\n";
        tree += "P: " + hid + "\nE: SUBSYSTEM=hid\nE: HID_ID=0003:0000" + vid + ":0000" + pid +
                "\nH: report_descriptor=" + descriptors[i] + "\n\n";
        tree += "P: " + hid + "/hidraw/" + raws[i] + "\nN: " + raws[i] + "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/" +
                raws[i] + "\n\n";
    }
    return tree;
}

CMockBoard::CMockBoard()
{
    m_testbed = umockdev_testbed_new();
    std::string error;
    if (!umockdev_in_mock_environment() || !getenv("SKRIB_UMOCKDEV_CHILD")) {
        fprintf(stderr, "mock bus: the program does not run under the mock's preload\n");
        g_object_unref(m_testbed);
        m_testbed = nullptr;
    } else if (!AddTree(m_testbed, MockUsbDevice(kRoot, "1d6b", "0002") + MockUsbDevice(kHub, "1314", "1055"), error)) {
        fprintf(stderr, "mock bus: %s\n", error.c_str());
        g_object_unref(m_testbed);
        m_testbed = nullptr;
    }
}

CMockBoard::~CMockBoard()
{
    if (m_testbed)
        g_object_unref(m_testbed);
}

const char* CMockBoard::BoardPath()
{
    return kBoard;
}

bool CMockBoard::Plug(std::string& error)
{
    if (!m_testbed || m_plugged) {
        error = m_testbed ? "the board is plugged in already" : "not under the mock's preload";
        return false;
    }
    DropDanglingLinks();
    m_raw0 = "hidraw" + std::to_string(2 * m_plugs);
    m_raw1 = "hidraw" + std::to_string(2 * m_plugs + 1);
    if (!AddTree(m_testbed, MockBoardTree(kBoard, m_raw0, m_raw1, 2 * m_plugs + 1), error))
        return false;
    m_raw1Node = "/dev/" + m_raw1;
    m_plugged = true;
    ++m_plugs;
    return true;
}

void CMockBoard::Unplug()
{
    if (!m_plugged)
        return;
    const std::string board = kBoard;
    char children[2][128];
    snprintf(children[0], sizeof children[0], "/1-1.3:1.1/0003:1477:1223.%04X/hidraw/%s", 2 * m_plugs, m_raw1.c_str());
    snprintf(children[1], sizeof children[1], "/1-1.3:1.0/0003:1477:1223.%04X/hidraw/%s", 2 * m_plugs - 1,
             m_raw0.c_str());
    for (const char* child : children) {
        const std::string path = "/sys" + board + child;
        umockdev_testbed_uevent(m_testbed, path.c_str(), "remove");
        umockdev_testbed_remove_device(m_testbed, path.c_str());
    }
    umockdev_testbed_uevent(m_testbed, ("/sys" + board).c_str(), "remove");
    umockdev_testbed_remove_device(m_testbed, ("/sys" + board).c_str());
    m_plugged = false;
}

// The mock leaves the bus and class links of removed devices behind, and
// adding a device whose link exists aborts: drop the dangling ones, as the
// kernel does when a device goes.
void CMockBoard::DropDanglingLinks()
{
    gchar* sys = umockdev_testbed_get_sys_dir(m_testbed);
    std::string cmd = std::string("find '") + sys + "/bus' '" + sys + "/class' -xtype l -delete 2>/dev/null";
    g_free(sys);
    if (system(cmd.c_str()) != 0)
        fprintf(stderr, "mock bus: stale links not dropped\n");
}

int CMockBoard::NodeFd() const
{
    return m_plugged ? umockdev_testbed_get_dev_fd(m_testbed, m_raw1Node.c_str()) : -1;
}

bool CMockBoard::Send(const SimBytes& bytes)
{
    const int fd = NodeFd();
    return fd >= 0 && CFdSink(fd).Write(bytes);
}
