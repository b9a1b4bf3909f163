#pragma once

#include <QString>

// The single-instance lock "Parlowen": an exclusive lock on a per-machine file, released by the kernel when the
// process ends in any way, so a crashed instance never blocks the next start.
class CInstanceLock
{
public:
    explicit CInstanceLock(const QString& path);
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // False when another process holds the lock.
    bool Acquire();

private:
    QString m_strPath;
    int m_fd = -1;
};
