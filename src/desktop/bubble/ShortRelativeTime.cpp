#include "bubble/ShortRelativeTime.h"

#include <unicode/locid.h>
#include <unicode/reldatefmt.h>

#include <memory>

namespace vardelle {

namespace {

struct Amount {
    qint64 count;
    URelativeDateTimeUnit unit;
    const char* english;
};

Amount largestUnit(qint64 seconds)
{
    constexpr qint64 minute = 60, hour = 60 * minute, day = 24 * hour, week = 7 * day;
    constexpr qint64 month = 30 * day, year = 365 * day;
    if (seconds >= year)
        return {seconds / year, UDAT_REL_UNIT_YEAR, "yr."};
    if (seconds >= month)
        return {seconds / month, UDAT_REL_UNIT_MONTH, "mo."};
    if (seconds >= week)
        return {seconds / week, UDAT_REL_UNIT_WEEK, "wk."};
    if (seconds >= day)
        return {seconds / day, UDAT_REL_UNIT_DAY, "days"};
    if (seconds >= hour)
        return {seconds / hour, UDAT_REL_UNIT_HOUR, "hr."};
    if (seconds >= minute)
        return {seconds / minute, UDAT_REL_UNIT_MINUTE, "min."};
    return {seconds, UDAT_REL_UNIT_SECOND, "sec."};
}

} // namespace

QString shortRelativeTime(Instant then, Instant now)
{
    using std::chrono::duration_cast;
    using std::chrono::seconds;
    const bool future = then > now;
    const Amount amount = largestUnit(future ? duration_cast<seconds>(then - now).count()
                                             : duration_cast<seconds>(now - then).count());
    // -0.0 reads "0 sec. ago", +0.0 would read "in 0 sec.".
    const double offset = future ? double(amount.count) : -double(amount.count);

    UErrorCode status = U_ZERO_ERROR;
    icu::RelativeDateTimeFormatter formatter(icu::Locale::getDefault(), nullptr, UDAT_STYLE_SHORT,
                                             UDISPCTX_CAPITALIZATION_NONE, status);
    if (U_SUCCESS(status)) {
        icu::UnicodeString phrase;
        formatter.formatNumeric(offset, amount.unit, phrase, status);
        if (U_SUCCESS(status))
            return QString(reinterpret_cast<const QChar*>(phrase.getBuffer()), phrase.length());
    }
    const QString counted = QString::number(amount.count) + u' ' + QLatin1String(amount.english);
    return future ? QStringLiteral("in ") + counted : counted + QStringLiteral(" ago");
}

} // namespace vardelle
