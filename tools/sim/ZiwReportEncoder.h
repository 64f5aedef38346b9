// The ZIW board family's reports, as the board sends and receives them.
//
// Input report (board to driver), 64 bytes, report id included.
// 16-bit values are unsigned, little-endian (low byte first).
//
//          0    1    2    3    4    5    6    7    8    9   10   byte
//       +----+----+----+---------+---------+---------+---------+
//       | id | s1 | 00 |    X1   |    Y1   |    A1   |    B1   |  contact 1
//       +----+----+----+---------+---------+---------+---------+
//              11   12   13   14   15   16   17   18   19   20
//            +----+----+---------+---------+---------+---------+
//            | s2 | 00 |    X2   |    Y2   |    A2   |    B2   |  contact 2
//            +----+----+---------+---------+---------+---------+
//   byte 21 .. 63: 00
//
//   id  1 (the driver drops reports with another id)
//   s   contact status: 7 touching, 0 not touching. The board also sends
//       other values (4; 0x77 in s2 with s1 = 0 for a second contact alone),
//       which SimContact::rawStatus reproduces.
//   X Y position in device units
//   A B the contact's first and second size value (the driver measures a
//       touch by A1 + B1, plus A2 + B2 when s2 is 7)
//   A contact slot that a frame does not fill is all zero.
//
// Output report (driver to board), 64 bytes: the connect command
//   02 01 01 00 00 ... 00
// which the driver sends when it opens the board and again while the board
// stays silent.
#pragma once

#include "BoardSim.h"

class CZiwReportEncoder : public CReportEncoder
{
public:
    static constexpr int kReportSize = 64;
    static constexpr std::uint8_t kReportId = 1;
    static constexpr std::uint8_t kTouching = 7;
    static constexpr std::uint8_t kNotTouching = 0;
    static constexpr std::uint8_t kSecondAlone = 0x77;
    static constexpr int kContactOffset[2] = {1, 11}; // status byte of each contact slot

    const char* Name() const override { return "ZIW"; }
    int InputReportSize() const override { return kReportSize; }
    int OutputReportSize() const override { return kReportSize; }
    int MaxContacts() const override { return 2; }

    SimBytes Encode(const SimFrame& frame) const override;
    bool IsConnectCommand(const SimBytes& report) const override;

    // The connect command, byte for byte.
    static SimBytes ConnectCommand();

    // The board's USB identity, and a report descriptor for its HID
    // interface that carries these reports: a vendor-defined collection with
    // input report 1 and output report 2, 63 bytes each after the report id.
    // The driver reads and writes them as 64 bytes, report id first (the
    // connect command's 02 is the output report's id).
    static constexpr int kVendorId = 0x1477;
    static constexpr int kProductId = 0x1223;
    static constexpr std::uint8_t kOutputReportId = 2;
    static SimBytes HidReportDescriptor();
};
