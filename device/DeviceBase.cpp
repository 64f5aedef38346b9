#include "DeviceBase.h"

#include "DeviceHid.h"
#include "SkribLog.h"

#include <cstring>

unsigned char g_buf[1025];
int g_bufLen = 0;
int DATASIZE = 8;

const unsigned char CDeviceBase::CONNECT_DEVICE_CMD[8] = {0xCE, 0, 0, 0, 0, 0, 0, 0};

const CDeviceBase::HardType CDeviceBase::m_hardType[7] = {
    {0xE5, 0}, {0xE6, 0}, {0xE8, 0}, {0xE9, 0}, {0xEA, 0}, {0xEC, 0}, {0xC8, 2},
};

const CDeviceBase::HandMsg CDeviceBase::m_handMsg[11] = {
    {0xEF, false}, {0xED, true}, {0xCE, true}, {0xDD, false}, {0xCC, true},  {0xCA, true},
    {0xDA, false}, {0x5F, false}, {0x55, true}, {0xAF, false}, {0xA5, true},
};

CDeviceBase* CDeviceBase::CreateDevice(const tagDevice_Info& info)
{
    switch (info.devType) {
    case DEVICE_HID:
        return new CDeviceHid(info);
    case DEVICE_COM:
        // Boards behind the serial USB bridge are not supported yet.
        SkribLog("serial boards are not supported in this build");
        return nullptr;
    default:
        return nullptr;
    }
}

CDeviceBase::CDeviceBase(const tagDevice_Info& info) : m_info(info)
{
    if (info.location)
        m_strLocation = info.location;
    if (info.service)
        m_strService = info.service;
    m_info.location = m_strLocation.c_str();
    m_info.service = info.service ? m_strService.c_str() : nullptr;
}

int CDeviceBase::ReadDirect(unsigned char*, int)
{
    return -1;
}

int CDeviceBase::WriteDirect(const unsigned char*, int)
{
    SkribLog("base.........");
    return -1;
}

int CDeviceBase::WriteConnect()
{
    return Write(CONNECT_DEVICE_CMD, 8);
}

bool CDeviceBase::CheckDevInfo(const tagDevice_Info& info)
{
    return info.location && strcmp(info.location, m_strLocation.c_str()) == 0;
}

bool ApplyHandshakeReply(const unsigned char reply[8], tagDriverType& driverType, bool& hadHand)
{
    const CDeviceBase::HardType* hard = nullptr;
    for (const CDeviceBase::HardType& row : CDeviceBase::m_hardType)
        if (row.code == reply[0]) {
            hard = &row;
            break;
        }
    if (!hard)
        return false;
    // The first reply with a known family code decides the family, even
    // when its second byte is not known.
    if (driverType == DRIVER_DETECT_KA_MO)
        driverType = hard->family == 2 ? DRIVER_MO : DRIVER_KA;
    else if (driverType == DRIVER_DETECT_KAD_MOD)
        driverType = hard->family == 2 ? DRIVER_MOD : DRIVER_KAD;

    int handRow = -1;
    for (int i = 0; i < 11; ++i)
        if (CDeviceBase::m_handMsg[i].code == reply[1]) {
            handRow = i;
            break;
        }
    if (handRow < 0)
        return false;
    hadHand = CDeviceBase::m_handMsg[handRow].hand;
    if (driverType == DRIVER_DETECT_KAPD) {
        if (handRow == 7 || handRow == 8)
            driverType = DRIVER_KAPD1;
        else if (handRow == 9 || handRow == 10)
            driverType = DRIVER_KAPD2;
    }
    return true;
}

bool CDeviceBase::CheckDevType()
{
    const tagDriverType type = m_info.driverType;
    if (type != DRIVER_DETECT_KA_MO && type != DRIVER_DETECT_KAD_MOD && type != DRIVER_DETECT_KAPD) {
        m_bHadHand = false;
        return true;
    }
    // Bounded: a board that never answers with two known codes, or that was
    // unplugged during the handshake, must not hold the arrival thread.
    for (int tries = 0; tries < CHECK_DEV_TYPE_MAX_TRIES; ++tries) {
        WriteConnect();
        unsigned char reply[8];
        int got = Read(reply, 8);
        if (got < 0 || !Present()) {
            SkribLog("quit");
            return false;
        }
        if (got == 8 && ApplyHandshakeReply(reply, m_info.driverType, m_bHadHand))
            return true;
    }
    SkribLog("connect handshake: no known answer after %d tries, giving up", CHECK_DEV_TYPE_MAX_TRIES);
    return false;
}

int HidReportSize(int driverType)
{
    switch (driverType) {
    case DRIVER_VUG:
        return 18;
    case DRIVER_VUQG:
    case DRIVER_VUQDG:
    case DRIVER_ZIW:
        return 64;
    case DRIVER_NE:
        return 8;
    default:
        return 10;
    }
}

bool HidOutputHeader(int driverType, unsigned char header[2])
{
    switch (driverType) {
    case DRIVER_KA:
    case DRIVER_KAD:
    case DRIVER_DETECT_KA_MO:
    case DRIVER_DETECT_KAD_MOD:
    case DRIVER_DETECT_KAPD:
        header[0] = 0x02;
        header[1] = 0x08;
        return true;
    case DRIVER_VU:
        header[0] = 0x02;
        header[1] = 0x10;
        return true;
    default:
        return false;
    }
}
