#pragma once

#include "news/KnownExploited.h"
#include "news/NewsItem.h"
#include "news/StoryGroups.h"
#include "news/WatchList.h"
#include "time/Instant.h"

#include <QList>
#include <QString>

#include <optional>

namespace vardelle {

class Clock;

// One utterance of a briefing: the opening, a category's sentence with its first story, a
// following story, or the closing; with the story it tells, if any.
struct BriefingPart {
    QString text;
    std::optional<NewsItem> story;
};

// The briefing of composeBriefing() in the parts it is spoken in. Their texts joined by single
// spaces are composeBriefing()'s text.
QList<BriefingPart> composeBriefingParts(const QList<NewsItem>& items, Instant since,
                                         const Clock& clock, const WatchList& watch = {});
// What a briefing tells of the catalogue of known exploited vulnerabilities.
struct KnownExploitedNews {
    // After a story that names catalogued CVE ids, knownExploitedSentence(); none: nothing.
    const KnownExploitedCatalog* catalog = nullptr;
    // The vulnerabilities added to the catalogue since the last check, to be told.
    QList<KnownExploitedEntry> newlyKnown;
};

// The same for stories told once per event: each group is one story, told by its first with
// "Also reported by A and B." after it; counts count groups; a group is on the watch list when
// any of its stories is, and belongs to its first story's category. A part's story is the
// group's first.
//
// With `exploited`, a story naming catalogued CVE ids (in any report of its group) gets the
// sentence saying so after its own, and within each category such stories come first; the
// newly known vulnerabilities are a section of their own after the watch list ("Newly known to
// be exploited: 3 vulnerabilities." and "VENDOR PRODUCT: NAME." for each), counted in the
// opening like stories, and those whose vendor, product or CVE id is on the watch list are told
// in its section instead. Every sentence is cleaned for speech.
QList<BriefingPart> composeBriefingParts(const QList<StoryGroup>& groups, Instant since,
                                         const Clock& clock, const WatchList& watch = {},
                                         const KnownExploitedNews& exploited = {});
// The parts' texts joined by single spaces.
QString joinedText(const QList<BriefingPart>& parts);

// The whole briefing for the stories of one gather as one line of English sentences: the stories
// on `watch` first, newest first, in a section of their own, then the others grouped by category.
// `since` is the start of the gathered window; `clock` gives "now" for the relative phrase of the
// opening.
QString composeBriefing(const QList<NewsItem>& items, Instant since, const Clock& clock,
                        const WatchList& watch = {});

// The opening sentence alone: "Here is your security briefing. 3 new stories since 2 hours ago."
QString briefingOpening(qsizetype count, Instant since, const Clock& clock);

} // namespace vardelle
