#pragma once

#include "time/Instant.h"

#include <QtGlobal>

#include <chrono>
#include <optional>

namespace vardelle {

// The time arithmetic of a briefing request over the user's preferences. Every preference value
// is valid: lengths beyond what the time type holds saturate, to "far past" and "very long".

// The earliest window start: far enough back for any story, near enough to the epoch that the
// distance from any real date to it still fits in an Instant.
inline constexpr Instant farPast{std::chrono::microseconds{-(qint64(1) << 62)}};

// How long before the last check a story may be dated and still be told at the next one: feeds
// and caches publish stories dated earlier than the moment they appear.
inline constexpr std::chrono::hours lateStoryAllowance{48};

// `hours` before `now`, or farPast when that lies further back; a negative look-back counts as
// none.
Instant lookbackStart(Instant now, qint64 hours);

// Whether a briefing recorded at `last` holds back an automatic one at `now`: it lies less than
// `quietMinutes` back. A last briefing in the future (the clock was set back) holds nothing back.
bool withinQuietInterval(Instant now, std::optional<Instant> last, qint64 quietMinutes);

struct BriefingWindow {
    Instant since;       // the start the briefing names: "since" it, it tells what is new
    Instant gatherFrom;  // the earliest date of a story that may still be told
    bool sinceLastCheck; // `since` is the last check: stories a briefing left out stay out
};

// The window of a briefing at `now`: from `requested` when given (for example local midnight),
// else from the last check, else the look-back. Since the last check, stories dated up to
// lateStoryAllowance before it are gathered too (the history keeps those already told). A last
// check in the future (the clock was set back) would hide every story until then: it counts as
// none.
BriefingWindow briefingWindow(Instant now, std::optional<Instant> requested,
                              std::optional<Instant> lastCheck, qint64 lookbackHours);

} // namespace vardelle
