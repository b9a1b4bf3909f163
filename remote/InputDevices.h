#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include <QByteArray>
#include <QObject>
#include <QString>

#include "UdevWatch.h"

class QSocketNotifier;
class CRemoteKeyRouter;
struct libevdev;

// Remotes the kernel already drives (an infrared receiver with a kernel driver, a USB media remote or air mouse
// that is a keyboard, a keyboard on the sofa): their key events become the same remote commands as the
// receiver's, through the same router.

// What a device reports: its name and the key codes (linux/input-event-codes.h) it can send.
struct InputDeviceInfo {
    QString name;
    std::set<int> keys;
};

// What the probe reads of a device (as libevdev reports it from the kernel): its name, and which keys of the command
// table and which letter keys it can send; TakesInputDevice decides on that.
InputDeviceInfo DescribeInputDevice(const libevdev* device);

// The remote command of a key code: digits (KEY_0..9, KEY_NUMERIC_0..9, KEY_KP0..9), pages (KEY_CHANNELUP/DOWN,
// KEY_PAGEUP/DOWN), volume, Back (KEY_BACK, KEY_ESC, KEY_BACKSPACE), LeaveVideo (KEY_STOP, KEY_STOPCD, KEY_EXIT), and
// Power (KEY_POWER) when powerAllowed. 0 for any other key.
int RemoteCommandForKey(int code, bool powerAllowed);
// A device is taken when it reports a remote-like key other than power.
bool IsRemoteLikeDevice(const InputDeviceInfo& device);
// Which remote-like devices are read, by the InputDevices setting: by default only those without letter keys (IR
// receivers, media remotes, air mice), so that a PC keyboard never drives the TV or answers the shutdown prompt;
// "all" takes keyboards too; a list of device names (separated by ";" or ",") takes those devices as well.
bool TakesInputDevice(const InputDeviceInfo& device, const QString& setting);
// Power is taken only from devices that are not the PC's own power button (the desktop handles that one).
bool PowerAllowedFrom(const InputDeviceInfo& device);

// Turns the byte stream of one device (struct input_event records) into remote commands. A held key repeats at
// the receiver's pace: one command per 300 ms, timed by the events' own time stamps. Bytes of a record that is
// not whole yet wait for the rest; events of other types and unknown keys are ignored.
class CInputEventDecoder
{
public:
    explicit CInputEventDecoder(bool powerAllowed)
        : m_bPowerAllowed(powerAllowed)
    {
    }
    std::vector<int> Feed(const char* data, std::size_t size);

    static constexpr std::int64_t kRepeatUs = 300000;

private:
    bool m_bPowerAllowed;
    QByteArray m_partial;
    std::map<int, std::int64_t> m_lastSentUs; // per key code: when its command was last sent
};

// Watches the input devices (/dev/input/event*, found and followed with udev), reads the remote-like ones without
// grabbing them, and posts their commands to the router. Lives on the GUI thread: reads are non-blocking and
// driven by socket notifiers. A device that cannot be opened is skipped with one log line.
class CInputDeviceSource : public QObject
{
    Q_OBJECT
public:
    explicit CInputDeviceSource(CRemoteKeyRouter* router, QObject* parent = nullptr);
    ~CInputDeviceSource() override;

    // Enumerates the present devices and follows the ones plugged in later; setting chooses them (see
    // TakesInputDevice).
    void Start(const QString& setting = QString());
    // Looks again for the present devices (after the PC woke: devices may have come back under new handles, with
    // their udev events lost); a device read already is kept, one whose node went away is replaced.
    void Rescan();
    // Reads a device from fd (taking ownership; the tests give the read end of a pipe).
    void AddDevice(int fd, const InputDeviceInfo& info, const QString& path);
    int DeviceCount() const { return static_cast<int>(m_devices.size()); }

private:
    struct Device;
    void OnReadable(int fd);
    void Probe(const QString& devnode);
    void Remove(int fd);

    CRemoteKeyRouter* m_pRouter;
    QString m_strChoice;
    std::map<int, std::unique_ptr<Device>> m_devices;
    CUdevWatch m_watch;
};
