#pragma once

#include <QList>

#include <algorithm>
#include <ctime>

namespace vardelle::bench {

// This thread's CPU time: steady on a machine busy with other work, unlike the wall clock.
inline double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

inline double medianMs(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace vardelle::bench
