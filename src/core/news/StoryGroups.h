#pragma once

#include "news/NewsItem.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>

namespace vardelle {

// Stories of different feeds that report one event, told once: the earliest is told, the others
// are named by their feeds. Never empty; no two stories of one feed.
struct StoryGroup {
    QList<NewsItem> stories; // earliest first

    const NewsItem& lead() const { return stories.first(); }
    // The feeds of the stories after the lead, in order.
    QStringList otherSources() const;

    bool operator==(const StoryGroup&) const = default;
};

// How far apart two reports of one event may be published, at most, unless they have the same
// link.
inline constexpr std::chrono::hours sameEventSpan{72};

// The stories of `items` with the reports of one event put together. Two stories of different feeds
// report the same event when they have the same link (scheme, user, port, "www.", fragment and
// trailing slashes aside); or, published within sameEventSpan of each other, when they name a CVE
// id in common (and at least half of the ids they name are common), or when their titles and
// summaries share enough distinctive words: names of vendors, products, companies and groups,
// numbers and amounts to two digits ("$380M" is "$380 Million", "2,318,457" is "2.3 million"; a sum
// of money is not a count), and names of several words that both summaries write alike. Precision
// comes first: common words of English and of security news ("hackers", "ransomware", "npm
// packages") count for nothing, names most stories carry ("Microsoft", "Chrome") for little, and
// any word the less the more stories of `items` use it; words side by side in both titles count as
// one name; a strong word must be in both titles, and two names alone need a number, a third name
// or another word of both titles (or two broad names) besides. Two stories that both name CVE ids,
// none in common, are different events. A story joins the group it matches at least half of, all
// within sameEventSpan of the group's earliest.
//
// The groups come in the order of their first story in `items`; within a group, earliest first
// (in the order of `items` for equal times). Titles and summaries are read up to a bound. Pure;
// safe from any thread.
QList<StoryGroup> groupStories(const QList<NewsItem>& items);

// Every story of `groups`, group after group.
QList<NewsItem> storiesOf(const QList<StoryGroup>& groups);
// How many stories each group holds, in order.
QList<qsizetype> groupSizes(const QList<StoryGroup>& groups);
// `items` cut into consecutive groups of `sizes` stories; each item a group of its own when the
// sizes do not add up to the number of items (or are empty).
QList<StoryGroup> groupsBySize(const QList<NewsItem>& items, const QList<qsizetype>& sizes);

// The way a briefing says a list: "A", "A and B", "A, B and C".
QString spokenList(const QStringList& words);

} // namespace vardelle
