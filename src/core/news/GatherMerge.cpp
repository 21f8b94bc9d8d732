#include "news/GatherMerge.h"

#include <QSet>

#include <algorithm>
#include <array>

namespace vardelle {

QString titleKey(const QString& title)
{
    const QString lower = title.toLower();
    QString key;
    key.reserve(lower.size());
    for (const QChar c : lower) {
        const char16_t u = c.unicode();
        if ((u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u' ')
            key.append(c);
    }
    return key;
}

void sortNewestFirst(QList<NewsItem>& items)
{
    std::stable_sort(items.begin(), items.end(), [](const NewsItem& a, const NewsItem& b) {
        return a.published > b.published;
    });
}

QList<NewsItem> removeDuplicates(const QList<NewsItem>& newestFirst)
{
    QSet<QString> ids;
    QSet<QString> keys;
    QList<NewsItem> kept;
    kept.reserve(newestFirst.size());
    for (const NewsItem& item : newestFirst) {
        QString key = titleKey(item.title);
        // A title written wholly in other scripts or symbols leaves no letter or digit in its
        // key; such keys would make unrelated stories look alike, so only the id counts then.
        const bool keyed = std::any_of(key.cbegin(), key.cend(), [](QChar c) { return c != u' '; });
        if (ids.contains(item.id) || (keyed && keys.contains(key)))
            continue;
        ids.insert(item.id);
        if (keyed)
            keys.insert(std::move(key));
        kept.append(item);
    }
    return kept;
}

QList<NewsItem> keepWindow(const QList<NewsItem>& items, Instant since)
{
    QList<NewsItem> kept;
    kept.reserve(items.size());
    std::copy_if(items.cbegin(), items.cend(), std::back_inserter(kept),
                 [since](const NewsItem& item) { return item.published >= since; });
    return kept;
}

QList<NewsItem> mergeGathered(QList<NewsItem> combined, Instant since)
{
    sortNewestFirst(combined);
    // Both steps keep the order, so the result is still newest first.
    return keepWindow(removeDuplicates(combined), since);
}

namespace {

NewsCategory categoryOf(const NewsItem& item)
{
    return item.category;
}

NewsCategory categoryOf(const StoryGroup& group)
{
    return group.lead().category;
}

template <class T> QList<T> balanced(const QList<T>& entries, int limit)
{
    if (limit < 1)
        return {};

    std::array<QList<T>, allNewsCategories.size()> perCategory;
    for (const T& entry : entries)
        perCategory[static_cast<size_t>(categoryOf(entry))].append(entry);

    QList<T> result;
    for (qsizetype round = 0; result.size() < limit; ++round) {
        bool appended = false;
        for (const QList<T>& list : perCategory) {
            if (list.size() <= round)
                continue;
            result.append(list[round]);
            appended = true;
            if (result.size() == limit)
                return result;
        }
        if (!appended)
            break;
    }
    return result;
}

} // namespace

QList<NewsItem> balance(const QList<NewsItem>& items, int limit)
{
    return balanced(items, limit);
}

QStringList leftOutOf(const QList<NewsItem>& offered, const QList<NewsItem>& picked)
{
    QSet<QString> pickedIDs;
    for (const NewsItem& item : picked)
        pickedIDs.insert(item.id);
    QStringList ids;
    for (const NewsItem& item : offered) {
        if (!pickedIDs.contains(item.id))
            ids.append(item.id);
    }
    return ids;
}

QList<StoryGroup> selectForBriefing(const QList<NewsItem>& newestFirst, int limit,
                                    const WatchList& watch)
{
    if (limit < 1)
        return {};
    // Each group where its newest story is, as the stories come newest first.
    const QList<StoryGroup> groups = groupStories(newestFirst);
    if (watch.isEmpty())
        return balanced(groups, limit);
    QList<StoryGroup> watched;
    QList<StoryGroup> rest;
    rest.reserve(groups.size());
    for (const StoryGroup& group : groups) {
        const bool onList =
            watched.size() < limit &&
            std::any_of(group.stories.cbegin(), group.stories.cend(),
                        [&watch](const NewsItem& item) { return watch.match(item).has_value(); });
        (onList ? watched : rest).append(group);
    }
    watched.append(balanced(rest, limit - int(watched.size())));
    return watched;
}

} // namespace vardelle
