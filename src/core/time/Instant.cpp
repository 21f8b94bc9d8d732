#include "time/Instant.h"

#include <algorithm>
#include <cmath>

namespace vardelle {

using std::chrono::microseconds;

namespace {
constexpr qint64 referenceEpochMicros =
    std::chrono::duration_cast<microseconds>(referenceEpochOffset).count();
// Keeps every conversion far from 64-bit overflow: about ±290,000 years.
constexpr double maxAbsMicros = 9.0e18;
} // namespace

double toReferenceSeconds(Instant instant)
{
    const qint64 micros = instant.time_since_epoch().count() - referenceEpochMicros;
    return double(micros) / 1e6;
}

std::optional<Instant> instantFromReferenceSeconds(double seconds)
{
    const double micros = std::round(seconds * 1e6);
    if (!std::isfinite(micros) || std::fabs(micros) > maxAbsMicros - double(referenceEpochMicros))
        return std::nullopt;
    return Instant{microseconds{qint64(micros) + referenceEpochMicros}};
}

std::optional<Instant> nearestInstantFromReferenceSeconds(double seconds)
{
    if (std::isnan(seconds))
        return std::nullopt;
    // A second inside the range, so that rounding cannot carry the product past it.
    const double limit = (maxAbsMicros - double(referenceEpochMicros)) / 1e6 - 1.0;
    return instantFromReferenceSeconds(std::clamp(seconds, -limit, limit));
}

Instant instantFromUDate(double milliseconds)
{
    const double micros = std::round(milliseconds * 1e3);
    if (!std::isfinite(micros) || std::fabs(micros) > maxAbsMicros)
        return Instant{};
    return Instant{microseconds{qint64(micros)}};
}

QDateTime toDateTime(Instant instant)
{
    const auto ms = std::chrono::floor<std::chrono::milliseconds>(instant);
    return QDateTime::fromMSecsSinceEpoch(ms.time_since_epoch().count(), Qt::UTC);
}

Instant startOfLocalDay(Instant instant)
{
    return instantFromDateTime(toDateTime(instant).toLocalTime().date().startOfDay());
}

Instant instantFromDateTime(const QDateTime& dateTime)
{
    return Instant{microseconds{dateTime.toMSecsSinceEpoch() * 1000}};
}

} // namespace vardelle
