#include "news/OwnFeed.h"

#include <QJsonObject>
#include <QSet>

#include <functional>

namespace vardelle {

bool isFeedAddress(const QUrl& url)
{
    const QString scheme = url.scheme();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

QList<OwnFeed> ownFeedsFromJson(const QJsonValue& value)
{
    if (!value.isArray())
        return {};
    QList<OwnFeed> feeds;
    QSet<QString> ids;
    for (const QJsonValue& element : value.toArray()) {
        const QJsonObject object = element.toObject();
        const QJsonValue id = object.value(u"id");
        const QJsonValue name = object.value(u"name");
        const QJsonValue url = object.value(u"url");
        const QJsonValue category = object.value(u"category");
        const QJsonValue enabled = object.value(u"enabled");
        if (!element.isObject() || !id.isString() || !name.isString() || !url.isString() ||
            !category.isString() || !enabled.isBool())
            return {};
        const auto raw = newsCategoryFromRawValue(category.toString());
        const QUrl address(url.toString(), QUrl::StrictMode);
        if (!raw || !isFeedAddress(address) || id.toString().isEmpty())
            return {};
        if (ids.contains(id.toString()))
            continue;
        ids.insert(id.toString());
        feeds.append({id.toString(), name.toString(), address, *raw, enabled.toBool()});
    }
    return feeds;
}

QJsonArray toJson(const QList<OwnFeed>& feeds)
{
    QJsonArray array;
    for (const OwnFeed& feed : feeds) {
        array.append(QJsonObject{
            {u"id"_qs, feed.id},
            {u"name"_qs, feed.name},
            {u"url"_qs, feed.url.toString()},
            {u"category"_qs, rawValue(feed.category)},
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
