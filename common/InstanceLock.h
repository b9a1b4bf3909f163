#pragma once

#include <QString>

// The single-instance lock "Parlowen": an exclusive lock on a file of the user's own, released by the kernel when the
// process ends in any way, so a crashed instance never blocks the next start. The updater holds the same lock for
// its whole run, so that the program never runs beside it and two updaters never run at once.
// Set by the updater for the program it starts again.
inline constexpr char kAfterUpdaterVariable[] = "KREL_AFTER_UPDATER";

class CInstanceLock
{
public:
    explicit CInstanceLock(const QString& path);
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // False when another process holds the lock.
    bool Acquire();
    // Tries for up to timeoutMs while another process holds the lock (one that is just ending, say).
    bool AcquireWithin(int timeoutMs);
    void Release();

private:
    QString m_strPath;
    int m_fd = -1;
};
