#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

// Whether this program's login session is the active one on its seat, as logind (over the system bus) says. While
// another session is in front of the screen, the program takes no remote keys: the devices it can read belong to
// whoever sits there now.
class CSessionActivity : public QObject
{
    Q_OBJECT
public:
    explicit CSessionActivity(QObject* parent = nullptr);

    // Finds this process's session and follows its Active property. Without logind or without a session (a
    // service, a container) nothing tells otherwise, and the program counts as active.
    void Start();
    bool IsActive() const { return m_bActive; }

private slots:
    void OnPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);

private:
    void Refresh();

    QString m_strPath; // the session's object path
    bool m_bActive = true;
};
