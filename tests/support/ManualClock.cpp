#include "ManualClock.h"

namespace vardelle::test {

Instant utc(int year, int month, int day, int hour, int minute, int second, int microsecond)
{
    using namespace std::chrono;
    const sys_days date =
        year_month_day{std::chrono::year{year}, std::chrono::month{unsigned(month)},
                       std::chrono::day{unsigned(day)}};
    return Instant{date} + hours{hour} + minutes{minute} + seconds{second} +
           microseconds{microsecond};
}

} // namespace vardelle::test
