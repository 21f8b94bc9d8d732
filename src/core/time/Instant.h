#pragma once

#include <QDateTime>

#include <chrono>
#include <optional>

namespace vardelle {

// An absolute point in time, to the microsecond.
using Instant = std::chrono::sys_time<std::chrono::microseconds>;

// Stored instants are seconds since 2001-01-01 00:00:00 UTC, with their fraction.
inline constexpr std::chrono::seconds referenceEpochOffset{978307200};

double toReferenceSeconds(Instant instant);
// Rounds to the nearest microsecond; no value for NaN, infinities or numbers beyond the
// range of an Instant.
std::optional<Instant> instantFromReferenceSeconds(double seconds);
// The same, but numbers beyond that range (infinities too) give the nearest instant it holds;
// no value only for NaN. For stored dates, where one odd number must not spoil the rest.
std::optional<Instant> nearestInstantFromReferenceSeconds(double seconds);

// ICU's UDate: milliseconds since 1970, as a double.
Instant instantFromUDate(double milliseconds);

QDateTime toDateTime(Instant instant); // UTC, millisecond precision
// The local midnight that begins the day `instant` falls on (or the day's first moment, when a
// clock change skips midnight).
Instant startOfLocalDay(Instant instant);
Instant instantFromDateTime(const QDateTime& dateTime);

} // namespace vardelle
