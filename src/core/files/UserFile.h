#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <optional>

namespace vardelle {

// Files the user names on the command line, read and written as carefully as a feed is: the path
// may name anything (a device, a pipe nobody writes to, a link, a file of gigabytes).

// What readUserFile() read: the bytes, or none and the reason in a few words.
struct UserFileRead {
    std::optional<QByteArray> bytes;
    QString error;
};

// The bytes of the regular file at `path` (links followed), or of standard input when `path` is
// "-", at most `maxBytes` of them. Anything else (a folder, a device, a pipe or socket with a
// name) is refused without being opened for reading, and so is a larger file.
UserFileRead readUserFile(const QString& path, qint64 maxBytes);

// Writes `bytes` to `path`, as the kind of file it names:
//  - a regular file, or nothing yet: replaced atomically, keeping an existing file's
//    permissions; a symbolic link is followed, and the file it points to is written, not the link
//  - a pipe or a character device (a terminal, /dev/null): written straight into, the wait for a
//    reader bounded by `wait`
//  - /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N: that descriptor of this process
// Anything else (a folder, a block device, a socket) is refused, and so is a path whose folder
// does not exist. Returns the reason in a few words when nothing or not all was written.
std::optional<QString> writeUserFile(const QString& path, const QByteArray& bytes,
                                     std::chrono::milliseconds wait = std::chrono::seconds(10));

} // namespace vardelle
