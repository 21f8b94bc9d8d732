#pragma once

#include "time/Instant.h"

#include <QByteArrayView>

#include <chrono>
#include <optional>

namespace vardelle {

// Readers for the headers by which a server says how long its answer stays good and when it
// may be asked again. Every value comes from the network: anything odd gives no value.

// The max-age of a Cache-Control value ("public, max-age=600" gives 600 s); none without one.
std::optional<std::chrono::seconds> maxAgeOf(QByteArrayView cacheControl);

// An HTTP date ("Tue, 04 Jun 2024 09:00:00 GMT", and the older forms feeds also use).
std::optional<Instant> httpDateOf(QByteArrayView value);

// How long an answer stays good: its max-age, else its Expires less its Date (or less `now`
// when it has no Date). Never negative; none when the server says nothing.
std::optional<std::chrono::seconds> freshnessOf(QByteArrayView cacheControl, QByteArrayView expires,
                                                QByteArrayView date, Instant now);

// The instant a Retry-After value names, in seconds from `now` or as an HTTP date, at most
// `cap` after `now`; none when it is unreadable or already past.
std::optional<Instant> retryAfterOf(QByteArrayView value, Instant now,
                                    std::chrono::seconds cap = std::chrono::hours(24));

} // namespace vardelle
