#pragma once

#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>
#include <QVariantMap>

// Whether this program's login session is the active one on its seat, as logind (over the system bus) says. While
// another session is in front of the screen, the program takes no remote keys: the devices it can read belong to
// whoever sits there now. Also says when the PC is about to sleep and when it woke, holding logind's sleep for the
// moment it takes to pause what plays (a delay inhibitor lock).
class CSessionActivity : public QObject
{
    Q_OBJECT
public:
    explicit CSessionActivity(QObject* parent = nullptr);

    // Finds this process's session and follows its Active property. Without logind or without a session (a
    // service, a container) nothing tells otherwise, and the program counts as active.
    void Start();
    bool IsActive() const { return m_bActive; }

signals:
    // The PC is about to sleep (true; the handlers run before it may) or woke (false).
    void sleepChanged(bool sleeping);

private slots:
    void OnPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);
    void OnPrepareForSleep(bool start);

private:
    void Refresh();
    void TakeSleepDelay();

    QString m_strPath; // the session's object path
    bool m_bActive = true;
    QDBusUnixFileDescriptor m_sleepDelay; // held while awake; let go once we are ready to sleep
};
