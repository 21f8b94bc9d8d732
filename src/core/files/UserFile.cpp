#include "files/UserFile.h"

#include "files/AtomicFile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardelle {

namespace {

QString systemError(int error = errno)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString tooLarge(qint64 maxBytes)
{
    return u"larger than "_qs + QString::number(maxBytes / (1024 * 1024)) + u" MiB"_qs;
}

// Reads at most `maxBytes` + 1 bytes of `fd`; none, with `error` set, when reading fails or the
// bytes do not fit.
std::optional<QByteArray> readBounded(int fd, qint64 maxBytes, QString& error)
{
    QByteArray bytes;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = systemError();
            return std::nullopt;
        }
        if (got == 0)
            return bytes;
        if (bytes.size() + got > maxBytes) {
            error = tooLarge(maxBytes);
            return std::nullopt;
        }
        bytes.append(buffer, got);
    }
}

// The descriptor a path names directly: /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N.
std::optional<int> descriptorPath(const QString& path)
{
    if (path == u"/dev/stdout")
        return STDOUT_FILENO;
    if (path == u"/dev/stderr")
        return STDERR_FILENO;
    for (const QStringView prefix : {u"/dev/fd/", u"/proc/self/fd/"}) {
        if (path.startsWith(prefix)) {
            bool ok = false;
            const int fd = path.mid(prefix.size()).toInt(&ok);
            if (ok && fd >= 0)
                return fd;
        }
    }
    return std::nullopt;
}

// Writes all of `bytes` to `fd`, waiting for room while `deadline` lasts (`waited` says how long
// that was).
std::optional<QString> writeAll(int fd, const QByteArray& bytes, const QDeadlineTimer& deadline,
                                const QString& waited)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t put =
            ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (put >= 0) {
            written += put;
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return systemError();
        pollfd wanted{fd, POLLOUT, 0};
        const int ready = ::poll(&wanted, 1, int(std::max<qint64>(deadline.remainingTime(), 0)));
        if (ready == 0)
            return u"nothing read what was written for "_qs + waited + u" s"_qs;
    }
    return std::nullopt;
}

// The path a chain of symbolic links ends at (the last one may point to nothing yet); none when
// the chain is too long.
std::optional<QString> followLinks(QString path)
{
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo info(path);
        if (!info.isSymLink())
            return path;
        path = info.symLinkTarget();
    }
    return std::nullopt;
}

} // namespace

UserFileRead readUserFile(const QString& path, qint64 maxBytes)
{
    UserFileRead read;
    if (path == u"-") {
        read.bytes = readBounded(STDIN_FILENO, maxBytes, read.error);
        return read;
    }
    // O_NONBLOCK: opening a pipe nobody writes to returns at once instead of waiting; the kind
    // of file is checked before anything is read.
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        read.error = u"cannot be read: "_qs + systemError();
        return read;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        read.error = u"cannot be read: "_qs + systemError();
    } else if (!S_ISREG(status.st_mode)) {
        read.error = S_ISDIR(status.st_mode) ? u"is a folder"_qs : u"is not a regular file"_qs;
    } else if (status.st_size > maxBytes) {
        read.error = tooLarge(maxBytes);
    } else {
        read.bytes = readBounded(fd, maxBytes, read.error);
        if (!read.bytes && read.error != tooLarge(maxBytes))
            read.error = u"cannot be read: "_qs + read.error;
    }
    ::close(fd);
    return read;
}

std::optional<QString> writeUserFile(const QString& path, const QByteArray& bytes,
                                     std::chrono::milliseconds wait)
{
    const QDeadlineTimer deadline(wait);
    const QString waited = QString::number(wait.count() / 1000.0);
    if (const std::optional<int> fd = descriptorPath(path))
        return writeAll(*fd, bytes, deadline, waited);
    const std::optional<QString> target = followLinks(path);
    if (!target)
        return QStringLiteral("too many symbolic links");
    const QByteArray name = QFile::encodeName(*target);
    struct stat status {};
    if (::stat(name.constData(), &status) != 0) {
        if (errno != ENOENT)
            return systemError();
        if (!QFileInfo(QFileInfo(*target).absolutePath()).isDir())
            return QStringLiteral("its folder does not exist");
        status.st_mode = S_IFREG;
    }
    if (S_ISDIR(status.st_mode))
        return QStringLiteral("is a folder");
    if (S_ISREG(status.st_mode)) {
        if (!writeFileAtomically(*target, bytes))
            return QStringLiteral("cannot be written");
        return std::nullopt;
    }
    if (!S_ISFIFO(status.st_mode) && !S_ISCHR(status.st_mode))
        return QStringLiteral("is neither a regular file, a pipe nor a character device");

    // A pipe with no reader yet fails to open without blocking (ENXIO); the wait for one is
    // bounded like the wait for room.
    int fd = -1;
    for (;;) {
        fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd >= 0 || errno != ENXIO || deadline.hasExpired())
            break;
        ::usleep(20'000);
    }
    if (fd < 0)
        return errno == ENXIO ? u"nothing read from the pipe for "_qs + waited + u" s"_qs
                              : systemError();
    const std::optional<QString> error = writeAll(fd, bytes, deadline, waited);
    ::close(fd);
    return error;
}

} // namespace vardelle
