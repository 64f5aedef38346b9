// How the stand-in whiteboard application shows what the driver sends it:
// datagram texts and the records of the dual-user link.
//
// Dual-user record, 20 bytes, five 32-bit signed little-endian integers:
//
//   offset  0          4          8          12         16
//         +----------+----------+----------+----------+----------+
//         | marker   | marker   | action   | x        | y        |
//         | -1       | -1       | 0 down   | screen   | screen   |
//         |          |          | 1 move   | pixels   | pixels   |
//         |          |          | 2 up     |          |          |
//         |          |          | 3 double |          |          |
//         +----------+----------+----------+----------+----------+
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct DualRecord
{
    static constexpr std::size_t kSize = 20;

    std::int32_t marker1 = 0;
    std::int32_t marker2 = 0;
    std::int32_t action = 0;
    std::int32_t x = 0;
    std::int32_t y = 0;

    static DualRecord Decode(const std::uint8_t* bytes); // kSize bytes
};

// "move x=100 y=200 [ff ff ... 00]"; an unknown action shows as "action7",
// markers other than -1 are added as "markers=M1,M2".
std::string DescribeDualRecord(const std::uint8_t* bytes);

// The text in double quotes; quotes, backslashes and bytes outside printable
// ASCII escaped (\", \\, \xNN), so that trailing blanks and stray bytes show.
std::string QuoteText(const char* data, std::size_t len);
