// A board attached as a USB HID device, through its hidraw node.
#pragma once

#include "DeviceBase.h"
#include "HidDescriptor.h"
#include "HidRaw.h"
#include "ReportFramer.h"

#include <memory>
#include <mutex>
#include <vector>

// The interface to serve among a board's HID interfaces (in interface
// order): for DRIVER_ZIW the first that declares an output report, for other
// types the first. -1 when there is none.
int SelectHidInterface(int driverType, const std::vector<HidDescriptorSummary>& interfaces);

class CDeviceHid : public CDeviceBase
{
public:
    explicit CDeviceHid(const tagDevice_Info& info);
    ~CDeviceHid() override;

    bool GetDevice();
    bool Open() override;
    bool Init() override;
    void Close() override;
    int Read(unsigned char* buf, int len) override;
    int Write(const unsigned char* buf, int len) override;
    int ReadDirect(unsigned char* buf, int len) override;
    int WriteDirect(const unsigned char* buf, int len) override;
    bool Present() const override;

    unsigned char m_head[8] = {};

private:
    void OnBytes(const unsigned char* data, size_t len);

    HidrawNode m_node;                    // the chosen interface
    std::vector<std::string> m_hidPaths;  // all HID interfaces of the board
    std::unique_ptr<CHidrawPort> m_pPort;
    std::unique_ptr<CReportFramer> m_pFramer;
    // Guards m_pPort against Close while another thread writes: one output
    // report at a time, and none after Close.
    mutable std::mutex m_portMutex;
    static constexpr int kWriteBufSize = 80; // header and payload of one Write
};
