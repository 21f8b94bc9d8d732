#pragma once

#include <QByteArray>
#include <QString>

namespace vardelle::test {

// The shared corpus of real feed documents, or an empty string when it is not on this machine.
// VARDELLE_CORPUS in the environment overrides the configured folder.
QString corpusDir();

// A fixture from tests/data, read whole; fails the calling test when it is missing.
QByteArray readTestData(const QString& relativePath);

// The whole file, or nothing when it cannot be read.
QByteArray readFile(const QString& path);
// Writes `bytes` as the whole file, making its folder; fails the calling test when it cannot.
void writeFile(const QString& path, const QByteArray& bytes);

// Points this process's XDG_CONFIG_HOME, XDG_DATA_HOME, XDG_CACHE_HOME, XDG_STATE_HOME and
// XDG_RUNTIME_DIR at folders of those names in `home` and makes them (the runtime folder private
// to the user, as the session's is), so a test never touches the user's own files; fails the
// calling test when a folder cannot be made.
void useUserFolders(const QString& home);

} // namespace vardelle::test
