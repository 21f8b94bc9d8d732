#pragma once

#include <QByteArray>
#include <QString>

namespace vardelle {

// Replaces the file at `path` with `bytes` in one step, making its folder when missing: a reader
// or a crash meets the old file or the new one, never half of one. False, and the old file left
// as it was, when any part of the write fails.
bool writeFileAtomically(const QString& path, const QByteArray& bytes);

} // namespace vardelle
