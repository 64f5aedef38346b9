#include "UsbLocation.h"

#include <cstdio>
#include <cstdlib>

uint32_t UsbLocationId(int busNumber, const std::vector<int>& ports)
{
    uint32_t id = static_cast<uint32_t>(busNumber & 0xFF) << 24;
    int shift = 20;
    for (int port : ports) {
        if (shift < 0)
            break; // deeper than six hub levels: no room left
        id |= static_cast<uint32_t>(port & 0xF) << shift;
        shift -= 4;
    }
    return id;
}

bool ParseUsbSysName(const std::string& sysName, int& busNumber, std::vector<int>& ports)
{
    ports.clear();
    const char* s = sysName.c_str();
    char* end = nullptr;
    long bus = strtol(s, &end, 10);
    if (end == s || *end != '-' || bus <= 0)
        return false;
    s = end + 1;
    for (;;) {
        long port = strtol(s, &end, 10);
        if (end == s || port <= 0)
            return false;
        ports.push_back(static_cast<int>(port));
        if (*end == '\0')
            break;
        if (*end != '.')
            return false; // an interface ("1-1.3:1.0") or anything else
        s = end + 1;
    }
    busNumber = static_cast<int>(bus);
    return true;
}

std::string UsbLocationText(uint32_t locationId)
{
    char text[16];
    snprintf(text, sizeof text, "0x%x", locationId);
    return text;
}
