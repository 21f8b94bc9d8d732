#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <optional>

namespace vardelle {

// Replaces the file at `path` with `bytes` in one step, making its folder when missing: a reader
// or a crash meets the old file or the new one, never half of one. False, and the old file left
// as it was, when any part of the write fails.
// With `permissions`, the new file has exactly those; without, an existing file's are kept and a
// new file gets the usual ones (0666 less the umask).
bool writeFileAtomically(const QString& path, const QByteArray& bytes,
                         std::optional<QFileDevice::Permissions> permissions = std::nullopt);

} // namespace vardelle
