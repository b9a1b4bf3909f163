#pragma once

#include <memory>

#include <QObject>
#include <QString>

#include "CecAdapter.h"
#include "UdevWatch.h"

class QSocketNotifier;
class CCecPlayback;

// A CEC adapter of the kernel's CEC framework (/dev/cecN: USB-CEC adapters, DisplayPort-to-HDMI adapters with CEC,
// the HDMI ports of some mini PCs), through linux/cec.h. Opened non-blocking and as initiator and (shared) follower:
// the kernel answers the core questions it knows itself, and passes us the rest and the remote's keys. Reads are
// driven by socket notifiers on the GUI thread.
class CLinuxCecAdapter : public QObject, public ICecAdapter
{
    Q_OBJECT
public:
    // Opens the device; IsOpen tells whether that worked (one log line when not).
    explicit CLinuxCecAdapter(const QString& devnode, QObject* parent = nullptr);
    ~CLinuxCecAdapter() override;

    bool IsOpen() const { return m_fd >= 0; }
    const QString& Node() const { return m_strNode; }

    bool Claim(const QString& osdName) override;
    bool Transmit(const CecFrame& frame) override;

signals:
    // The device went away (unplugged) or failed.
    void gone();

private:
    void OnReadable();
    void OnEvent();
    void ReportAddresses();
    void Close();

    QString m_strNode;
    int m_fd = -1;
    QSocketNotifier* m_pRead = nullptr;
    QSocketNotifier* m_pEvents = nullptr;
};

// Finds the CEC adapters (udev's "cec" subsystem, followed as they are plugged in and out) and runs this program's
// playback device on the first one that opens. Where there is none, nothing happens: every call is then a no-op.
class CCecDevices : public QObject
{
    Q_OBJECT
public:
    explicit CCecDevices(std::function<void(int command)> keySink, QObject* parent = nullptr);
    ~CCecDevices() override;

    void Start();
    // Runs the playback device on the given adapter instead of one found (tests: a stand-in for the bus).
    void UseAdapter(std::unique_ptr<ICecAdapter> adapter);
    void WakeTv();
    void StandbyTv();
    bool HasAdapter() const { return m_pPlayback != nullptr; }

signals:
    void tvPowerChanged(bool on);

private:
    void TryOpen(const QString& devnode);

    std::function<void(int)> m_keySink;
    std::unique_ptr<CCecPlayback> m_pPlayback;
    QString m_strNode;
    CUdevWatch m_watch;
};
