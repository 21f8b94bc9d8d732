#pragma once

#include "news/NewsItem.h"
#include "time/Instant.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace vardelle {

// Everything the headline store remembers across launches; the content of state.json.
struct StoredState {
    // How many announced ids are kept; the oldest go first.
    static constexpr qsizetype seenLimit = 2000;

    std::optional<Instant> lastGather;       // when the last gather was recorded
    std::optional<Instant> lastAnnouncement; // when the last briefing with new stories was recorded
    QStringList seenIDs;                     // ids of every recorded story, oldest first
    // Ids of the stories that a briefing since the last check left out for its length, oldest
    // first: they were offered once, and later checks leave them out too.
    QStringList leftOutIDs;
    // The CVE ids a briefing has told as newly known to be exploited, oldest first.
    QStringList toldExploitedIDs;
    QList<NewsItem> lastItems; // the items of the last record
    QString lastBriefing;      // the briefing text of the last record

    bool operator==(const StoredState&) const = default;
};

// The keys "lastAnnouncement", "lastBriefing", "lastGather", "lastItems", "leftOutIDs",
// "seenIDs" and "toldExploitedIDs"; the two dates only when present, as seconds since
// 2001-01-01 00:00:00 UTC with fraction; the last two lists only when they hold any.
QJsonObject toJson(const StoredState& state);
// The file's bytes: the object above, pretty-printed, keys sorted in every object.
QByteArray encodeStoredState(const StoredState& state);

// No value unless `value` is an object holding "seenIDs" (strings), "lastItems" (items that all
// decode) and "lastBriefing" (a string), and the dates, when present and not null, are numbers.
// A "leftOutIDs" or "toldExploitedIDs" that is not an array of strings reads as none; other keys
// are ignored.
std::optional<StoredState> storedStateFromJson(const QJsonValue& value);
// Any JSON layout is accepted; no value for bytes that are not such an object.
std::optional<StoredState> decodeStoredState(const QByteArray& bytes);

} // namespace vardelle
