// The time arithmetic of a briefing request over any preference values and stored dates.
#include "FuzzTargets.h"

#include "briefing/BriefingWindow.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

qint64 take(QByteArrayView& data)
{
    qint64 value = 0;
    const qsizetype n = std::min<qsizetype>(sizeof value, data.size());
    std::memcpy(&value, data.data(), size_t(n));
    data = data.sliced(n);
    return value;
}

} // namespace

void vardelle::fuzz::briefingWindowInput(QByteArrayView data)
{
    using std::chrono::microseconds;
    // Every real clock reads within a few thousand years of 1970; stored dates and preference
    // values may be anything a file holds.
    const Instant now{microseconds{take(data) % (qint64(1) << 60)}};
    const Instant last{microseconds{take(data)}};
    const qint64 hours = take(data);
    const qint64 minutes = take(data);
    const quint8 flags = data.isEmpty() ? 0 : quint8(data[0]);

    const Instant start = lookbackStart(now, hours);
    FUZZ_CHECK(start <= now || hours < 0);
    FUZZ_CHECK(start >= farPast);
    FUZZ_CHECK(lookbackStart(now, hours + (hours < std::numeric_limits<qint64>::max())) <= start);

    const bool quiet = withinQuietInterval(now, last, minutes);
    FUZZ_CHECK(!quiet || (last <= now && minutes > 0));
    if (minutes < std::numeric_limits<qint64>::max())
        FUZZ_CHECK(!quiet || withinQuietInterval(now, last, minutes + 1));

    const std::optional<Instant> requested = flags & 1 ? std::optional(last) : std::nullopt;
    const std::optional<Instant> lastCheck = flags & 2 ? std::optional(last) : std::nullopt;
    const BriefingWindow window = briefingWindow(now, requested, lastCheck, hours);
    FUZZ_CHECK(window.gatherFrom <= window.since);
    FUZZ_CHECK(!window.sinceLastCheck || window.since == last);
}
