#pragma once

#include "news/NewsItem.h"
#include "time/Instant.h"

#include <QList>
#include <QStringList>

namespace vardelle {

// The outcome of one gather.
struct GatherResult {
    QList<NewsItem> items;     // the new stories, interleaved across categories, at most `limit`
                               // events (all the reports of each)
    QStringList failedSources; // the name of every feed whose download failed, in order of failure
    Instant since{};           // the start of the time window, as passed in
    QStringList leftOut;       // ids of the new stories beyond `limit`, left out of `items`
    // How `items` are told: the number of consecutive items that report one event, told once
    // by the first of them (StoryGroup). Empty: each item on its own.
    QList<qsizetype> groupSizes{};

    bool operator==(const GatherResult&) const = default;
};

} // namespace vardelle
