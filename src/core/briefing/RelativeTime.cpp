#include "briefing/RelativeTime.h"

#include "time/LocaleEnvironment.h"

#include <QByteArray>
#include <QtGlobal>

#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/ures.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace vardelle {

namespace {

using namespace std::chrono;

// ---------------------------------------------------------------------------------------------
// The user's locale

// Whether ICU has locale data for the language of `name` (itself or a parent other than root),
// rather than falling back to its default locale.
bool icuHasData(const std::string& name)
{
    UErrorCode status = U_ZERO_ERROR;
    UResourceBundle* bundle = ures_open(nullptr, name.c_str(), &status);
    bool has = U_SUCCESS(status) && status != U_USING_DEFAULT_WARNING && bundle;
    if (has) {
        UErrorCode actualStatus = U_ZERO_ERROR;
        const char* actual = ures_getLocaleByType(bundle, ULOC_ACTUAL_LOCALE, &actualStatus);
        has = U_SUCCESS(actualStatus) && actual && std::strcmp(actual, "root") != 0;
    }
    ures_close(bundle);
    return has;
}

struct LocaleFormatter {
    icu::Locale locale;
    std::unique_ptr<const icu::RelativeDateTimeFormatter> formatter; // null if ICU failed
};

UDateRelativeDateTimeFormatterStyle icuStyle(RelativeStyle style)
{
    return style == RelativeStyle::abbreviated ? UDAT_STYLE_SHORT : UDAT_STYLE_LONG;
}

// One formatter per locale name for the whole process (formatting is const and thread-safe);
// never destroyed, so no thread can outlive it.
const LocaleFormatter& formatterFor(const std::string& environmentName, RelativeStyle style)
{
    static auto* const mutex = new std::mutex;
    static auto* const cache = new std::map<std::pair<std::string, RelativeStyle>, LocaleFormatter>;
    const std::lock_guard lock(*mutex);
    const auto key = std::make_pair(environmentName, style);
    auto found = cache->find(key);
    if (found != cache->end())
        return found->second;

    LocaleFormatter entry;
    entry.locale = icu::Locale(icuHasData(environmentName) ? environmentName.c_str() : "en");
    UErrorCode status = U_ZERO_ERROR;
    auto formatter = std::make_unique<icu::RelativeDateTimeFormatter>(
        entry.locale, nullptr, icuStyle(style), UDISPCTX_CAPITALIZATION_NONE, status);
    if (U_SUCCESS(status))
        entry.formatter = std::move(formatter);
    return cache->emplace(key, std::move(entry)).first->second;
}

// ---------------------------------------------------------------------------------------------
// The relative phrase

struct RelativeAmount {
    qint64 count;
    URelativeDateTimeUnit unit;
};

double toUDate(Instant instant)
{
    return double(instant.time_since_epoch().count()) / 1000.0;
}

// Whole calendar years, else whole calendar months, from `earlier` to `later` in the default
// time zone; {0, month} when less than a month or the calendar is unavailable.
RelativeAmount calendarDifference(const icu::Locale& locale, Instant earlier, Instant later)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(locale, status));
    if (U_FAILURE(status) || !calendar)
        return {0, UDAT_REL_UNIT_MONTH};
    calendar->setTime(toUDate(earlier), status);
    const int32_t years = calendar->fieldDifference(toUDate(later), UCAL_YEAR, status);
    if (U_SUCCESS(status) && years >= 1)
        return {years, UDAT_REL_UNIT_YEAR};
    const int32_t months = calendar->fieldDifference(toUDate(later), UCAL_MONTH, status);
    if (U_SUCCESS(status) && months >= 1)
        return {months, UDAT_REL_UNIT_MONTH};
    return {0, UDAT_REL_UNIT_MONTH};
}

// The largest unit with a whole count of at least one; seconds (possibly zero) otherwise.
RelativeAmount relativeAmount(const icu::Locale& locale, Instant earlier, Instant later)
{
    const qint64 span = (later - earlier).count(); // microseconds, never negative
    constexpr qint64 second = 1'000'000;
    constexpr qint64 minute = 60 * second;
    constexpr qint64 hour = 60 * minute;
    constexpr qint64 day = 24 * hour;
    constexpr qint64 week = 7 * day;
    if (span >= day) {
        if (const RelativeAmount calendar = calendarDifference(locale, earlier, later);
            calendar.count >= 1)
            return calendar;
    }
    if (span >= week)
        return {span / week, UDAT_REL_UNIT_WEEK};
    if (span >= day)
        return {span / day, UDAT_REL_UNIT_DAY};
    if (span >= hour)
        return {span / hour, UDAT_REL_UNIT_HOUR};
    if (span >= minute)
        return {span / minute, UDAT_REL_UNIT_MINUTE};
    return {span / second, UDAT_REL_UNIT_SECOND};
}

// Used only if ICU cannot build a formatter at all.
QString englishPhrase(double offset, RelativeAmount amount)
{
    const char* unit = "second";
    switch (amount.unit) {
    case UDAT_REL_UNIT_YEAR:
        unit = "year";
        break;
    case UDAT_REL_UNIT_MONTH:
        unit = "month";
        break;
    case UDAT_REL_UNIT_WEEK:
        unit = "week";
        break;
    case UDAT_REL_UNIT_DAY:
        unit = "day";
        break;
    case UDAT_REL_UNIT_HOUR:
        unit = "hour";
        break;
    case UDAT_REL_UNIT_MINUTE:
        unit = "minute";
        break;
    default:
        break;
    }
    const QString counted = QString::number(amount.count) + u' ' + QLatin1String(unit) +
                            (amount.count == 1 ? QString() : QStringLiteral("s"));
    return std::signbit(offset) ? counted + QStringLiteral(" ago") : u"in "_qs + counted;
}

// An instant up to a second back (and `then` equal to now) reads as zero seconds ago: ICU
// formats -0.0 in the past form and +0.0 as "in 0 seconds".
QString phraseIn(const LocaleFormatter& locale, Instant since, Instant now)
{
    const bool future = since > now;
    const RelativeAmount amount = future ? relativeAmount(locale.locale, now, since)
                                         : relativeAmount(locale.locale, since, now);
    const double offset = future ? double(amount.count) : -double(amount.count);
    if (locale.formatter) {
        UErrorCode status = U_ZERO_ERROR;
        icu::UnicodeString phrase;
        locale.formatter->formatNumeric(offset, amount.unit, phrase, status);
        if (U_SUCCESS(status))
            return QString(reinterpret_cast<const QChar*>(phrase.getBuffer()), phrase.length());
    }
    return englishPhrase(offset, amount);
}

} // namespace

QString relativeTimePhrase(Instant since, Instant now, RelativeStyle style)
{
    return phraseIn(formatterFor(localeFromEnvironment("LC_MESSAGES"), style), since, now);
}

QString englishRelativeTimePhrase(Instant since, Instant now, RelativeStyle style)
{
    return phraseIn(formatterFor("en", style), since, now);
}

} // namespace vardelle
