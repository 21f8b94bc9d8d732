#pragma once

#include "time/Instant.h"

#include <QString>

namespace vardelle {

enum class RelativeStyle {
    full,        // "2 hours ago", spoken in the briefing
    abbreviated, // "2 hr. ago", in menus
};

// How long before (or after) `now` the instant `then` is, in the user's locale (LC_ALL,
// LC_MESSAGES, LANG; English for none, C, POSIX or a locale without data), counted in the
// largest unit with a whole count of at least one: seconds, minutes, hours, days, weeks, then
// calendar months and years. Safe on any thread.
QString relativeTimePhrase(Instant then, Instant now, RelativeStyle style);

// The same phrase in English whatever the locale, for text spoken inside an English sentence.
QString englishRelativeTimePhrase(Instant then, Instant now, RelativeStyle style);

} // namespace vardelle
