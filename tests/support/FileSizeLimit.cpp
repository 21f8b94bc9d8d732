#include "FileSizeLimit.h"

#include <csignal>

namespace vardelle::test {

FileSizeLimit::FileSizeLimit(rlim_t bytes)
{
    // A write past the limit then fails with EFBIG instead of killing the process.
    std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &m_saved);
    rlimit lowered = m_saved;
    lowered.rlim_cur = bytes;
    m_active = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    setrlimit(RLIMIT_FSIZE, &m_saved);
}

} // namespace vardelle::test
