#pragma once

#include "news/NewsItem.h"
#include "news/StoryGroups.h"
#include "news/WatchList.h"
#include "time/Instant.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace vardelle {

// The pure steps of a gather, between the downloads and the history check.

// The key under which two titles count as the same story: lower case, then every character that
// is not an ASCII letter, digit or space removed. Spaces are kept as they are, so "zero-day" and
// "zero day" have different keys.
QString titleKey(const QString& title);

// Newest first; items with equal dates keep their relative order.
void sortNewestFirst(QList<NewsItem>& items);

// Walks a newest-first list and keeps an item only if no kept item has its id or its title key,
// so of several copies of one story the newest survives. A title key without any letter or digit
// is not compared (it says nothing about the story).
QList<NewsItem> removeDuplicates(const QList<NewsItem>& newestFirst);

// The items published at or after `since`, in their given order.
QList<NewsItem> keepWindow(const QList<NewsItem>& items, Instant since);

// Everything the feeds delivered, in any order, to the de-duplicated stories of the window,
// newest first.
QList<NewsItem> mergeGathered(QList<NewsItem> combined, Instant since);

// At most `limit` items taken round-robin across the categories that have any, in category
// order: the newest of each, then the second newest of each, and so on. Input order within a
// category is kept; the result is not re-sorted. Empty when `limit` is less than 1.
QList<NewsItem> balance(const QList<NewsItem>& items, int limit);

// The ids of `offered` that `picked` does not hold, in their given order.
QStringList leftOutOf(const QList<NewsItem>& offered, const QList<NewsItem>& picked);
// The stories of one briefing, out of the new stories of a gather (newest first), with the
// reports of one event put together (groupStories()): the groups on the watch list (any of
// their stories on it) come first, newest first, at most `limit` of them; the places left go to
// the rest, balanced across the categories by each group's first story. `limit` counts groups,
// not stories. With an empty watch list and no two reports of one event, this is balance().
QList<StoryGroup> selectForBriefing(const QList<NewsItem>& newestFirst, int limit,
                                    const WatchList& watch);

} // namespace vardelle
