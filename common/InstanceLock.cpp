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
    QDir().mkpath(QFileInfo(m_strPath).absolutePath());
    // Readable and writable by everybody: every user of the machine must be able to take the same lock.
    m_fd = ::open(QFile::encodeName(m_strPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (m_fd < 0)
        return true; // no lock file to be had: run rather than refuse to start
    ::fchmod(m_fd, 0666);
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
