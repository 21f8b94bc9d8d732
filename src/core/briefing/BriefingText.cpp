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
    const Instant now = clock.now();
    // From local midnight the day itself is named, not the hours since.
    const QString window =
        since == startOfLocalDay(now)
            ? u"from today"_qs
            : u"since "_qs + englishRelativeTimePhrase(since, now, RelativeStyle::full);
    return u"Here is your security briefing. "_qs + QString::number(count) + u" new "_qs +
           storiesWord(count) + u' ' + window + u'.';
}

QList<BriefingPart> composeBriefingParts(const QList<NewsItem>& items, Instant since,
                                         const Clock& clock, const WatchList& watch)
{
    return composeBriefingParts(groupsBySize(items, {}), since, clock, watch);
}

QList<BriefingPart> composeBriefingParts(const QList<StoryGroup>& groups, Instant since,
                                         const Clock& clock, const WatchList& watch,
                                         const KnownExploitedNews& exploited)
{
    QList<BriefingPart> parts;
    parts.reserve(groups.size() + exploited.newlyKnown.size() + 3);
    parts.append(
        {briefingOpening(groups.size() + exploited.newlyKnown.size(), since, clock), std::nullopt});

    // What the catalogue says of a group's CVE ids, named in any of its reports.
    const auto exploitedSentence = [&exploited](const StoryGroup& group) {
        if (!exploited.catalog)
            return QString();
        NewsItem named = group.lead();
        for (const NewsItem& report : group.stories.mid(1))
            named.summary += u' ' + report.title + u' ' + report.summary;
        return knownExploitedSentence(named, *exploited.catalog);
    };
    const auto storyText = [&exploitedSentence](const StoryGroup& group) {
        const NewsItem& item = group.lead();
        QString text = u"From "_qs + cleanForSpeech(item.source) + u". "_qs +
                       cleanForSpeech(item.title) + u'.';
        if (group.stories.size() > 1) {
            QStringList others;
            for (const QString& source : group.otherSources())
                others.append(cleanForSpeech(source));
            text += u" Also reported by "_qs + spokenList(others) + u'.';
        }
        if (const QString known = exploitedSentence(group); !known.isEmpty())
            text += u' ' + cleanForSpeech(known) + u'.';
        return text;
    };
    const auto entryText = [](const KnownExploitedEntry& entry) {
        return cleanForSpeech(entry.vendorProject + u' ' + entry.product + u": "_qs +
                              entry.vulnerabilityName);
    };

    // A section's heading is spoken with its first sentence, so that no part is a bare count.
    const auto appendSection = [&parts](const QString& heading, const QList<BriefingPart>& told) {
        QString lead = heading;
        for (const BriefingPart& part : told) {
            parts.append({lead + part.text, part.story});
            lead.clear();
        }
    };
    const auto counted = [](const QString& heading, qsizetype count) {
        return heading + QString::number(count) + u' ' + storiesWord(count) + u". "_qs;
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
    QList<BriefingPart> watchedParts;
    for (const StoryGroup* group : watched)
        watchedParts.append({storyText(*group), group->lead()});
    QList<BriefingPart> newlyKnown;
    for (const KnownExploitedEntry& entry : exploited.newlyKnown) {
        const bool onList = watch.match(entry.vendorProject) || watch.match(entry.product) ||
                            watch.match(entry.cveId);
        if (onList)
            watchedParts.append(
                {entryText(entry) + u", newly known to be exploited."_qs, std::nullopt});
        else
            newlyKnown.append({entryText(entry) + u'.', std::nullopt});
    }
    appendSection(counted(u"On your watch list, "_qs, watchedParts.size()), watchedParts);
    appendSection(u"Newly known to be exploited: "_qs + QString::number(newlyKnown.size()) +
                      (newlyKnown.size() == 1 ? u" vulnerability. "_qs : u" vulnerabilities. "_qs),
                  newlyKnown);

    for (NewsCategory category : allNewsCategories) {
        QList<BriefingPart> first;
        QList<BriefingPart> rest;
        for (const StoryGroup* group : others) {
            if (group->lead().category != category)
                continue;
            const bool known = !exploitedSentence(*group).isEmpty();
            (known ? first : rest).append({storyText(*group), group->lead()});
        }
        first.append(rest);
        appendSection(counted(u"In "_qs + spokenName(category) + u", "_qs, first.size()), first);
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
