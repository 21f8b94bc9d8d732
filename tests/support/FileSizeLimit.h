#pragma once

#include <sys/resource.h>

namespace vardelle::test {

// Lowers the size limit for files this process writes, so that a save fails part-way even for
// root, for whom permissions do not stop a write. The limit is restored when it goes.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool active() const { return m_active; }

private:
    rlimit m_saved{};
    bool m_active = false;
};

} // namespace vardelle::test
