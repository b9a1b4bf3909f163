#pragma once

#include <QList>
#include <QPair>
#include <QString>

// Where each film (by path) and each episode (by address) was left, so that it starts there the next time it is
// chosen. Kept in a small file of the user's state folder, newest last, written whole to a new file that then takes
// the old one's place (a full disk or a read-only folder leaves the old file as it was); at most kMaxEntries, the
// oldest dropped first. A film left near its start, or watched to (or near) its end, is forgotten.
class CResumePositions
{
public:
    explicit CResumePositions(QString file);

    // The time to start at (a few seconds before where it was left), 0 for the beginning.
    double StartFor(const QString& key) const;
    // Where it was left; duration 0 when not known.
    void Remember(const QString& key, double position, double duration);
    void Forget(const QString& key);

    static constexpr int kMaxEntries = 300;
    // No film or page plays longer than this: a position beyond it is no position.
    static constexpr double kMaxSeconds = 7 * 24 * 3600.0;
    static constexpr double kRewindSeconds = 5; // starts this much earlier than where it was left
    static constexpr double kMinSeconds = 15; // left before this: starts from the beginning next time
    // Within the last tenth of its length (at most the last three minutes), a film counts as watched.
    static bool IsWatched(double position, double duration);

    // "12:34", or "1:02:03" from an hour on.
    static QString FormatTime(double seconds);

private:
    void Load();
    bool Save() const;
    bool Drop(const QString& key);

    QString m_strFile;
    QList<QPair<QString, double>> m_entries; // oldest first
};
