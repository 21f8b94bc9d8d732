#include "news/OwnFeed.h"

#include "news/FeedText.h"

#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <functional>
#include <optional>

namespace vardelle {

bool isFeedAddress(const QUrl& url)
{
    const QString scheme = url.scheme();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

namespace {

// Why a stored own feed cannot be read; none when it can.
std::optional<QString> wrongShape(const QJsonValue& element)
{
    if (!element.isObject())
        return QStringLiteral("not an object");
    const QJsonObject object = element.toObject();
    for (const QStringView key : {u"id", u"name", u"url", u"category"}) {
        if (!object.value(key).isString())
            return u"\""_qs + key.toString() + u"\" is not a text"_qs;
    }
    if (!object.value(u"enabled").isBool())
        return QStringLiteral("\"enabled\" is not true or false");
    if (object.value(u"id").toString().isEmpty())
        return QStringLiteral("its id is empty");
    if (!newsCategoryFromIdentifier(object.value(u"category").toString()))
        return QStringLiteral("its category is none of cybersecurity, threatIntel, malware");
    if (!isFeedAddress(QUrl(object.value(u"url").toString(), QUrl::StrictMode)))
        return QStringLiteral("its address is not http or https");
    return std::nullopt;
}

bool isBidiControl(char32_t c)
{
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

} // namespace

OwnFeedsRead readOwnFeeds(const QJsonValue& value, qsizetype limit)
{
    OwnFeedsRead read;
    if (value.isUndefined() || value.isNull())
        return read;
    if (!value.isArray()) {
        read.problems.append(QStringLiteral("not a list of feeds; none used"));
        return read;
    }
    QSet<QString> ids;
    const auto taken = [&ids](const QString& id) {
        return ids.contains(id) || FeedSource::find(id);
    };
    qsizetype past = 0;
    qsizetype index = 0;
    for (const QJsonValue& element : value.toArray()) {
        ++index;
        if (const std::optional<QString> problem = wrongShape(element)) {
            read.unread.append(element);
            read.problems.append(u"entry "_qs + QString::number(index) + u" left out: "_qs +
                                 *problem);
            continue;
        }
        if (read.feeds.size() >= limit) {
            read.unread.append(element);
            ++past;
            continue;
        }
        const QJsonObject object = element.toObject();
        OwnFeed feed;
        feed.id = object.value(u"id").toString();
        feed.name = cleanFeedName(object.value(u"name").toString());
        feed.url = QUrl(object.value(u"url").toString(), QUrl::StrictMode);
        feed.category = *newsCategoryFromIdentifier(object.value(u"category").toString());
        feed.enabled = object.value(u"enabled").toBool();
        if (taken(feed.id)) {
            const QString fresh = ownFeedId(feed.name, taken);
            read.problems.append(u"entry "_qs + QString::number(index) + u": the id "_qs + feed.id +
                                 u" is taken; it is now "_qs + fresh);
            feed.id = fresh;
        }
        ids.insert(feed.id);
        read.feeds.append(std::move(feed));
    }
    if (past > 0)
        read.problems.append(QString::number(past) + u" feeds past the first "_qs +
                             QString::number(limit) + u" are kept but not used"_qs);
    return read;
}

QString cleanFeedName(QStringView name)
{
    // Only as much of a long name as can be kept is looked at.
    QString kept;
    kept.reserve(std::min<qsizetype>(name.size(), maxFeedNameLength * 4));
    for (qsizetype i = 0; i < name.size() && kept.size() < maxFeedNameLength * 8; ++i) {
        const QChar c = name[i];
        char32_t code = c.unicode();
        if (c.isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            code = QChar::surrogateToUcs4(c, name[i + 1]);
            kept.append(c);
            kept.append(name[++i]);
            continue;
        }
        if (QChar::category(code) == QChar::Other_Control)
            kept.append(u' ');
        else if (!isBidiControl(code) && !c.isSurrogate())
            kept.append(c);
    }
    kept = cleanText(kept);
    // Cut where a space was, the name would end in it.
    return kept.left(graphemePrefixLength(kept, maxFeedNameLength)).trimmed();
}

QJsonArray toJson(const QList<OwnFeed>& feeds)
{
    QJsonArray array;
    for (const OwnFeed& feed : feeds) {
        array.append(QJsonObject{
            {u"id"_qs, feed.id},
            {u"name"_qs, feed.name},
            {u"url"_qs, feed.url.toString()},
            {u"category"_qs, identifier(feed.category)},
            {u"enabled"_qs, feed.enabled},
        });
    }
    return array;
}

QString comparableAddress(QStringView address)
{
    QString text = address.trimmed().toString();
    const qsizetype schemeEnd = text.indexOf(u"://");
    if (schemeEnd > 0) {
        qsizetype hostEnd = schemeEnd + 3;
        while (hostEnd < text.size() && text[hostEnd] != u'/' && text[hostEnd] != u'?' &&
               text[hostEnd] != u'#')
            ++hostEnd;
        text = text.left(hostEnd).toLower() + text.mid(hostEnd);
    }
    if (text.endsWith(u'/'))
        text.chop(1);
    return text;
}

QString ownFeedId(QStringView name, const std::function<bool(const QString&)>& taken)
{
    QString base;
    bool gap = false;
    for (const QChar c : name) {
        const char16_t u = c.toLower().unicode();
        if ((u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9')) {
            if (gap && !base.isEmpty())
                base.append(u'-');
            gap = false;
            base.append(QChar(u));
        } else {
            gap = true;
        }
        if (base.size() >= 40)
            break;
    }
    while (base.endsWith(u'-'))
        base.chop(1);
    if (base.isEmpty())
        base = QStringLiteral("feed");
    QString id = base;
    for (int n = 2; taken(id); ++n)
        id = base + u'-' + QString::number(n);
    return id;
}

} // namespace vardelle
