#include "time/Clock.h"

namespace vardelle {

namespace {
class SystemClock final : public Clock {
public:
    Instant now() const override
    {
        return std::chrono::floor<std::chrono::microseconds>(std::chrono::system_clock::now());
    }
};
} // namespace

const Clock& Clock::system()
{
    static const SystemClock clock;
    return clock;
}

} // namespace vardelle
