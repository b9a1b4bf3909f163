#include "InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

CInstanceLock::CInstanceLock(const QString& path)
    : m_strPath(path)
{
}

CInstanceLock::~CInstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool CInstanceLock::Acquire()
{
    if (m_fd >= 0)
        return ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
    if (m_strPath.isEmpty())
        return true; // no private folder for a lock: run rather than refuse to start
    QDir().mkpath(QFileInfo(m_strPath).absolutePath());
    // The user's own: no other account can take it and keep this user's program from starting.
    m_fd = ::open(QFile::encodeName(m_strPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0)
        return true; // no lock file to be had: run rather than refuse to start
    return ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
}

bool CInstanceLock::AcquireWithin(int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (!Acquire()) {
        if (waited.elapsed() >= timeoutMs)
            return false;
        ::usleep(50 * 1000);
    }
    return true;
}

void CInstanceLock::Release()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}
