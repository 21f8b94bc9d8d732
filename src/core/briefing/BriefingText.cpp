#include "briefing/BriefingText.h"

#include "briefing/RelativeTime.h"
#include "briefing/SpeechText.h"
#include "news/NewsCategory.h"
#include "time/Clock.h"

#include <QStringList>

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

QString composeBriefing(const QList<NewsItem>& items, Instant since, const Clock& clock)
{
    QStringList sentences;
    sentences.reserve(items.size() + 5);
    sentences.append(briefingOpening(items.size(), since, clock));
    for (NewsCategory category : allNewsCategories) {
        QList<const NewsItem*> selected;
        for (const NewsItem& item : items) {
            if (item.category == category)
                selected.append(&item);
        }
        if (selected.isEmpty())
            continue;
        sentences.append(u"In "_qs + spokenName(category) + u", "_qs +
                         QString::number(selected.size()) + u' ' + storiesWord(selected.size()) +
                         u'.');
        for (const NewsItem* item : selected)
            sentences.append(u"From "_qs + cleanForSpeech(item->source) + u". "_qs +
                             cleanForSpeech(item->title) + u'.');
    }
    sentences.append(QStringLiteral("That is everything new since the last check."));
    return sentences.join(u' ');
}

} // namespace vardelle
