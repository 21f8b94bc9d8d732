#include "news/HttpFreshness.h"

#include "news/FeedDate.h"

#include <QByteArray>
#include <QString>

#include <algorithm>

namespace vardelle {

namespace {

// Header values longer than this are not what any server sends for these headers.
constexpr qsizetype longestValue = 256;

// A run of decimal digits, saturating at `ceiling`; none for anything else.
std::optional<qint64> digitsOf(QByteArrayView text, qint64 ceiling)
{
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = std::min(ceiling, value * 10 + (c - '0'));
    }
    return value;
}

// About 68 years: beyond any freshness or retry that matters, and safe to add to an Instant.
constexpr qint64 ceilingSeconds = std::numeric_limits<qint32>::max();

} // namespace

std::optional<std::chrono::seconds> maxAgeOf(QByteArrayView cacheControl)
{
    if (cacheControl.size() > 4 * longestValue)
        return std::nullopt;
    for (const QByteArray& directive : cacheControl.toByteArray().split(',')) {
        const QByteArray trimmed = directive.trimmed();
        const qsizetype equals = trimmed.indexOf('=');
        if (equals < 0 || trimmed.left(equals).trimmed().toLower() != "max-age")
            continue;
        QByteArray value = trimmed.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        if (const auto seconds = digitsOf(value, ceilingSeconds))
            return std::chrono::seconds(*seconds);
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<Instant> httpDateOf(QByteArrayView value)
{
    const QByteArray trimmed = value.toByteArray().trimmed();
    if (trimmed.isEmpty() || trimmed.size() > longestValue)
        return std::nullopt;
    return parseFeedDate(QString::fromLatin1(trimmed));
}

std::optional<std::chrono::seconds> freshnessOf(QByteArrayView cacheControl, QByteArrayView expires,
                                                QByteArrayView date, Instant now)
{
    if (const auto maxAge = maxAgeOf(cacheControl))
        return maxAge;
    if (expires.toByteArray().trimmed().isEmpty())
        return std::nullopt;
    // An Expires that cannot be read ("0", "-1") means already expired.
    const std::optional<Instant> until = httpDateOf(expires);
    if (!until)
        return std::chrono::seconds(0);
    const Instant from = httpDateOf(date).value_or(now);
    if (*until <= from)
        return std::chrono::seconds(0);
    return std::chrono::duration_cast<std::chrono::seconds>(
        std::min<std::chrono::microseconds>(*until - from, std::chrono::seconds(ceilingSeconds)));
}

std::optional<Instant> retryAfterOf(QByteArrayView value, Instant now, std::chrono::seconds cap)
{
    const QByteArray trimmed = value.toByteArray().trimmed();
    if (trimmed.isEmpty() || trimmed.size() > longestValue)
        return std::nullopt;
    std::optional<Instant> at;
    if (const auto seconds = digitsOf(trimmed, ceilingSeconds))
        at = now + std::min<std::chrono::seconds>(std::chrono::seconds(*seconds), cap);
    else
        at = httpDateOf(trimmed);
    if (!at || *at <= now)
        return std::nullopt;
    return std::min<Instant>(*at, now + cap);
}

} // namespace vardelle
