#include "UdevWatch.h"

#include <cstring>

#include <QSocketNotifier>

#include <libudev.h>

CUdevWatch::CUdevWatch(const char* subsystem, std::function<void(const QString& node)> found)
    : m_subsystem(subsystem)
    , m_found(std::move(found))
{
}

CUdevWatch::~CUdevWatch()
{
    m_pNotifier.reset();
    if (m_pMonitor)
        udev_monitor_unref(m_pMonitor);
    if (m_pUdev)
        udev_unref(m_pUdev);
}

void CUdevWatch::Start()
{
    if (m_pUdev)
        return;
    m_pUdev = udev_new();
    if (!m_pUdev)
        return;
    m_pMonitor = udev_monitor_new_from_netlink(m_pUdev, "udev");
    if (m_pMonitor && udev_monitor_filter_add_match_subsystem_devtype(m_pMonitor, m_subsystem.constData(), nullptr) >= 0
        && udev_monitor_enable_receiving(m_pMonitor) >= 0) {
        m_pNotifier = std::make_unique<QSocketNotifier>(udev_monitor_get_fd(m_pMonitor), QSocketNotifier::Read);
        QObject::connect(m_pNotifier.get(), &QSocketNotifier::activated, m_pNotifier.get(), [this] { OnEvent(); });
    }
    Scan();
}

void CUdevWatch::Scan()
{
    if (!m_pUdev)
        return;
    udev_enumerate* list = udev_enumerate_new(m_pUdev);
    if (!list)
        return;
    udev_enumerate_add_match_subsystem(list, m_subsystem.constData());
    udev_enumerate_scan_devices(list);
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(list))
    {
        udev_device* dev = udev_device_new_from_syspath(m_pUdev, udev_list_entry_get_name(entry));
        if (!dev)
            continue;
        if (const char* node = udev_device_get_devnode(dev))
            m_found(QString::fromLocal8Bit(node));
        udev_device_unref(dev);
    }
    udev_enumerate_unref(list);
}

void CUdevWatch::OnEvent()
{
    udev_device* dev = udev_monitor_receive_device(m_pMonitor);
    if (!dev)
        return;
    const char* node = udev_device_get_devnode(dev);
    const char* action = udev_device_get_action(dev);
    if (node && action && std::strcmp(action, "add") == 0)
        m_found(QString::fromLocal8Bit(node));
    udev_device_unref(dev);
}
