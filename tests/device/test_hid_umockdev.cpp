// The HID kind and the hot-plug monitor end to end on a mock sysfs and /dev
// (umockdev): a board below the right hub is found, opened on the interface
// with an output report, read and written through its hidraw node, and its
// removal is noticed; boards in the wrong place, or a second board, are not
// taken.
#include "DeviceHid.h"
#include "MockBoard.h"
#include "NotifyBase.h"
#include "UsbMonitor.h"

#include <gtest/gtest.h>

#include <umockdev.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

bool WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

const char* const kRoot = "/devices/pci0000:00/0000:00:14.0/usb1";

std::string UsbDevice(const std::string& path, const char* vid, const char* pid)
{
    return MockUsbDevice(path, vid, pid);
}

std::string Board(const std::string& path, const std::string& raw0, const std::string& raw1, int hidSerial)
{
    return MockBoardTree(path, raw0, raw1, hidSerial);
}

// Stands in for the application: takes the device as a work thread would,
// and closes it when the board is taken away.
class CRecordingHost : public IBoardHost
{
public:
    ~CRecordingHost() override
    {
        for (CDeviceBase* d : m_devices)
            delete d;
    }
    bool CreateWorkThread(int driverType, CDeviceBase* device) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_devices.push_back(device);
        m_types.push_back(driverType);
        m_locations.push_back(device->Location());
        return true;
    }
    bool DestoryWorkThread(const tagDevice_Info& info) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_removed.push_back(info.location ? info.location : "");
        for (CDeviceBase* d : m_devices)
            if (d->CheckDevInfo(info) && d->m_bOpen) {
                d->Close();
                return true;
            }
        return false;
    }
    size_t Added()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_devices.size();
    }
    size_t Removed()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_removed.size();
    }

    std::mutex m_mutex;
    std::vector<CDeviceBase*> m_devices;
    std::vector<int> m_types;
    std::vector<std::string> m_locations, m_removed;
};

class HidBoardTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_testbed = umockdev_testbed_new();
        ASSERT_TRUE(umockdev_in_mock_environment());
        Add(UsbDevice(kRoot, "1d6b", "0002"));
    }

    void TearDown() override
    {
        m_monitor.reset();
        g_object_unref(m_testbed);
    }

    // The mock's preload keeps some of its state in unlocked static buffers:
    // changing the tree while the monitor thread reads it can send a lookup
    // to the real /sys. Every change is made under the monitor's event lock.
    std::unique_lock<std::mutex> TreeLock()
    {
        return m_monitor ? std::unique_lock<std::mutex>(m_monitor->EventLock()) : std::unique_lock<std::mutex>();
    }

    void Add(const std::string& tree)
    {
        std::unique_lock<std::mutex> lock = TreeLock();
        GError* error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(m_testbed, tree.c_str(), &error))
            << (error ? error->message : "") << "\n" << tree;
    }

    // The mock leaves the bus and class links of removed devices behind, and
    // adding a device whose link exists aborts: drop the dangling ones, as
    // the kernel does when a device goes.
    void DropDanglingLinks()
    {
        std::unique_lock<std::mutex> lock = TreeLock();
        gchar* sys = umockdev_testbed_get_sys_dir(m_testbed);
        std::string cmd = std::string("find '") + sys + "/bus' '" + sys + "/class' -xtype l -delete 2>/dev/null";
        g_free(sys);
        ASSERT_EQ(0, system(cmd.c_str()));
    }

    void Uevent(const std::string& path, const char* action)
    {
        std::unique_lock<std::mutex> lock = TreeLock();
        umockdev_testbed_uevent(m_testbed, ("/sys" + path).c_str(), action);
    }

    void Remove(const std::string& path)
    {
        std::unique_lock<std::mutex> lock = TreeLock();
        umockdev_testbed_remove_device(m_testbed, ("/sys" + path).c_str());
    }

    void StartMonitor(const ManualDevice& manual = ManualDevice())
    {
        m_monitor.reset(new CSkribNotifyUdev(&m_host, manual));
        ASSERT_TRUE(m_monitor->Init());
        ASSERT_TRUE(m_monitor->Start());
    }

    // The test's end of a mock node.
    int NodeFd(const std::string& node) { return umockdev_testbed_get_dev_fd(m_testbed, node.c_str()); }

    Bytes ReadNode(int fd, size_t count, int timeoutMs)
    {
        Bytes got;
        Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < count && Clock::now() < deadline) {
            pollfd pfd = {fd, POLLIN, 0};
            if (poll(&pfd, 1, 50) == 1) {
                unsigned char buf[256];
                ssize_t n = read(fd, buf, std::min(sizeof buf, count - got.size()));
                if (n > 0)
                    got.insert(got.end(), buf, buf + n);
            }
        }
        return got;
    }

    void WriteNode(int fd, const Bytes& bytes) { ASSERT_EQ(ssize_t(bytes.size()), write(fd, bytes.data(), bytes.size())); }

    UMockdevTestbed* m_testbed = nullptr;
    CRecordingHost m_host;
    std::unique_ptr<CSkribNotifyUdev> m_monitor;
};

// Reads one report as a work thread does: a read that finds nothing within
// its wait is silence, and the next read goes on waiting (a loaded machine
// may take longer than one wait to pass a report through).
int ReadReport(CDeviceBase* device, Bytes& report, int timeoutMs = 10000)
{
    report.assign(64, 0);
    int got = 0;
    WaitFor([&] { return (got = device->ReadDirect(report.data(), 64)) != 0; }, timeoutMs);
    return got;
}

Bytes Report(unsigned char id, unsigned char seq)
{
    Bytes report(64, 0);
    report[0] = id;
    report[1] = seq;
    report[63] = static_cast<unsigned char>(0xFF - seq);
    return report;
}

TEST_F(HidBoardTest, BoardBelowHubIsServedOnItsOutputInterface)
{
    const std::string hub = std::string(kRoot) + "/1-1";
    const std::string board = hub + "/1-1.3";
    Add(UsbDevice(hub, "1314", "1055"));
    Add(Board(board, "hidraw0", "hidraw1", 1));
    StartMonitor();

    ASSERT_TRUE(WaitFor([&] { return m_host.Added() == 1; }, 10000));
    EXPECT_EQ("0x1130000", m_host.m_locations[0]);
    EXPECT_EQ(DRIVER_ZIW, m_host.m_types[0]);
    CDeviceBase* device = m_host.m_devices[0];
    EXPECT_STREQ(("/sys" + board).c_str(), device->Info().service);

    // Reports written at the second interface's node arrive in order, whole,
    // even when they travel merged in one write.
    int raw0 = NodeFd("/dev/hidraw0"), raw1 = NodeFd("/dev/hidraw1");
    ASSERT_GE(raw1, 0);
    Bytes merged;
    for (unsigned char seq = 1; seq <= 3; ++seq) {
        Bytes r = Report(0x02, seq);
        merged.insert(merged.end(), r.begin(), r.end());
    }
    WriteNode(raw1, merged);
    WriteNode(raw0, Report(0x01, 9)); // the other interface is not served
    WriteNode(raw1, Report(0x02, 4));
    for (unsigned char seq = 1; seq <= 4; ++seq) {
        Bytes got;
        ASSERT_EQ(64, ReadReport(device, got)) << int(seq);
        EXPECT_EQ(Report(0x02, seq), got);
    }

    // Silence: 0 after the one-second wait.
    Clock::time_point start = Clock::now();
    Bytes got(64);
    EXPECT_EQ(0, device->ReadDirect(got.data(), 64));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(990));

    // Output reports reach the board's end of the node byte for byte.
    Bytes connect(64, 0);
    connect[0] = 0x02;
    connect[1] = connect[2] = 0x01;
    EXPECT_EQ(64, device->WriteDirect(connect.data(), 64));
    EXPECT_EQ(connect, ReadNode(raw1, 64, 3000));
    EXPECT_EQ(8, device->WriteConnect());
    Bytes headerless = {0x00, 0x00, 0xCE, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(headerless, ReadNode(raw1, 10, 3000)) << "no output header for the ZIW board";
}

TEST_F(HidBoardTest, BoardsInOtherPlacesAreNotTaken)
{
    const std::string hub = std::string(kRoot) + "/1-1";
    Add(UsbDevice(hub, "1314", "1055"));
    Add(UsbDevice(hub + "/1-1.2", "1314", "1101")); // passes the hub rule, not in the table
    Add(Board(std::string(kRoot) + "/1-2", "hidraw0", "hidraw1", 1)); // on a root port
    StartMonitor();
    // Wait until the monitor has looked at every device present (root, hub,
    // the 1101 device, the board), then some time for a wrong OnAdd to show.
    ASSERT_TRUE(WaitFor([&] { return m_monitor->Handled() >= 4; }, 10000));
    EXPECT_FALSE(WaitFor([&] { return m_host.Added() > 0; }, 1500));
}

// The kernel announces a USB device before its interfaces have hidraw
// nodes; a board whose nodes come after the settling wait is served when
// they arrive.
TEST_F(HidBoardTest, BoardIsServedWhenItsNodesArriveAfterTheDevice)
{
    const std::string hub = std::string(kRoot) + "/1-1";
    const std::string board = hub + "/1-1.3";
    Add(UsbDevice(hub, "1314", "1055"));
    StartMonitor();
    ASSERT_TRUE(WaitFor([&] { return m_monitor->Handled() >= 2; }, 10000));

    Add(UsbDevice(board, "1477", "1223"));
    ASSERT_TRUE(WaitFor([&] { return m_monitor->Handled() >= 3; }, 10000));
    EXPECT_EQ(0u, m_host.Added()) << "no node to open yet";

    const std::string tree = Board(board, "hidraw0", "hidraw1", 1);
    const size_t children = tree.find("\n\n"); // after the USB device's paragraph
    ASSERT_NE(std::string::npos, children);
    Add(tree.substr(children + 2)); // the interfaces and their nodes
    ASSERT_TRUE(WaitFor([&] { return m_host.Added() == 1; }, 10000));
    EXPECT_EQ("0x1130000", m_host.m_locations[0]);
    WriteNode(NodeFd("/dev/hidraw1"), Report(0x02, 1));
    Bytes got;
    ASSERT_EQ(64, ReadReport(m_host.m_devices[0], got));
    EXPECT_EQ(Report(0x02, 1), got);
}

TEST_F(HidBoardTest, UnplugReplugAndASecondBoard)
{
    const std::string hub = std::string(kRoot) + "/1-1";
    const std::string board = hub + "/1-1.3";
    Add(UsbDevice(hub, "1314", "1055"));
    StartMonitor();
    ASSERT_TRUE(WaitFor([&] { return m_monitor->Handled() >= 2; }, 10000));

    // Plugged in after start (adding a device announces it): the USB device
    // and its two hidraw nodes are three events.
    Add(Board(board, "hidraw0", "hidraw1", 1));
    ASSERT_TRUE(WaitFor([&] { return m_monitor->Handled() >= 5; }, 10000));
    ASSERT_EQ(1u, m_host.Added());
    CDeviceBase* first = m_host.m_devices[0];

    // A second board while one is served does nothing.
    const std::string second = hub + "/1-1.4";
    Add(Board(second, "hidraw2", "hidraw3", 3));
    ASSERT_TRUE(WaitFor([&] { return m_monitor->Handled() >= 8; }, 10000));
    EXPECT_EQ(1u, m_host.Added());

    // Unplug: children first, the remove event before the removal.
    const char* children[] = {"/1-1.3:1.1/0003:1477:1223.0002/hidraw/hidraw1",
                              "/1-1.3:1.0/0003:1477:1223.0001/hidraw/hidraw0"};
    for (const char* child : children) {
        Uevent(board + child, "remove");
        Remove(board + child);
    }
    Uevent(board, "remove");
    Remove(board);
    ASSERT_TRUE(WaitFor([&] { return m_host.Removed() == 1; }, 10000));
    EXPECT_EQ("0x1130000", m_host.m_removed[0]);
    EXPECT_FALSE(m_monitor->IsActive());

    // Every operation of the closed device now reports -1.
    unsigned char buf[64] = {};
    EXPECT_EQ(-1, first->ReadDirect(buf, 64));
    EXPECT_EQ(-1, first->WriteDirect(buf, 64));
    EXPECT_EQ(-1, first->Read(buf, 8));
    EXPECT_EQ(-1, first->Write(buf, 8));
    first->Close(); // a second close does nothing

    // The second board, plugged in while the first was served, is not
    // revisited; the first, plugged in again with new node names, is served.
    DropDanglingLinks();
    Add(Board(board, "hidraw4", "hidraw5", 5));
    ASSERT_TRUE(WaitFor([&] { return m_host.Added() == 2; }, 10000));
    EXPECT_EQ("0x1130000", m_host.m_locations[1]);
    CDeviceBase* again = m_host.m_devices[1];
    WriteNode(NodeFd("/dev/hidraw5"), Report(0x02, 7));
    Bytes got;
    ASSERT_EQ(64, ReadReport(again, got));
    EXPECT_EQ(Report(0x02, 7), got);
    EXPECT_EQ(1u, m_host.Removed());
}

TEST_F(HidBoardTest, NodeGivenByHandIsServedWithoutUsbParent)
{
    // A HID device without a USB parent, as a virtual (uhid) board has.
    const std::string hid = "/devices/virtual/misc/uhid/0003:1477:1223.0007";
    const std::string raw = hid + "/hidraw/hidraw7";
    const std::string tree = "P: " + hid + "\nE: SUBSYSTEM=hid\nE: HID_ID=0003:00001477:00001223\nH: report_descriptor=" +
                             kMockInOutDescriptor + "\n\nP: " + raw +
                             "\nN: hidraw7\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/hidraw7\n\n";
    Add(tree);
    ManualDevice manual;
    manual.node = "/dev/hidraw7";
    manual.driverType = DRIVER_ZIW;
    StartMonitor(manual);

    ASSERT_TRUE(WaitFor([&] { return m_host.Added() == 1; }, 10000));
    EXPECT_EQ("/dev/hidraw7", m_host.m_locations[0]);
    CDeviceBase* device = m_host.m_devices[0];
    WriteNode(NodeFd("/dev/hidraw7"), Report(0x02, 1));
    Bytes got;
    ASSERT_EQ(64, ReadReport(device, got));
    EXPECT_EQ(Report(0x02, 1), got);

    Uevent(raw, "remove");
    Remove(raw);
    ASSERT_TRUE(WaitFor([&] { return m_host.Removed() == 1; }, 10000));
    EXPECT_EQ("/dev/hidraw7", m_host.m_removed[0]);
    EXPECT_EQ(-1, device->ReadDirect(got.data(), 64));
}

// --match-hid: boards without a USB parent, found by the HID identity of
// their hidraw node's HID device, followed through unplug and replug.
TEST_F(HidBoardTest, BoardWithoutUsbParentIsFollowedByItsHidIdentity)
{
    const auto uhidBoard = [](const std::string& hid, const std::string& raw, const char* hidId) {
        return "P: " + hid + "\nE: SUBSYSTEM=hid\nE: HID_ID=0003:" + hidId +
               "\nH: report_descriptor=" + kMockInOutDescriptor + "\n\nP: " + hid + "/hidraw/" + raw + "\nN: " + raw +
               "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/" + raw + "\n\n";
    };
    const std::string uhid = "/devices/virtual/misc/uhid/";
    Add(uhidBoard(uhid + "0003:1477:9999.0005", "hidraw5", "00001477:00009999")); // not in the table
    const std::string hid = uhid + "0003:1477:1223.0007";
    Add(uhidBoard(hid, "hidraw7", "00001477:00001223"));
    ManualDevice byHid;
    byHid.matchHid = true;
    StartMonitor(byHid);

    ASSERT_TRUE(WaitFor([&] { return m_host.Added() == 1; }, 10000));
    EXPECT_EQ("0003:1477:1223.0007", m_host.m_locations[0]);
    CDeviceBase* device = m_host.m_devices[0];
    EXPECT_STREQ(("/sys" + hid).c_str(), device->Info().service);
    WriteNode(NodeFd("/dev/hidraw7"), Report(0x02, 1));
    Bytes got;
    ASSERT_EQ(64, ReadReport(device, got));
    EXPECT_EQ(Report(0x02, 1), got);

    Uevent(hid + "/hidraw/hidraw7", "remove");
    Remove(hid + "/hidraw/hidraw7");
    Remove(hid);
    ASSERT_TRUE(WaitFor([&] { return m_host.Removed() == 1; }, 10000));
    EXPECT_EQ("0003:1477:1223.0007", m_host.m_removed[0]);
    EXPECT_FALSE(m_monitor->IsActive());

    // Plugged in again, as the kernel does it: a new HID device and node.
    DropDanglingLinks();
    Add(uhidBoard(uhid + "0003:1477:1223.0008", "hidraw8", "00001477:00001223"));
    ASSERT_TRUE(WaitFor([&] { return m_host.Added() == 2; }, 10000));
    EXPECT_EQ("0003:1477:1223.0008", m_host.m_locations[1]);
    WriteNode(NodeFd("/dev/hidraw8"), Report(0x02, 2));
    ASSERT_EQ(64, ReadReport(m_host.m_devices[1], got));
    EXPECT_EQ(Report(0x02, 2), got);
}

} // namespace
