#pragma once

#include <QDateTime>
#include <QString>

struct VersionPair {
    bool hasApp = false;
    bool hasData = false;
    int app = 0;
    int data = 0;
};

// Reads section "Main", keys "APP_VER" and "DATA_VER" of a version file (absent file: neither key).
VersionPair ReadVersionFile(const QString& path);
// The text of another key of section "Main" (the archives' hashes APP_SHA256 and DATA_SHA256, REQUIRE_SHA256);
// "" when absent.
QString ReadVersionText(const QString& path, const wchar_t* key);

// Records the installed versions (ver.dat) and returns 1 when Update/ver.dat offers a newer application or data
// version, that is when a downloaded update waits for the updater; else 0.
int CheckPendingUpdate();

// Whether today (local time) falls on the weekday on which the program file "krel" beside the executable was
// created (UTC). The file's birth time is used where the file system keeps one, else its modification time.
// A missing file is never an update day.
bool IsUpdateDay();
bool IsUpdateDayAt(const QDateTime& now);
