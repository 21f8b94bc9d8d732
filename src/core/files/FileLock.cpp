#include "files/FileLock.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vardelle {

FileLock::FileLock(QString path)
    : m_path(std::move(path))
{
}

FileLock::~FileLock()
{
    m_depth = std::min(m_depth, 1);
    unlock();
}

bool FileLock::lock(std::chrono::milliseconds wait)
{
    if (m_depth > 0) {
        ++m_depth;
        return true;
    }
    m_error.clear();
    const QByteArray name = QFile::encodeName(m_path);
    m_fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (m_fd < 0) {
        m_error = m_path + u": "_qs + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // Polled rather than blocking, so that the wait is bounded; holders keep the lock for a
    // read and a write of a small file, so the first or second try nearly always succeeds.
    const QDeadlineTimer deadline(wait);
    std::chrono::milliseconds pause{1};
    while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired()) {
            m_error = errno == EWOULDBLOCK
                          ? m_path + u": held by another process for more than "_qs +
                                QString::number(wait.count() / 1000.0) + u" s"_qs
                          : m_path + u": "_qs + QString::fromLocal8Bit(std::strerror(errno));
            ::close(m_fd);
            m_fd = -1;
            return false;
        }
        QThread::msleep(ulong(std::clamp<qint64>(deadline.remainingTime(), 0, pause.count())));
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
    m_depth = 1;
    return true;
}

void FileLock::unlock()
{
    if (m_depth == 0 || --m_depth > 0)
        return;
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}

} // namespace vardelle
