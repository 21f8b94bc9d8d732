#pragma once

#include "time/Instant.h"

#include <QString>

namespace vardelle {

// The date in the locale's abbreviated style and the time in its short style, in the local time
// zone: "Dec 10, 2026, 12:00 PM" in English. The locale is the user's for dates (LC_ALL, LC_TIME,
// LANG; English for none, C and POSIX).
QString abbreviatedDateTime(Instant instant);

} // namespace vardelle
