#pragma once

#include "news/NewsCategory.h"
#include "time/Instant.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

namespace vardelle {

// One headline. Identity for de-duplication and history is `id`; equality takes every field.
struct NewsItem {
    QString id;
    QString title;  // cleaned headline, never empty
    QString link;   // as the feed states it; may be empty; not validated
    QString source; // the feed's display name
    NewsCategory category = NewsCategory::cybersecurity;
    Instant published{};
    QString summary; // cleaned, at most 400 characters and a trailing ellipsis

    bool operator==(const NewsItem&) const = default;
};

size_t qHash(const NewsItem& item, size_t seed = 0) noexcept;

// The JSON coding: exactly the keys "id", "title", "link", "source", "category", "published"
// and "summary"; "published" is seconds since 2001-01-01 00:00:00 UTC with fraction.
QJsonObject toJson(const NewsItem& item);
// No value unless the object has every key with the right type and a known category.
std::optional<NewsItem> newsItemFromJson(const QJsonValue& value);

} // namespace vardelle
