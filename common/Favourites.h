#pragma once

#include <QList>
#include <QString>

// The household's own list of pages ("收藏", Home's digit 4): a name and an address each, in the order added. Kept in
// the user's state folder apart from the catalogue (an update replaces the catalogue, never this list), written whole
// to a new file that then takes the old one's place; at most kMaxItems. Read fresh by each user (the TV menu, the
// phone remote), so that what one changed the other sees. A torn or hostile file is read as far as it makes sense.
class CFavourites
{
public:
    struct Item {
        QString name;
        QString address;
    };

    // The list in the state folder, or in file.
    CFavourites();
    explicit CFavourites(QString file);

    const QList<Item>& Items() const { return m_items; }
    // Adds (or renames) the address, last; false when the list is full or the file cannot be written.
    bool Add(const QString& name, const QString& address);
    // Removes the address; false when it was not there.
    bool Remove(const QString& address);

    static constexpr int kMaxItems = 50;
    static constexpr int kMaxNameChars = 60;
    static constexpr int kMaxAddressChars = 4096;

private:
    bool Save() const;

    QString m_strFile;
    QList<Item> m_items;
};
