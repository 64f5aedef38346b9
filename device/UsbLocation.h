// The location id of a USB device: bus number in bits 24-31, then one 4-bit
// port number per hub level from bit 20 downward (bus 1, ports 1.3 gives
// 0x01130000), written as text with "0x%x".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

uint32_t UsbLocationId(int busNumber, const std::vector<int>& ports);

// The bus number and port chain from a device's sysfs name ("1-1.3"); false
// for a root hub ("usb1") or anything else.
bool ParseUsbSysName(const std::string& sysName, int& busNumber, std::vector<int>& ports);

std::string UsbLocationText(uint32_t locationId);
