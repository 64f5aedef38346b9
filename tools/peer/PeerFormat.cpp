#include "PeerFormat.h"

#include <cstdio>

namespace {

std::int32_t Le32(const std::uint8_t* p)
{
    const std::uint32_t u = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                            static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    return static_cast<std::int32_t>(u);
}

const char* const kActions[] = {"down", "move", "up", "double"};

} // namespace

DualRecord DualRecord::Decode(const std::uint8_t* bytes)
{
    DualRecord r;
    r.marker1 = Le32(bytes);
    r.marker2 = Le32(bytes + 4);
    r.action = Le32(bytes + 8);
    r.x = Le32(bytes + 12);
    r.y = Le32(bytes + 16);
    return r;
}

std::string DescribeDualRecord(const std::uint8_t* bytes)
{
    const DualRecord r = DualRecord::Decode(bytes);
    std::string text = r.action >= 0 && r.action <= 3 ? kActions[r.action] : "action" + std::to_string(r.action);
    text += " x=" + std::to_string(r.x) + " y=" + std::to_string(r.y);
    if (r.marker1 != -1 || r.marker2 != -1)
        text += " markers=" + std::to_string(r.marker1) + "," + std::to_string(r.marker2);
    text += " [";
    char hex[4];
    for (std::size_t i = 0; i < DualRecord::kSize; ++i) {
        std::snprintf(hex, sizeof hex, i ? " %02x" : "%02x", bytes[i]);
        text += hex;
    }
    return text + "]";
}

std::string QuoteText(const char* data, std::size_t len)
{
    std::string text = "\"";
    for (std::size_t i = 0; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c == '"' || c == '\\') {
            text += '\\';
            text += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            char esc[5];
            std::snprintf(esc, sizeof esc, "\\x%02x", c);
            text += esc;
        }
    }
    return text + "\"";
}
