#pragma once

#include "news/FeedSource.h"
#include "news/NewsCategory.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringView>
#include <QUrl>

#include <functional>

namespace vardelle {

// A feed the user added to the catalogue's twenty: any RSS or Atom address over http or https.
// Gathered like a catalogue feed (its id names it in a mirror), and switched by its own flag
// rather than by the disabled-feed ids.
struct OwnFeed {
    QString id;   // unique among the catalogue's and the other own feeds' ids
    QString name; // shown in the settings window and spoken as the source of its stories
    QUrl url;
    NewsCategory category = NewsCategory::cybersecurity;
    bool enabled = true;

    bool operator==(const OwnFeed&) const = default;

    FeedSource source() const { return {id, name, url, category}; }
};

// The stored form: an array of objects with "id", "name", "url", "category" (a identifier) and
// "enabled".
QJsonArray toJson(const QList<OwnFeed>& feeds);

// What a stored array of own feeds gives, read entry by entry.
struct OwnFeedsRead {
    // The first `limit` entries of the right shape, in order, each named as cleanFeedName()
    // leaves it, with an id unique among the catalogue's and each other's (a colliding one gets a
    // fresh id).
    QList<OwnFeed> feeds;
    // Every other entry as it was stored (of the wrong shape: not an object, a key missing or of
    // the wrong type, a category that is no identifier, an address that is not http or https, an
    // empty id; or past the limit), so that writing the feeds back loses none of them.
    QJsonArray unread;
    // One line for each entry left out, and one for all those past the limit.
    QStringList problems;
};
// A value that is not an array reads as no feeds, with a problem line.
OwnFeedsRead readOwnFeeds(const QJsonValue& value, qsizetype limit);

// The longest feed name kept, in user-perceived characters.
inline constexpr qsizetype maxFeedNameLength = 100;
// A feed name as a feed's own title or a hand-edited file gives it: control characters and the
// characters that reorder text (bidirectional embeddings, overrides and isolates) removed, white
// space collapsed and trimmed, cut to maxFeedNameLength.
QString cleanFeedName(QStringView name);

// Whether `url` is an address an own feed may have: absolute http or https with a host.
bool isFeedAddress(const QUrl& url);

// The form in which two feed addresses are compared: trimmed, scheme and host in lower case, one
// trailing slash left out. "HTTPS://Example.org/feed/" and "https://example.org/feed" are one feed.
QString comparableAddress(QStringView address);

// A new id for a feed named `name`: its letters and digits in lower case joined by "-", at most
// 40 characters ("feed" when none is left), with "-2", "-3"... added when `taken` says the id is
// in use.
QString ownFeedId(QStringView name, const std::function<bool(const QString&)>& taken);

} // namespace vardelle
