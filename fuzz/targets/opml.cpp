// An OPML file given to `vardelle feeds import`: a document the user fetched from anywhere.
#include "FuzzTargets.h"

#include "library/Opml.h"

#include <QUrl>

void vardelle::fuzz::opml(QByteArrayView data)
{
    const std::optional<QList<OpmlEntry>> entries = readOpml(data.toByteArray());
    if (!entries)
        return;
    QList<FeedSource> feeds;
    for (const OpmlEntry& entry : *entries) {
        FUZZ_CHECK(entry.address == entry.address.trimmed());
        FUZZ_CHECK(entry.name == entry.name.trimmed());
        feeds.append({QStringLiteral("own-%1").arg(feeds.size()), entry.name, QUrl(entry.address),
                      entry.category.value_or(NewsCategory::cybersecurity)});
    }
    // What was read, exported, reads back as the same feeds, grouped by category.
    const std::optional<QList<OpmlEntry>> again = readOpml(writeOpml(feeds));
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(again->size() == feeds.size());
    for (const OpmlEntry& entry : *again) {
        const auto feed = std::find_if(feeds.cbegin(), feeds.cend(), [&](const FeedSource& f) {
            return f.url.toString(QUrl::RemovePassword).trimmed() == entry.address &&
                   f.name == entry.name && entry.category == f.category;
        });
        FUZZ_CHECK(feed != feeds.cend());
    }
}
