#pragma once

#include <vector>

#include <QDateTime>
#include <QString>

// The paired phones of this user: each holds a long random secret in a cookie; only its SHA-256 is stored here, so
// the file gives no one a phone's access. Kept as JSON in the user's state folder, written whole and atomically.
class CPhoneStore
{
public:
    struct Phone {
        QString hash; // hex SHA-256 of the secret
        QString name; // what the phone's browser says it is
        QDateTime paired;
    };

    explicit CPhoneStore(QString path);

    // Reads the file; a missing or broken file is no phones.
    void Load();
    const std::vector<Phone>& Phones() const { return m_phones; }
    // Adds a phone and returns its new secret (for the cookie); "" when it could not be stored.
    QString Add(const QString& name);
    // Whether a secret belongs to a paired phone.
    bool Knows(const QString& secret) const;
    bool Remove(const QString& hash);

    static QString HashOf(const QString& secret);

private:
    bool Save() const;

    QString m_path;
    std::vector<Phone> m_phones;
};
