#pragma once

#include "time/Instant.h"

#include <QStringView>

#include <optional>

namespace vardelle {

// Reads a date as feeds write it: the ISO 8601 internet form with fractional seconds, then these
// patterns, each matching the whole text, in English and in UTC where the text names no zone:
//   EEE, dd MMM yyyy HH:mm:ss Z        EEE, dd MMM yyyy HH:mm:ss zzz    EEE, d MMM yyyy HH:mm:ss Z
//   yyyy-MM-dd'T'HH:mm:ssZZZZZ         yyyy-MM-dd'T'HH:mm:ss.SSSZZZZZ   yyyy-MM-dd'T'HH:mm:ss'Z'
//   yyyy-MM-dd HH:mm:ss                yyyy-MM-dd
// A two-digit year in the RFC 822 forms is read as RFC 5322 says: 00-49 are 20xx, 50-99 19xx.
// Safe to call from several threads at once.
std::optional<Instant> parseFeedDate(QStringView text);

} // namespace vardelle
