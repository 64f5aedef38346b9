// The device interface of a board, the device factory, the connect handshake
// that identifies boards of the detected families, and the process-wide
// receive queue that the device kinds fill and the work thread drains.
#pragma once

#include "DeviceInfo.h"

#include <atomic>
#include <string>

// The receive queue: received bytes in arrival order, at most 1024, then a
// zero byte. One board is served at a time, so the queue exists once.
extern unsigned char g_buf[1025];
extern int g_bufLen;
// Size of one input report of the current board.
extern int DATASIZE;

// The connect handshake gives up after this many unanswered connect
// commands (one per read wait: about 30 s with a HID board). It stops at
// once when the device is closed or the board is gone.
constexpr int CHECK_DEV_TYPE_MAX_TRIES = 30;

class CDeviceBase
{
public:
    static CDeviceBase* CreateDevice(const tagDevice_Info& info);

    explicit CDeviceBase(const tagDevice_Info& info);
    virtual ~CDeviceBase() = default;

    CDeviceBase(const CDeviceBase&) = delete;
    CDeviceBase& operator=(const CDeviceBase&) = delete;

    virtual bool Open() = 0;
    virtual bool Init() = 0;
    virtual void Close() = 0;
    virtual int Read(unsigned char* buf, int len) = 0;
    virtual int Write(const unsigned char* buf, int len) = 0;
    virtual int ReadDirect(unsigned char* buf, int len);
    virtual int WriteDirect(const unsigned char* buf, int len);
    virtual int WriteConnect();
    virtual bool CheckDevInfo(const tagDevice_Info& info);
    virtual bool CheckDevType();
    // False once the board is known to be gone (unplugged); the handshake
    // then stops instead of waiting for answers that cannot come.
    virtual bool Present() const { return true; }

    const tagDevice_Info& Info() const { return m_info; }
    const char* Location() const { return m_strLocation.c_str(); }

    static const unsigned char CONNECT_DEVICE_CMD[8];
    struct HardType
    {
        unsigned char code;
        int family; // 0: KA family, 2: MO family
    };
    static const HardType m_hardType[7];
    struct HandMsg
    {
        unsigned char code;
        bool hand;
    };
    static const HandMsg m_handMsg[11];

    bool m_bHadHand = false;
    std::atomic<bool> m_bOpen{false};
    tagDevice_Info m_info;
    int m_timeout = 500;

private:
    std::string m_strLocation; // the device's own copy of the location text
    std::string m_strService;
};

// What one handshake reply does to a board's type and hand flag; false when
// the reply is not recognised (the connect command is sent again). The type
// may change even when the reply is not recognised as a whole.
bool ApplyHandshakeReply(const unsigned char reply[8], tagDriverType& driverType, bool& hadHand);

// Input report size and output header of the HID kind for a driver type.
int HidReportSize(int driverType);
bool HidOutputHeader(int driverType, unsigned char header[2]);
