#pragma once

#include "news/NewsItem.h"
#include "time/Instant.h"

#include <QByteArray>
#include <QList>

namespace vardelle::test {

// Two stories of different feeds and whether they report the same event: the evaluation set of
// tests/data/grouping/pairs.txt.
struct LabelledPair {
    bool same = false;
    NewsItem first;
    NewsItem second;
};

// The pairs of a document in the format that file describes. The n-th block's first story is
// published at `start` plus n hours, so that all of them fall within the span of one event;
// every story has an id, a source and a category of its own. Lines that do not fit are skipped.
QList<LabelledPair> readGroupingPairs(const QByteArray& document, Instant start);

} // namespace vardelle::test
