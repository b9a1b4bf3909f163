#pragma once

#include <functional>
#include <memory>

#include <QByteArray>
#include <QString>

class QSocketNotifier;
struct udev;
struct udev_monitor;

// The device nodes of one udev subsystem ("input", "cec"): those present, and those plugged in later, each reported
// to the callback with its node (/dev/input/event3). Removal is not reported: a removed device's reads fail.
// GUI thread (the monitor is read through a socket notifier).
class CUdevWatch
{
public:
    CUdevWatch(const char* subsystem, std::function<void(const QString& node)> found);
    ~CUdevWatch();
    CUdevWatch(const CUdevWatch&) = delete;
    CUdevWatch& operator=(const CUdevWatch&) = delete;

    // Follows the subsystem, then reports what is present (the monitor first, so that nothing plugged in between
    // is missed). Without udev, nothing happens, now or later.
    void Start();
    // Reports again what is present (after the PC woke, when plug events may have been lost).
    void Scan();

private:
    void OnEvent();

    QByteArray m_subsystem;
    std::function<void(const QString&)> m_found;
    udev* m_pUdev = nullptr;
    udev_monitor* m_pMonitor = nullptr;
    std::unique_ptr<QSocketNotifier> m_pNotifier;
};
