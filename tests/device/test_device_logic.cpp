// Device logic from tables of bytes: the connect handshake, the receive
// queue, the report descriptor walker, report framing, interface choice,
// the bus position rule and the location id.
#include "DeviceBase.h"
#include "DeviceHid.h"
#include "HidDescriptor.h"
#include "HidQueue.h"
#include "ReportFramer.h"
#include "UsbLocation.h"
#include "UsbMonitor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// A device that answers reads from a script and records what is written.
class CScriptedDevice : public CDeviceBase
{
public:
    CScriptedDevice(tagDriverType type, std::deque<Bytes> replies) : CDeviceBase(MakeInfo(type)), m_replies(replies) {}
    explicit CScriptedDevice(const tagDevice_Info& info) : CDeviceBase(info) {}

    static tagDevice_Info MakeInfo(tagDriverType type)
    {
        tagDevice_Info info;
        info.driverType = type;
        info.location = "0x1130000";
        return info;
    }

    bool Open() override { return true; }
    bool Init() override { return true; }
    void Close() override { m_closed = true; }
    int Read(unsigned char* buf, int len) override
    {
        if (m_closed)
            return -1;
        if (m_replies.empty())
            return 0; // silence
        Bytes reply = m_replies.front();
        m_replies.pop_front();
        if (reply.empty()) {
            m_closed = true; // the script unplugs the board here
            return -1;
        }
        std::copy(reply.begin(), reply.begin() + len, buf);
        return len;
    }
    int Write(const unsigned char* buf, int len) override
    {
        m_writes.emplace_back(buf, buf + len);
        return len;
    }

    std::deque<Bytes> m_replies;
    std::vector<Bytes> m_writes;
    bool m_closed = false;
};

Bytes Reply(unsigned char a, unsigned char b)
{
    return Bytes{a, b, 0, 0, 0, 0, 0, 0};
}

TEST(ConnectHandshake, IdentifiesDetectedFamilies)
{
    const Bytes connect(CDeviceBase::CONNECT_DEVICE_CMD, CDeviceBase::CONNECT_DEVICE_CMD + 8);
    struct Case
    {
        const char* name;
        tagDriverType type;
        std::deque<Bytes> replies;
        bool result;
        tagDriverType typeAfter;
        bool hand;
        size_t writes;
    } cases[] = {
        {"ZIW needs no handshake", DRIVER_ZIW, {}, true, DRIVER_ZIW, false, 0},
        {"21 E5 CE", DRIVER_DETECT_KA_MO, {Reply(0xE5, 0xCE)}, true, DRIVER_KA, true, 1},
        {"21 C8 DA", DRIVER_DETECT_KA_MO, {Reply(0xC8, 0xDA)}, true, DRIVER_MO, false, 1},
        {"22 C8 ED", DRIVER_DETECT_KAD_MOD, {Reply(0xC8, 0xED)}, true, DRIVER_MOD, true, 1},
        {"22 E6 EF", DRIVER_DETECT_KAD_MOD, {Reply(0xE6, 0xEF)}, true, DRIVER_KAD, false, 1},
        {"23 E9 55", DRIVER_DETECT_KAPD, {Reply(0xE9, 0x55)}, true, DRIVER_KAPD1, true, 1},
        {"23 EA AF", DRIVER_DETECT_KAPD, {Reply(0xEA, 0xAF)}, true, DRIVER_KAPD2, false, 1},
        {"23 E5 CC stays", DRIVER_DETECT_KAPD, {Reply(0xE5, 0xCC)}, true, DRIVER_DETECT_KAPD, true, 1},
        {"first reply decides", DRIVER_DETECT_KA_MO, {Reply(0xC8, 0x00), Reply(0xE5, 0xEF)}, true, DRIVER_MO, false, 2},
        {"unknown code resends", DRIVER_DETECT_KA_MO, {Reply(0x00, 0xCE), Reply(0xE8, 0xA5)}, true, DRIVER_KA, true, 2},
        {"silence resends", DRIVER_DETECT_KA_MO, {}, false, DRIVER_DETECT_KA_MO, false, CHECK_DEV_TYPE_MAX_TRIES},
        {"unplugged", DRIVER_DETECT_KA_MO, {Reply(0x00, 0x00), Bytes()}, false, DRIVER_DETECT_KA_MO, false, 2},
    };
    for (const Case& c : cases) {
        // A silent board is given up after the bound; replies are instant here.
        CScriptedDevice device(c.type, c.replies);
        device.m_bHadHand = !c.hand; // must be overwritten
        EXPECT_EQ(c.result, device.CheckDevType()) << c.name;
        EXPECT_EQ(c.typeAfter, device.m_info.driverType) << c.name;
        if (c.result) {
            EXPECT_EQ(c.hand, device.m_bHadHand) << c.name;
        }
        ASSERT_EQ(c.writes, device.m_writes.size()) << c.name;
        for (const Bytes& written : device.m_writes)
            EXPECT_EQ(connect, written) << c.name;
    }
}

TEST(DeviceBase, FactoryAndLocationComparison)
{
    tagDevice_Info info;
    info.devType = static_cast<DeviceType>(3);
    EXPECT_EQ(nullptr, CDeviceBase::CreateDevice(info));

    char location[] = "0x1130000";
    tagDevice_Info mine = CScriptedDevice::MakeInfo(DRIVER_ZIW);
    mine.location = location;
    CScriptedDevice device(mine);
    location[2] = '2'; // the device keeps its own copy of the text
    tagDevice_Info other;
    other.vid = 0x9999;
    other.location = "0x1130000";
    EXPECT_TRUE(device.CheckDevInfo(other)) << "vendor ids do not matter";
    other.location = "0x1140000";
    EXPECT_FALSE(device.CheckDevInfo(other));
    other.location = nullptr;
    EXPECT_FALSE(device.CheckDevInfo(other));
}

class ReceiveQueue : public ::testing::Test
{
protected:
    void SetUp() override { HidQueueReset(); }
    void TearDown() override { DATASIZE = 8; }

    static Bytes Report(int size, int number)
    {
        Bytes report(static_cast<size_t>(size));
        for (int i = 0; i < size; ++i)
            report[static_cast<size_t>(i)] = static_cast<unsigned char>(number);
        return report;
    }
};

TEST_F(ReceiveQueue, KeepsWholeReportsAndPushesOutTheOldest)
{
    struct Case
    {
        int size, pushed, firstKept, keptCount;
    } cases[] = {
        {64, 17, 2, 16},   // reports 2 to 17: 1024 bytes
        {10, 103, 2, 102}, // the newest 102: a further 10 bytes would pass 1024
        {8, 5, 1, 5},
    };
    for (const Case& c : cases) {
        HidQueueReset();
        DATASIZE = c.size;
        for (int i = 1; i <= c.pushed; ++i) {
            Bytes report = Report(c.size, i);
            HidQueuePush(report.data(), c.size);
        }
        EXPECT_EQ(c.keptCount * c.size, g_bufLen) << c.size;
        EXPECT_EQ(0, g_buf[g_bufLen]);
        Bytes got(static_cast<size_t>(c.size));
        for (int k = 0; k < c.keptCount; ++k) {
            ASSERT_EQ(c.size, HidQueueTake(got.data(), c.size, 0));
            EXPECT_EQ(Report(c.size, c.firstKept + k), got) << c.size << " report " << k;
        }
        EXPECT_EQ(0, g_bufLen);
    }
}

TEST_F(ReceiveQueue, DropsReportsOfOtherLengths)
{
    DATASIZE = 64;
    Bytes shortReport = Report(63, 1), longReport = Report(65, 2), good = Report(64, 3);
    HidQueuePush(shortReport.data(), 63);
    HidQueuePush(longReport.data(), 65);
    HidQueuePush(good.data(), 64);
    Bytes got(64);
    ASSERT_EQ(64, g_bufLen);
    ASSERT_EQ(64, HidQueueTake(got.data(), 64, 0));
    EXPECT_EQ(good, got);
}

TEST_F(ReceiveQueue, WaitsOnceForAReport)
{
    DATASIZE = 64;
    Bytes got(64);
    using Clock = std::chrono::steady_clock;

    // Nothing comes: 0 after the wait.
    Clock::time_point start = Clock::now();
    EXPECT_EQ(0, HidQueueTake(got.data(), 64, 300));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(295));

    // A report that arrives during the wait is returned at once.
    Bytes report = Report(64, 9);
    std::thread producer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        HidQueuePush(report.data(), 64);
    });
    start = Clock::now();
    EXPECT_EQ(64, HidQueueTake(got.data(), 64, 5000));
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2500));
    producer.join();
    EXPECT_EQ(report, got);

    // Closing wakes the waiter, which reports -1.
    std::thread closer([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        HidQueueClose();
    });
    EXPECT_EQ(-1, HidQueueTake(got.data(), 64, 5000));
    closer.join();
}

TEST(HidDescriptor, CountsMainItems)
{
    struct Case
    {
        const char* name;
        Bytes desc;
        int inputs, outputs, features, collections;
        bool malformed;
    } cases[] = {
        // Usage page, usage, collection, report id 1, 64 x 8 bits input, end.
        {"input only",
         {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95, 0x3F, 0x15, 0x00, 0x26, 0xFF, 0x00,
          0x09, 0x01, 0x81, 0x02, 0xC0},
         1, 0, 0, 1, false},
        {"input and output",
         {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x02, 0x75, 0x08, 0x95, 0x3F, 0x09, 0x01, 0x81, 0x02, 0x09,
          0x01, 0x91, 0x02, 0xB1, 0x02, 0xC0},
         1, 1, 1, 1, false},
        {"long item skipped", {0xFE, 0x02, 0x10, 0x91, 0x02, 0x91, 0x02}, 0, 1, 0, 0, false},
        {"four-byte data", {0x27, 0xFF, 0xFF, 0x00, 0x00, 0x92, 0x02, 0x00}, 0, 1, 0, 0, false},
        {"cut short", {0x81, 0x02, 0x92, 0x02}, 1, 0, 0, 0, true},
        {"cut long item", {0xFE}, 0, 0, 0, 0, true},
        {"empty", {}, 0, 0, 0, 0, false},
    };
    for (const Case& c : cases) {
        HidDescriptorSummary s = WalkHidDescriptor(c.desc.data(), c.desc.size());
        EXPECT_EQ(c.inputs, s.inputs) << c.name;
        EXPECT_EQ(c.outputs, s.outputs) << c.name;
        EXPECT_EQ(c.features, s.features) << c.name;
        EXPECT_EQ(c.collections, s.collections) << c.name;
        EXPECT_EQ(c.malformed, s.malformed) << c.name;
    }
}

TEST(HidInterfaceChoice, ZiwNeedsAnOutputReport)
{
    HidDescriptorSummary inputOnly, withOutput;
    inputOnly.inputs = 1;
    withOutput.inputs = withOutput.outputs = 1;
    EXPECT_EQ(1, SelectHidInterface(DRIVER_ZIW, {inputOnly, withOutput}));
    EXPECT_EQ(0, SelectHidInterface(DRIVER_ZIW, {withOutput, inputOnly}));
    EXPECT_EQ(-1, SelectHidInterface(DRIVER_ZIW, {inputOnly, inputOnly}));
    EXPECT_EQ(0, SelectHidInterface(DRIVER_KA, {inputOnly, withOutput}));
    EXPECT_EQ(-1, SelectHidInterface(DRIVER_KA, {}));
}

TEST(ReportFramer, AssemblesWholeReportsFromAStream)
{
    std::vector<Bytes> reports;
    CReportFramer framer(4);
    auto collect = [&](const unsigned char* r, int n) { reports.emplace_back(r, r + n); };
    const Bytes stream = {1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4};
    // Merged and split in every way: one call, then pieces of 3, 5 and 6.
    framer.Feed(stream.data(), 10, collect);
    framer.Feed(stream.data() + 10, 4, collect);
    ASSERT_EQ(3u, reports.size());
    EXPECT_EQ(Bytes({1, 1, 1, 1}), reports[0]);
    EXPECT_EQ(Bytes({2, 2, 2, 2}), reports[1]);
    EXPECT_EQ(Bytes({3, 3, 3, 3}), reports[2]);
    const Bytes rest = {4, 4};
    framer.Feed(rest.data(), 2, collect);
    ASSERT_EQ(4u, reports.size());
    EXPECT_EQ(Bytes({4, 4, 4, 4}), reports[3]);
}

TEST(BusPosition, HubRuleAndLocationText)
{
    struct HubCase
    {
        int vid, pid, hubVid, hubPid;
        bool passes;
    } hubCases[] = {
        {0x1477, 0x1223, 0x1314, 0x1055, true},  {0x1477, 0x1223, 0x1d6b, 0x0002, false},
        {0x1477, 0x1223, -1, -1, false},         {0x1314, 0x1101, 0x1314, 0x1055, true},
        {0x1314, 0x1103, 0x1d6b, 0x0002, false}, {0x0006, 0xBEEF, 0x1314, 0x1056, false},
        {0x046d, 0xc077, 0x1d6b, 0x0002, true}, // any other device: no rule
    };
    for (const HubCase& c : hubCases)
        EXPECT_EQ(c.passes, PassesHubRule(c.vid, c.pid, c.hubVid, c.hubPid)) << std::hex << c.vid << ":" << c.pid;

    struct LocationCase
    {
        const char* sysName;
        bool valid;
        const char* text;
    } locationCases[] = {
        {"1-1.3", true, "0x1130000"},  {"1-1", true, "0x1100000"},   {"3-2.4.1", true, "0x3241000"},
        {"2-10", true, "0x2a00000"},   {"usb1", false, ""},          {"1-1.3:1.0", false, ""},
        {"1-", false, ""},             {"", false, ""},
    };
    for (const LocationCase& c : locationCases) {
        int bus = 0;
        std::vector<int> ports;
        ASSERT_EQ(c.valid, ParseUsbSysName(c.sysName, bus, ports)) << c.sysName;
        if (c.valid) {
            EXPECT_EQ(c.text, UsbLocationText(UsbLocationId(bus, ports))) << c.sysName;
        }
    }
    EXPECT_EQ(0x01130000u, UsbLocationId(1, {1, 3}));
    EXPECT_EQ("0xfa", UsbLocationText(0xFA));
}

} // namespace

namespace {

// Every board of the device table has its access and input rules.
TEST(UdevRule, CoversEveryBoardOfTheTable)
{
    std::ifstream in(SKRIB_SOURCE_DIR "/platform/linux/udev/70-skribziw.rules");
    ASSERT_TRUE(in.good());
    std::string rules((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    class CTable : public CSkribNotifyBase
    {
    public:
        CTable() : CSkribNotifyBase(nullptr) {}
        bool Start() override { return false; }
        void Stop() override {}
    } table;
    ASSERT_TRUE(table.Init());
    ASSERT_FALSE(table.Devices().empty());
    for (const tagDevice_Info& board : table.Devices()) {
        char id[32];
        snprintf(id, sizeof id, "KERNELS==\"0003:%04X:%04X.*\"", board.vid, board.pid);
        EXPECT_NE(std::string::npos, rules.find(std::string("SUBSYSTEM==\"hidraw\", ") + id + ", TAG+=\"uaccess\""))
            << id;
        EXPECT_NE(std::string::npos,
                  rules.find(std::string("SUBSYSTEM==\"input\", ") + id +
                             ", TAG+=\"uaccess\", ENV{LIBINPUT_IGNORE_DEVICE}=\"1\""))
            << id;
    }
}

} // namespace
