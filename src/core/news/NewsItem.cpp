#include "news/NewsItem.h"

#include <QHashFunctions>

namespace vardelle {

size_t qHash(const NewsItem& item, size_t seed) noexcept
{
    return qHashMulti(seed, item.id, item.title, item.link, item.source, item.category,
                      item.published.time_since_epoch().count(), item.summary);
}

QJsonObject toJson(const NewsItem& item)
{
    return QJsonObject{
        {u"id"_qs, item.id},
        {u"title"_qs, item.title},
        {u"link"_qs, item.link},
        {u"source"_qs, item.source},
        {u"category"_qs, identifier(item.category)},
        {u"published"_qs, toReferenceSeconds(item.published)},
        {u"summary"_qs, item.summary},
    };
}

std::optional<NewsItem> newsItemFromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();

    NewsItem item;
    const std::pair<QStringView, QString*> strings[] = {
        {u"id", &item.id},         {u"title", &item.title},     {u"link", &item.link},
        {u"source", &item.source}, {u"summary", &item.summary},
    };
    for (const auto& [key, field] : strings) {
        const QJsonValue v = object.value(key);
        if (!v.isString())
            return std::nullopt;
        *field = v.toString();
    }

    const auto category = newsCategoryFromIdentifier(object.value(u"category").toString());
    if (!object.value(u"category").isString() || !category)
        return std::nullopt;
    item.category = *category;

    const QJsonValue published = object.value(u"published");
    if (!published.isDouble())
        return std::nullopt;
    const auto instant = nearestInstantFromReferenceSeconds(published.toDouble());
    if (!instant)
        return std::nullopt;
    item.published = *instant;
    return item;
}

} // namespace vardelle
