#pragma once

#include "time/Clock.h"

namespace vardelle::test {

// A clock that stands still until a test moves it.
class ManualClock final : public Clock {
public:
    explicit ManualClock(Instant start)
        : m_now(start)
    {
    }
    Instant now() const override { return m_now; }
    void set(Instant instant) { m_now = instant; }
    template <class Duration> void advance(Duration by)
    {
        m_now += std::chrono::duration_cast<std::chrono::microseconds>(by);
    }

private:
    Instant m_now;
};

// 2024-06-04 09:15:00 UTC and friends, for readable fixtures.
Instant utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
            int microsecond = 0);

} // namespace vardelle::test
