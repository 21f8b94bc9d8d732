#pragma once

#include "news/NewsItem.h"
#include "news/WatchList.h"
#include "time/Instant.h"

#include <QList>
#include <QString>

namespace vardelle {

class Clock;

// The whole briefing for the stories of one gather as one line of English sentences: the stories
// on `watch` first, newest first, in a section of their own, then the others grouped by category.
// `since` is the start of the gathered window; `clock` gives "now" for the relative phrase of the
// opening.
QString composeBriefing(const QList<NewsItem>& items, Instant since, const Clock& clock,
                        const WatchList& watch = {});

// The opening sentence alone: "Here is your security briefing. 3 new stories since 2 hours ago."
QString briefingOpening(qsizetype count, Instant since, const Clock& clock);

} // namespace vardelle
