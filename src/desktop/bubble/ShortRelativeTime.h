#pragma once

#include "time/Instant.h"

#include <QString>

namespace vardelle {

// How long ago `then` was at `now`, in the user's locale and the abbreviated units style, in the
// largest unit that counts at least one: "5 min. ago", "2 hr. ago", "in 3 days". Falls back to
// English when ICU cannot format.
QString shortRelativeTime(Instant then, Instant now);

} // namespace vardelle
