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
    QList<BriefingPart> parts;
    parts.reserve(items.size() + 2);
    parts.append({briefingOpening(items.size(), since, clock), std::nullopt});

    // A section's heading is spoken with its first story, so that no part is a bare count.
    const auto appendSection = [&parts](const QString& heading,
                                        const QList<const NewsItem*>& selected) {
        if (selected.isEmpty())
            return;
        QString lead = heading + QString::number(selected.size()) + u' ' +
                       storiesWord(selected.size()) + u". "_qs;
        for (const NewsItem* item : selected) {
            parts.append({lead + u"From "_qs + cleanForSpeech(item->source) + u". "_qs +
                              cleanForSpeech(item->title) + u'.',
                          *item});
            lead.clear();
        }
    };

    QList<const NewsItem*> watched;
    QList<const NewsItem*> others;
    for (const NewsItem& item : items)
        (watch.match(item) ? watched : others).append(&item);
    std::stable_sort(watched.begin(), watched.end(), [](const NewsItem* a, const NewsItem* b) {
        return a->published > b->published;
    });
    appendSection(u"On your watch list, "_qs, watched);

    for (NewsCategory category : allNewsCategories) {
        QList<const NewsItem*> selected;
        for (const NewsItem* item : others) {
            if (item->category == category)
                selected.append(item);
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
