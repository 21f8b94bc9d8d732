#include "briefing/BriefingWindow.h"

#include <algorithm>

namespace vardelle {

using namespace std::chrono;

namespace {

// `from` moved back by `count` units of `Unit`, stopping at farPast.
template <typename Unit> Instant backFrom(Instant from, qint64 count)
{
    if (count <= 0 || from <= farPast)
        return from;
    // The distance to farPast in unsigned arithmetic, which holds it for every `from`.
    const quint64 room =
        quint64(from.time_since_epoch().count()) - quint64(farPast.time_since_epoch().count());
    if (quint64(count) >= room / quint64(duration_cast<microseconds>(Unit(1)).count()))
        return farPast;
    return from - Unit(count);
}

} // namespace

Instant lookbackStart(Instant now, qint64 hours)
{
    return backFrom<std::chrono::hours>(now, hours);
}

bool withinQuietInterval(Instant now, std::optional<Instant> last, qint64 quietMinutes)
{
    if (!last || *last > now || quietMinutes <= 0)
        return false;
    // Less than N minutes have passed exactly when fewer than N whole ones have. Counted in
    // unsigned whole minutes, so neither the distance nor the interval can overflow.
    const quint64 elapsed =
        quint64(now.time_since_epoch().count()) - quint64(last->time_since_epoch().count());
    constexpr quint64 minute = duration_cast<microseconds>(minutes(1)).count();
    return elapsed / minute < quint64(quietMinutes);
}

BriefingWindow briefingWindow(Instant now, std::optional<Instant> requested,
                              std::optional<Instant> lastCheck, qint64 lookbackHours)
{
    if (requested)
        return {*requested, *requested, false};
    if (lastCheck && *lastCheck <= now) {
        const qint64 allowance = lateStoryAllowance.count();
        return {*lastCheck, backFrom<hours>(*lastCheck, allowance), true};
    }
    const Instant start = lookbackStart(now, lookbackHours);
    return {start, start, false};
}

} // namespace vardelle
