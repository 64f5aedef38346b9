#include "ZiwReportEncoder.h"

#include <algorithm>

namespace {

void Put16(SimBytes& report, int offset, int value)
{
    const int v = std::clamp(value, 0, 0xFFFF);
    report[offset] = static_cast<std::uint8_t>(v & 0xFF);
    report[offset + 1] = static_cast<std::uint8_t>(v >> 8);
}

} // namespace

SimBytes CZiwReportEncoder::Encode(const SimFrame& frame) const
{
    SimBytes report(kReportSize, 0);
    report[0] = kReportId;
    const size_t count = std::min<size_t>(frame.contacts.size(), MaxContacts());
    for (size_t i = 0; i < count; ++i) {
        const SimContact& c = frame.contacts[i];
        const int at = kContactOffset[i];
        int status = c.down ? kTouching : kNotTouching;
        if (c.rawStatus >= 0)
            status = std::min(c.rawStatus, 0xFF);
        report[at] = static_cast<std::uint8_t>(status);
        Put16(report, at + 2, c.pos.x);
        Put16(report, at + 4, c.pos.y);
        Put16(report, at + 6, c.size1);
        Put16(report, at + 8, c.size2);
    }
    return report;
}

SimBytes CZiwReportEncoder::ConnectCommand()
{
    SimBytes command(kReportSize, 0);
    command[0] = kOutputReportId; // the output report id
    command[1] = 0x01;
    command[2] = 0x01;
    return command;
}

bool CZiwReportEncoder::IsConnectCommand(const SimBytes& report) const
{
    return report == ConnectCommand();
}

SimBytes CZiwReportEncoder::HidReportDescriptor()
{
    constexpr std::uint8_t kPayload = kReportSize - 1; // bytes after the report id
    return {
        0x06, 0x00, 0xFF,       // Usage Page (vendor defined 0xFF00)
        0x09, 0x01,             // Usage (1)
        0xA1, 0x01,             // Collection (Application)
        0x15, 0x00,             //   Logical Minimum (0)
        0x26, 0xFF, 0x00,       //   Logical Maximum (255)
        0x75, 0x08,             //   Report Size (8 bits)
        0x85, kReportId,        //   Report ID (1)
        0x09, 0x02,             //   Usage (2)
        0x95, kPayload,         //   Report Count (63)
        0x81, 0x02,             //   Input (Data, Variable, Absolute)
        0x85, kOutputReportId,  //   Report ID (2)
        0x09, 0x03,             //   Usage (3)
        0x95, kPayload,         //   Report Count (63)
        0x91, 0x02,             //   Output (Data, Variable, Absolute)
        0xC0,                   // End Collection
    };
}
