#pragma once

#include "news/NewsCategory.h"

#include <QList>
#include <QString>
#include <QUrl>

namespace vardelle {

// One row of the feed catalogue. Never persisted.
struct FeedSource {
    QString id;   // stable short identifier; the key by which a single feed is disabled
    QString name; // display name; also the source of every item parsed from the feed
    QUrl url;     // the feed document's absolute HTTPS address
    NewsCategory category;

    bool operator==(const FeedSource&) const = default;

    // The twenty feeds, in catalogue order; the same list object on every call.
    static const QList<FeedSource>& catalog();
    // The catalogue rows of one category, in catalogue order.
    static QList<FeedSource> sources(NewsCategory category);
    // The catalogue row with this id, if any.
    static const FeedSource* find(QStringView id);
};

size_t qHash(const FeedSource& source, size_t seed = 0) noexcept;

} // namespace vardelle
