#include "briefing/BriefingText.h"

#include "briefing/RelativeTime.h"
#include "briefing/SpeechText.h"
#include "news/NewsCategory.h"
#include "time/Clock.h"

#include <QStringList>

#include <algorithm>

// The briefing is English, the relative phrase of the opening included, whatever the locale.

namespace vardelle {

namespace {

QString storiesWord(qsizetype count)
{
    return count == 1 ? QStringLiteral("story") : QStringLiteral("stories");
}

} // namespace

QString briefingOpening(qsizetype count, Instant since, const Clock& clock)
{
    return u"Here is your security briefing. "_qs + QString::number(count) + u" new "_qs +
           storiesWord(count) + u" since "_qs +
           englishRelativeTimePhrase(since, clock.now(), RelativeStyle::full) + u'.';
}

QList<BriefingPart> composeBriefingParts(const QList<NewsItem>& items, Instant since,
                                         const Clock& clock, const WatchList& watch)
{
    return composeBriefingParts(groupsBySize(items, {}), since, clock, watch);
}

QList<BriefingPart> composeBriefingParts(const QList<StoryGroup>& groups, Instant since,
                                         const Clock& clock, const WatchList& watch)
{
    QList<BriefingPart> parts;
    parts.reserve(groups.size() + 2);
    parts.append({briefingOpening(groups.size(), since, clock), std::nullopt});

    // A section's heading is spoken with its first story, so that no part is a bare count.
    const auto appendSection = [&parts](const QString& heading,
                                        const QList<const StoryGroup*>& selected) {
        if (selected.isEmpty())
            return;
        QString lead = heading + QString::number(selected.size()) + u' ' +
                       storiesWord(selected.size()) + u". "_qs;
        for (const StoryGroup* group : selected) {
            const NewsItem& item = group->lead();
            QString text = lead + u"From "_qs + cleanForSpeech(item.source) + u". "_qs +
                           cleanForSpeech(item.title) + u'.';
            if (group->stories.size() > 1) {
                QStringList others;
                for (const QString& source : group->otherSources())
                    others.append(cleanForSpeech(source));
                text += u" Also reported by "_qs + spokenList(others) + u'.';
            }
            parts.append({text, item});
            lead.clear();
        }
    };

    const auto newest = [](const StoryGroup* group) {
        Instant latest = group->lead().published;
        for (const NewsItem& item : group->stories)
            latest = std::max(latest, item.published);
        return latest;
    };
    QList<const StoryGroup*> watched;
    QList<const StoryGroup*> others;
    for (const StoryGroup& group : groups) {
        const bool onList =
            std::any_of(group.stories.cbegin(), group.stories.cend(),
                        [&watch](const NewsItem& item) { return watch.match(item).has_value(); });
        (onList ? watched : others).append(&group);
    }
    std::stable_sort(
        watched.begin(), watched.end(),
        [&newest](const StoryGroup* a, const StoryGroup* b) { return newest(a) > newest(b); });
    appendSection(u"On your watch list, "_qs, watched);

    for (NewsCategory category : allNewsCategories) {
        QList<const StoryGroup*> selected;
        for (const StoryGroup* group : others) {
            if (group->lead().category == category)
                selected.append(group);
        }
        appendSection(u"In "_qs + spokenName(category) + u", "_qs, selected);
    }
    parts.append({QStringLiteral("That is everything new since the last check."), std::nullopt});
    return parts;
}

QString joinedText(const QList<BriefingPart>& parts)
{
    QStringList texts;
    texts.reserve(parts.size());
    for (const BriefingPart& part : parts)
        texts.append(part.text);
    return texts.join(u' ');
}

QString composeBriefing(const QList<NewsItem>& items, Instant since, const Clock& clock,
                        const WatchList& watch)
{
    return joinedText(composeBriefingParts(items, since, clock, watch));
}

} // namespace vardelle
