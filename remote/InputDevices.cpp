#include "InputDevices.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QFile>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <libevdev/libevdev.h>
#include <linux/input.h>

#include "KeyRouter.h"
#include "common/Log.h"
#include "common/RemoteCommand.h"

namespace
{

struct KeyCommand {
    int code;
    int command;
};

constexpr KeyCommand kKeyCommands[] = {
    { KEY_0, RC_Digit0 },
    { KEY_1, RC_Digit1 },
    { KEY_2, RC_Digit2 },
    { KEY_3, RC_Digit3 },
    { KEY_4, RC_Digit4 },
    { KEY_5, RC_Digit5 },
    { KEY_6, RC_Digit6 },
    { KEY_7, RC_Digit7 },
    { KEY_8, RC_Digit8 },
    { KEY_9, RC_Digit9 },
    { KEY_NUMERIC_0, RC_Digit0 },
    { KEY_NUMERIC_1, RC_Digit1 },
    { KEY_NUMERIC_2, RC_Digit2 },
    { KEY_NUMERIC_3, RC_Digit3 },
    { KEY_NUMERIC_4, RC_Digit4 },
    { KEY_NUMERIC_5, RC_Digit5 },
    { KEY_NUMERIC_6, RC_Digit6 },
    { KEY_NUMERIC_7, RC_Digit7 },
    { KEY_NUMERIC_8, RC_Digit8 },
    { KEY_NUMERIC_9, RC_Digit9 },
    { KEY_KP0, RC_Digit0 },
    { KEY_KP1, RC_Digit1 },
    { KEY_KP2, RC_Digit2 },
    { KEY_KP3, RC_Digit3 },
    { KEY_KP4, RC_Digit4 },
    { KEY_KP5, RC_Digit5 },
    { KEY_KP6, RC_Digit6 },
    { KEY_KP7, RC_Digit7 },
    { KEY_KP8, RC_Digit8 },
    { KEY_KP9, RC_Digit9 },
    { KEY_CHANNELUP, RC_NextPage },
    { KEY_PAGEUP, RC_NextPage },
    { KEY_CHANNELDOWN, RC_PreviousPage },
    { KEY_PAGEDOWN, RC_PreviousPage },
    { KEY_VOLUMEUP, RC_VolumeUp },
    { KEY_VOLUMEDOWN, RC_VolumeDown },
    { KEY_BACK, RC_Back },
    { KEY_ESC, RC_Back },
    { KEY_BACKSPACE, RC_Back },
    { KEY_STOP, RC_LeaveVideo },
    { KEY_EXIT, RC_LeaveVideo },
    { KEY_POWER, RC_Power },
    { KEY_UP, RC_Up },
    { KEY_DOWN, RC_Down },
    { KEY_LEFT, RC_Left },
    { KEY_RIGHT, RC_Right },
    { KEY_OK, RC_Ok },
    { KEY_ENTER, RC_Ok },
    { KEY_KPENTER, RC_Ok },
    { KEY_SELECT, RC_Ok },
    { KEY_PLAYPAUSE, RC_PlayPause },
    { KEY_PLAY, RC_PlayPause },
    { KEY_PAUSE, RC_PlayPause },
    { KEY_PLAYCD, RC_PlayPause }, // the kernel's key map for a TV remote over HDMI-CEC (rc-cec)
    { KEY_PAUSECD, RC_PlayPause },
    { KEY_STOPCD, RC_LeaveVideo },
    { KEY_SUBTITLE, RC_Subtitle },
    { KEY_AUDIO, RC_AudioTrack },
    { KEY_LANGUAGE, RC_AudioTrack },
};

} // namespace

int RemoteCommandForKey(int code, bool powerAllowed)
{
    for (const KeyCommand& k : kKeyCommands)
        if (k.code == code)
            return k.command == RC_Power && !powerAllowed ? 0 : k.command;
    return 0;
}

bool IsRemoteLikeDevice(const InputDeviceInfo& device)
{
    for (int code : device.keys)
        if (code != KEY_POWER && RemoteCommandForKey(code, false) != 0)
            return true;
    return false;
}

constexpr int kLetterKeys[]
    = { KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I, KEY_J, KEY_K, KEY_L, KEY_M,
        KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R, KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z };

bool TakesInputDevice(const InputDeviceInfo& device, const QString& setting)
{
    if (!IsRemoteLikeDevice(device))
        return false;
    const QString choice = setting.trimmed();
    if (choice.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0)
        return true;
    static const QRegularExpression separators(QStringLiteral("[;,]"));
    for (const QString& name : choice.split(separators, Qt::SkipEmptyParts))
        if (name.trimmed().compare(device.name, Qt::CaseInsensitive) == 0)
            return true;
    for (int letter : kLetterKeys)
        if (device.keys.count(letter))
            return false;
    return true;
}

InputDeviceInfo DescribeInputDevice(const libevdev* dev)
{
    InputDeviceInfo info;
    const char* name = libevdev_get_name(dev);
    info.name = QString::fromUtf8(name ? name : "");
    for (const KeyCommand& k : kKeyCommands)
        if (libevdev_has_event_code(dev, EV_KEY, static_cast<unsigned>(k.code)))
            info.keys.insert(k.code);
    // The letters tell a keyboard, which is not taken by default.
    for (int letter : kLetterKeys)
        if (libevdev_has_event_code(dev, EV_KEY, static_cast<unsigned>(letter)))
            info.keys.insert(letter);
    return info;
}

bool PowerAllowedFrom(const InputDeviceInfo& device)
{
    return IsRemoteLikeDevice(device) && !device.name.contains(QLatin1String("Power Button"), Qt::CaseInsensitive);
}

std::vector<int> CInputEventDecoder::Feed(const char* data, std::size_t size)
{
    std::vector<int> commands;
    m_partial.append(data, static_cast<qsizetype>(size));
    constexpr qsizetype kRecord = sizeof(input_event);
    qsizetype at = 0;
    for (; at + kRecord <= m_partial.size(); at += kRecord) {
        input_event ev;
        std::memcpy(&ev, m_partial.constData() + at, sizeof ev);
        if (ev.type != EV_KEY || ev.value < 1 || ev.value > 2)
            continue; // not a key, a release, or nonsense
        const int command = RemoteCommandForKey(ev.code, m_bPowerAllowed);
        if (command == 0)
            continue;
        const std::int64_t us = std::int64_t(ev.input_event_sec) * 1000000 + ev.input_event_usec;
        const auto last = m_lastSentUs.find(ev.code);
        // A press always counts; the kernel's repeats of a held key at most every 300 ms.
        if (ev.value == 2 && last != m_lastSentUs.end() && us - last->second < kRepeatUs && us >= last->second)
            continue;
        m_lastSentUs[ev.code] = us;
        commands.push_back(command);
    }
    m_partial.remove(0, at);
    return commands;
}

struct CInputDeviceSource::Device {
    int fd = -1;
    QString path;
    std::unique_ptr<QSocketNotifier> notifier;
    CInputEventDecoder decoder { false };
};

CInputDeviceSource::CInputDeviceSource(CRemoteKeyRouter* router, QObject* parent)
    : QObject(parent)
    , m_pRouter(router)
    , m_watch("input", [this](const QString& node) { Probe(node); })
{
}

CInputDeviceSource::~CInputDeviceSource()
{
    while (!m_devices.empty())
        Remove(m_devices.begin()->first);
}

void CInputDeviceSource::Start(const QString& setting)
{
    m_strChoice = setting;
    m_watch.Start();
}

void CInputDeviceSource::Rescan()
{
    m_watch.Scan();
}

void CInputDeviceSource::Probe(const QString& devnode)
{
    if (!devnode.startsWith(QLatin1String("/dev/input/event")))
        return;
    for (const auto& [fd, device] : m_devices) {
        if (device->path != devnode)
            continue;
        int version = 0;
        if (::ioctl(fd, EVIOCGVERSION, &version) == 0 || errno != ENODEV)
            return; // read already
        // The node's name was given again (a replug, a wake) before the old device's reads told us it went.
        Remove(fd);
        break;
    }
    const int fd = ::open(QFile::encodeName(devnode).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        qCInfo(lcRemote).noquote() << "input device" << devnode
                                   << "skipped:" << QString::fromLocal8Bit(std::strerror(errno))
                                   << "(see the README for access to input devices)";
        return;
    }
    libevdev* dev = nullptr;
    if (libevdev_new_from_fd(fd, &dev) < 0) {
        ::close(fd);
        return;
    }
    const InputDeviceInfo info = DescribeInputDevice(dev);
    libevdev_free(dev);
    if (!TakesInputDevice(info, m_strChoice)) {
        if (IsRemoteLikeDevice(info))
            qCInfo(lcRemote).noquote() << "input device" << devnode << info.name
                                       << "is a keyboard: not taken unless InputDevices names it (or says all)";
        ::close(fd);
        return;
    }
    qCInfo(lcRemote).noquote() << "input device" << devnode << info.name << "takes remote keys";
    AddDevice(fd, info, devnode);
}

void CInputDeviceSource::AddDevice(int fd, const InputDeviceInfo& info, const QString& path)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    auto device = std::make_unique<Device>();
    device->fd = fd;
    device->path = path;
    device->decoder = CInputEventDecoder(PowerAllowedFrom(info));
    device->notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(device->notifier.get(), &QSocketNotifier::activated, this, [this, fd] { OnReadable(fd); });
    m_devices[fd] = std::move(device);
}

void CInputDeviceSource::OnReadable(int fd)
{
    const auto it = m_devices.find(fd);
    if (it == m_devices.end())
        return;
    char buffer[sizeof(input_event) * 64];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            for (int command : it->second->decoder.Feed(buffer, static_cast<std::size_t>(n)))
                if (m_pRouter)
                    m_pRouter->PostKey(command, 0);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        // End of the stream or an error (ENODEV: unplugged): the device is gone; a replug comes back through udev.
        qCInfo(lcRemote).noquote() << "input device" << it->second->path << "is gone";
        Remove(fd);
        return;
    }
}

void CInputDeviceSource::Remove(int fd)
{
    const auto it = m_devices.find(fd);
    if (it == m_devices.end())
        return;
    it->second->notifier->setEnabled(false);
    ::close(fd);
    m_devices.erase(it);
}
