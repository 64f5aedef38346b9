// The record that describes one attached board, and the board families.
#pragma once

// Transport of a board.
enum DeviceType
{
    DEVICE_HID = 1,
    DEVICE_COM = 2,
};

// Board style and family. 0 to 17 are the styles announced to the
// whiteboard application; 18 and 19 come only out of the KAPD detection;
// 21 to 23 are detect values that the connect handshake replaces.
enum tagDriverType
{
    DRIVER_KA = 0,
    DRIVER_KAD = 1,
    DRIVER_MO = 2,
    DRIVER_MOG = 3,
    DRIVER_MOD = 4,
    DRIVER_MODG = 5,
    DRIVER_VU = 6,
    DRIVER_VUG = 7,
    DRIVER_VUD = 8,
    DRIVER_VUDG = 9,
    DRIVER_VUQG = 10,
    DRIVER_VUQDG = 11,
    DRIVER_NE = 12,
    DRIVER_BO = 13,
    DRIVER_BOFD = 14,
    DRIVER_BOTD = 15,
    DRIVER_ZIW = 16,
    DRIVER_HU = 17,
    DRIVER_KAPD1 = 18,
    DRIVER_KAPD2 = 19,
    DRIVER_DETECT_KA_MO = 21,
    DRIVER_DETECT_KAD_MOD = 22,
    DRIVER_DETECT_KAPD = 23,
};

// Seven fields, copied by value. `location` and `service` point to text
// that the record does not own.
struct tagDevice_Info
{
    int pid = 0;
    int vid = 0;
    DeviceType devType = DEVICE_HID;
    int baudRate = 0;
    const char* location = nullptr;   // "0x%x" of the USB location id
    tagDriverType driverType = DRIVER_ZIW;
    // Where the board is: the sysfs path of its USB device as the monitor
    // found it, or a device node ("/dev/hidrawN") given by hand.
    const char* service = nullptr;
};
