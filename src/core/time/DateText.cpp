#include "time/DateText.h"

#include <QByteArray>
#include <QLocale>

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <memory>

namespace vardelle {

namespace {

icu::Locale dateLocale()
{
    QByteArray name;
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        name = qgetenv(variable);
        if (!name.isEmpty())
            break;
    }
    for (char end : {'.', '@'}) {
        if (const qsizetype at = name.indexOf(end); at >= 0)
            name.truncate(at);
    }
    if (name.isEmpty() || name == "C" || name == "POSIX")
        return icu::Locale::getEnglish();
    for (const char c : name) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                             (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!allowed)
            return icu::Locale::getEnglish();
    }
    const icu::Locale locale(name.constData());
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
