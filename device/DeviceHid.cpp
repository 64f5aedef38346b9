#include "DeviceHid.h"

#include "HidQueue.h"
#include "SkribLog.h"

#include <chrono>
#include <cstring>
#include <thread>

int SelectHidInterface(int driverType, const std::vector<HidDescriptorSummary>& interfaces)
{
    SkribLog("dev count : %d", static_cast<int>(interfaces.size()));
    if (interfaces.empty()) {
        SkribLog("get zero device,return");
        return -1;
    }
    if (driverType != DRIVER_ZIW)
        return 0;
    for (size_t i = 0; i < interfaces.size(); ++i) {
        const HidDescriptorSummary& s = interfaces[i];
        SkribLog("HID Device %d has %d elements: %d input, %d output, %d feature, %d collection%s",
                 static_cast<int>(i), s.Elements(), s.inputs, s.outputs, s.features, s.collections,
                 s.malformed ? " (descriptor cut short)" : "");
        if (s.outputs > 0) {
            SkribLog("the ZIW device index : %d", static_cast<int>(i));
            return static_cast<int>(i);
        }
    }
    return -1;
}

CDeviceHid::CDeviceHid(const tagDevice_Info& info) : CDeviceBase(info)
{
    m_timeout = 1000;
    DATASIZE = HidReportSize(info.driverType);
}

CDeviceHid::~CDeviceHid()
{
    Close();
}

bool CDeviceHid::GetDevice()
{
    const std::string service = m_info.service ? m_info.service : "";
    std::vector<HidrawNode> nodes;
    if (service.compare(0, 5, "/dev/") == 0) {
        // A node given by hand is served as it is.
        HidrawNode node;
        if (!DescribeHidrawNode(service, node)) {
            SkribLog("%s is not a hidraw node known to udev", service.c_str());
            return false;
        }
        m_node = node;
        m_hidPaths = {node.hidSysPath};
        return true;
    }
    nodes = FindHidrawNodes(m_info.vid, m_info.pid, service);
    std::vector<HidDescriptorSummary> summaries;
    for (const HidrawNode& node : nodes)
        summaries.push_back(WalkHidDescriptor(node.descriptor.data(), node.descriptor.size()));
    int chosen = SelectHidInterface(m_info.driverType, summaries);
    if (chosen < 0)
        return false;
    m_node = nodes[static_cast<size_t>(chosen)];
    m_hidPaths.clear();
    for (const HidrawNode& node : nodes)
        m_hidPaths.push_back(node.hidSysPath);
    return true;
}

bool CDeviceHid::Open()
{
    if (!GetDevice())
        return false;
    std::unique_ptr<CHidrawPort> port(new CHidrawPort);
    if (!port->Open(m_node.devNode, m_hidPaths)) {
        SkribLog("open device failed: %s", m_node.devNode.c_str());
        return false;
    }
    SkribLog("open device successfully: %s", m_node.devNode.c_str());
    if (port->IsStream())
        m_pFramer.reset(new CReportFramer(DATASIZE));
    if (!port->StartReader([this](const unsigned char* data, size_t len) { OnBytes(data, len); })) {
        SkribLog("create read thread error");
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_portMutex);
        m_pPort = std::move(port);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return true;
}

// Reader thread: whole reports into the queue.
void CDeviceHid::OnBytes(const unsigned char* data, size_t len)
{
    if (m_pFramer)
        m_pFramer->Feed(data, len, [](const unsigned char* report, int n) { HidQueuePush(report, n); });
    else
        HidQueuePush(data, static_cast<int>(len)); // one report per read; other lengths are dropped
}

bool CDeviceHid::Init()
{
    HidQueueReset();
    unsigned char header[2];
    if (HidOutputHeader(m_info.driverType, header))
        memcpy(m_head, header, 2);
    m_bOpen = true;
    return true;
}

int CDeviceHid::ReadDirect(unsigned char* buf, int len)
{
    if (!m_bOpen)
        return -1;
    return HidQueueTake(buf, len, m_timeout);
}

int CDeviceHid::Read(unsigned char* buf, int len)
{
    unsigned char report[80];
    if (len < 0 || len > 78)
        return 0;
    int got = ReadDirect(report, len + 2);
    if (got != len + 2)
        return got;
    memcpy(buf, report + 2, static_cast<size_t>(len));
    return len;
}

int CDeviceHid::WriteDirect(const unsigned char* buf, int len)
{
    std::lock_guard<std::mutex> lock(m_portMutex);
    if (!m_bOpen || !m_pPort)
        return -1;
    return m_pPort->Write(buf, len) == len ? len : 0;
}

int CDeviceHid::Write(const unsigned char* buf, int len)
{
    if (!m_bOpen)
        return -1;
    if (len < 0 || len + 2 > kWriteBufSize)
        return 0;
    unsigned char report[kWriteBufSize];
    report[0] = m_head[0];
    report[1] = m_head[1];
    memcpy(report + 2, buf, static_cast<size_t>(len));
    int sent = WriteDirect(report, len + 2);
    return sent == len + 2 ? len : sent;
}

bool CDeviceHid::Present() const
{
    std::lock_guard<std::mutex> lock(m_portMutex);
    return m_pPort && !m_pPort->Gone();
}

void CDeviceHid::Close()
{
    std::lock_guard<std::mutex> lock(m_portMutex);
    if (!m_pPort && !m_bOpen)
        return;
    m_bOpen = false;
    HidQueueClose(); // wakes a reader of the queue, which then sees -1
    if (m_pPort)
        m_pPort->Close(); // joins the reader thread, the only user of the framer
    m_pPort.reset();
    m_pFramer.reset();
}
