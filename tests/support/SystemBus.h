#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A private D-Bus "system" bus with a fake login1 service on it. DBUS_SYSTEM_BUS_ADDRESS points at it while the
// object lives.
class SystemBus
{
public:
    // canPowerOff: what the fake logind answers to CanPowerOff ("yes", "no", ...).
    explicit SystemBus(const QString& canPowerOff = QStringLiteral("yes"));
    ~SystemBus();

    bool IsRunning() const { return m_bRunning; }
    QString Address() const { return m_strAddress; }
    // The PowerOff calls the fake logind received, one line each.
    QByteArray PowerOffCalls() const;
    // Sends logind's PrepareForSleep(start), as before the PC sleeps (true) and after it woke (false).
    void PrepareForSleep(bool start);
    // How many inhibitor locks handed out are still held.
    int HeldLocks();

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QProcess m_logind;
    QString m_strAddress;
    QByteArray m_oldAddress;
    bool m_bRunning = false;
};
