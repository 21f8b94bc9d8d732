#include "files/AtomicFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace vardelle {

bool writeFileAtomically(const QString& path, const QByteArray& bytes,
                         std::optional<QFileDevice::Permissions> permissions)
{
    if (path.isEmpty() || !QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    // Unbuffered, so that a short or failed write shows here: QSaveFile::commit() does not notice
    // an error that only happens while it flushes its buffer, and would then replace the previous
    // file with a truncated one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if ((permissions && !file.setPermissions(*permissions)) || file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace vardelle
