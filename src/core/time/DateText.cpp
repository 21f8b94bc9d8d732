#include "time/DateText.h"

#include "time/LocaleEnvironment.h"

#include <QLocale>

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <memory>

namespace vardelle {

namespace {

icu::Locale dateLocale()
{
    const icu::Locale locale(localeFromEnvironment("LC_TIME").c_str());
    return locale.isBogus() ? icu::Locale::getEnglish() : locale;
}

} // namespace

QString abbreviatedDateTime(Instant instant)
{
    const std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createDateTimeInstance(
        icu::DateFormat::kMedium, icu::DateFormat::kShort, dateLocale()));
    if (!format) {
        return QLocale::c().toString(toDateTime(instant).toLocalTime(),
                                     QStringLiteral("yyyy-MM-dd HH:mm"));
    }
    const UDate millis = static_cast<UDate>(
        std::chrono::duration_cast<std::chrono::milliseconds>(instant.time_since_epoch()).count());
    // The zone as it is now, not as it was when ICU first looked: the user may have moved.
    format->adoptTimeZone(icu::TimeZone::detectHostTimeZone());
    icu::UnicodeString text;
    format->format(millis, text);
    return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

} // namespace vardelle
