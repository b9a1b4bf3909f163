#include "HidIRDevice.h"

#include <cerrno>
#include <cstring>

#include <hidapi.h>

#include "common/Log.h"

HidReport MakeRequestReport()
{
    HidReport request {};
    request[0] = 0x00;
    request[1] = 0x82;
    return request;
}

namespace
{
constexpr unsigned short kVendorId = 0x04D8;
constexpr unsigned short kProductId = 0x173F;
// hidraw reads wait this long at a time, so that an interrupt is noticed while no key is pressed.
constexpr int kReadSliceMs = 250;
} // namespace

CHidIRDevice::CHidIRDevice()
{
    hid_init();
}

CHidIRDevice::~CHidIRDevice()
{
    Close();
}

void CHidIRDevice::Close()
{
    if (m_pDevice) {
        hid_close(m_pDevice);
        m_pDevice = nullptr;
    }
}

bool CHidIRDevice::FindAndOpen()
{
    hid_device_info* devices = hid_enumerate(kVendorId, kProductId);
    bool found = false;
    m_strOpenFailure.clear();
    for (hid_device_info* d = devices; d && !found; d = d->next) {
        qCDebug(lcRemote, "%s", d->path);
        Close();
        errno = 0;
        m_pDevice = hid_open_path(d->path);
        found = m_pDevice != nullptr;
        if (!found)
            m_strOpenFailure = QStringLiteral("the receiver %1 is there but cannot be opened (%2): the udev rule "
                                              "70-krel-receiver.rules gives it to the user at the seat (see the "
                                              "README); another user's session may hold it now")
                                   .arg(QString::fromLocal8Bit(d->path),
                                        QString::fromLocal8Bit(std::strerror(errno ? errno : EACCES)));
    }
    hid_free_enumeration(devices);
    if (found)
        m_strOpenFailure.clear();
    return found;
}

bool CHidIRDevice::Exchange(HidReport& answer)
{
    if (!m_pDevice)
        return false;
    const HidReport request = MakeRequestReport();
    if (hid_write(m_pDevice, request.data(), request.size()) < 0) {
        Close();
        return false;
    }
    // The receiver answers with an unnumbered report: hidraw hands over its 64 data bytes without the report-id
    // byte, so they go from byte 1 on and byte 0 stays the report id 0.
    int n = 0;
    while ((n = hid_read_timeout(m_pDevice, answer.data() + 1, answer.size() - 1, kReadSliceMs)) == 0) {
        if (m_bInterrupted)
            break;
    }
    if (n <= 0) {
        Close();
        return false;
    }
    answer[0] = 0;
    return true;
}
