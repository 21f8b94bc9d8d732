#include "news/FeedDate.h"

#include "news/FeedText.h"

#include <QString>

#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <array>
#include <memory>

namespace vardelle {

namespace {

using namespace std::chrono;

constexpr std::array patterns{
    u"EEE, dd MMM yyyy HH:mm:ss Z",
    u"EEE, dd MMM yyyy HH:mm:ss zzz",
    u"EEE, d MMM yyyy HH:mm:ss Z",
    u"yyyy-MM-dd'T'HH:mm:ssZZZZZ",
    u"yyyy-MM-dd'T'HH:mm:ss.SSSZZZZZ",
    u"yyyy-MM-dd'T'HH:mm:ss'Z'",
    u"yyyy-MM-dd HH:mm:ss",
    u"yyyy-MM-dd",
};

using Formats = std::array<std::unique_ptr<icu::SimpleDateFormat>, patterns.size()>;

// Building pattern parsers is costly: they are built once per process, and each thread works on
// its own copies because a parser keeps per-parse state in its calendar.
const Formats& prototypeFormats()
{
    static const Formats formats = [] {
        Formats built;
        const icu::Locale posix("en_US_POSIX");
        for (size_t i = 0; i < patterns.size(); ++i) {
            UErrorCode status = U_ZERO_ERROR;
            auto format = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString(patterns[i]),
                                                                  posix, status);
            if (U_FAILURE(status))
                continue;
            format->setLenient(false);
            format->setTimeZone(*icu::TimeZone::getGMT());
            built[i] = std::move(format);
        }
        return built;
    }();
    return formats;
}

const Formats& threadFormats()
{
    thread_local const Formats formats = [] {
        Formats copies;
        const Formats& prototypes = prototypeFormats();
        for (size_t i = 0; i < prototypes.size(); ++i) {
            if (prototypes[i])
                copies[i].reset(prototypes[i]->clone());
        }
        return copies;
    }();
    return formats;
}

bool readDigits(QStringView s, qsizetype& pos, int count, int& value)
{
    if (pos + count > s.size())
        return false;
    value = 0;
    for (int i = 0; i < count; ++i) {
        const char16_t c = s[pos + i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + (c - u'0');
    }
    pos += count;
    return true;
}

bool readChar(QStringView s, qsizetype& pos, char16_t c)
{
    if (pos >= s.size() || s[pos] != c)
        return false;
    ++pos;
    return true;
}

// 2024-05-01T12:30:00.250Z or 2024-05-01T12:30:00.250+02:00: the internet date-time form with
// fractional seconds, kept to the microsecond.
std::optional<Instant> parseIsoWithFraction(QStringView s)
{
    qsizetype pos = 0;
    int year, month, day, hour, minute, second;
    if (!readDigits(s, pos, 4, year) || !readChar(s, pos, u'-') || !readDigits(s, pos, 2, month) ||
        !readChar(s, pos, u'-') || !readDigits(s, pos, 2, day) || !readChar(s, pos, u'T') ||
        !readDigits(s, pos, 2, hour) || !readChar(s, pos, u':') || !readDigits(s, pos, 2, minute) ||
        !readChar(s, pos, u':') || !readDigits(s, pos, 2, second) || !readChar(s, pos, u'.'))
        return std::nullopt;

    qint64 micros = 0;
    int fractionDigits = 0;
    for (; pos < s.size() && s[pos].isDigit() && s[pos].unicode() < 0x80; ++pos, ++fractionDigits) {
        if (fractionDigits < 6)
            micros = micros * 10 + (s[pos].unicode() - u'0');
    }
    if (fractionDigits == 0)
        return std::nullopt;
    for (int i = fractionDigits; i < 6; ++i)
        micros *= 10;

    minutes offset{0};
    if (readChar(s, pos, u'Z')) {
    } else if (pos < s.size() && (s[pos] == u'+' || s[pos] == u'-')) {
        const int sign = s[pos] == u'-' ? -1 : 1;
        ++pos;
        int offsetHours, offsetMinutes;
        if (!readDigits(s, pos, 2, offsetHours) || !readChar(s, pos, u':') ||
            !readDigits(s, pos, 2, offsetMinutes) || offsetHours > 23 || offsetMinutes > 59)
            return std::nullopt;
        offset = minutes{sign * (offsetHours * 60 + offsetMinutes)};
    } else {
        return std::nullopt;
    }
    if (pos != s.size())
        return std::nullopt;

    const year_month_day date{std::chrono::year{year}, std::chrono::month{unsigned(month)},
                              std::chrono::day{unsigned(day)}};
    if (!date.ok() || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    return Instant{sys_days{date}} + hours{hour} + minutes{minute} + seconds{second} +
           microseconds{micros} - offset;
}

// "Tue, 04 Jun 24 09:15:00 GMT": the year of the RFC 822 forms written with two digits. Returns
// the text with the century put in, or an empty string when the text has no such year.
QString withCentury(QStringView s)
{
    // The year is the fourth field: weekday, day, month, year.
    qsizetype start = 0;
    for (int field = 0; field < 3; ++field) {
        start = s.indexOf(u' ', start);
        if (start < 0)
            return {};
        ++start;
    }
    if (!s.first(start).contains(u','))
        return {};
    qsizetype pos = start;
    int yy;
    if (!readDigits(s, pos, 2, yy) || pos >= s.size() || s[pos] != u' ')
        return {};
    const int century = yy < 50 ? 2000 : 1900;
    return s.first(start).toString() + QString::number(century + yy) + s.sliced(pos).toString();
}

// ICU's pattern reader is not safe on every text: a fraction of 35 digits or more makes it divide
// by zero (SIGFPE) inside SimpleDateFormat, in ICU 72 at least. No form it is asked to read is
// longer than this, has a run of more digits than a fraction to the nanosecond, or needs anything
// but ASCII, so only texts of that shape reach it.
constexpr qsizetype maxPatternText = 64;
constexpr int maxDigitRun = 9;

bool safeForPatternReader(QStringView s)
{
    if (s.size() > maxPatternText)
        return false;
    int run = 0;
    for (const QChar c : s) {
        if (c.unicode() >= 0x80)
            return false;
        run = c.isDigit() ? run + 1 : 0;
        if (run > maxDigitRun)
            return false;
    }
    return true;
}

} // namespace

std::optional<Instant> parseFeedDate(QStringView text)
{
    text = trimmed(text);
    if (text.isEmpty())
        return std::nullopt;
    if (auto iso = parseIsoWithFraction(text))
        return iso;

    const QString fixedYear = withCentury(text);
    if (!fixedYear.isEmpty())
        text = fixedYear;
    if (!safeForPatternReader(text))
        return std::nullopt;
    // Read-only alias of the UTF-16 text: no copy.
    const icu::UnicodeString source(false, text.utf16(), int32_t(text.size()));
    for (const auto& format : threadFormats()) {
        if (!format)
            continue;
        icu::ParsePosition position(0);
        const UDate date = format->parse(source, position);
        if (position.getErrorIndex() < 0 && position.getIndex() == source.length())
            return instantFromUDate(date);
    }
    return std::nullopt;
}

} // namespace vardelle
