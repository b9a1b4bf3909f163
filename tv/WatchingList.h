#pragma once

#include <QList>
#include <QString>

// What was being watched and not finished, newest first, for Home's "继续观看": the episodes (by address, with the
// video and address rows they were chosen from, so that the next episode can follow) and the films (by path).
// Kept in a small file of the user's state folder beside the resume positions, written whole to a new file that then
// takes the old one's place; at most kMaxItems. A torn or hostile file is read as far as it makes sense.
class CWatchingList
{
public:
    struct Item {
        bool film = false;
        QString name; // "长城 第3集", "本地: 红色.webm"
        QString key; // the episode's address or the film's path
        int videoId = 0; // an episode's video (its address list) and address row
        int addressId = 0;
        int scroll = 0; // the page scroll offset of the episode's video
        double position = 0; // where it was left, seconds
    };

    explicit CWatchingList(QString file);

    const QList<Item>& Items() const { return m_items; }
    // Started: first in the list (keeping where it was left, if it was there).
    void Played(Item item);
    // Left at position of duration (0 when not known): watched to its last minutes, it leaves the list.
    void Left(const QString& key, double position, double duration);
    // Played to its end: it leaves the list.
    void Finished(const QString& key);

    static constexpr int kMaxItems = 10;

private:
    void Load();
    void Save() const;

    QString m_strFile;
    QList<Item> m_items; // newest first
};
