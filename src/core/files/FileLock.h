#pragma once

#include <QString>

#include <chrono>

namespace vardelle {

// An exclusive advisory lock (flock(2)) on a lock file of its own, shared by every process that
// changes the file it guards. The lock file is made when missing (mode 0600) and never removed:
// removing it would let two processes lock two different files of one name. A symbolic link in its
// place is refused. The lock goes with the process, so a process that dies leaves nothing held.
//
// Not shared between threads; one FileLock object is one holder, and locking it twice nests.
class FileLock {
public:
    explicit FileLock(QString path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock, waiting at most `wait` for another holder to let it go. False when the wait
    // ran out or the lock file cannot be opened; errorString() says which.
    bool lock(std::chrono::milliseconds wait);
    void unlock();
    bool isLocked() const { return m_depth > 0; }
    QString errorString() const { return m_error; }
    QString path() const { return m_path; }

private:
    QString m_path;
    QString m_error;
    int m_fd = -1;
    int m_depth = 0;
};

} // namespace vardelle
