#pragma once

#include "time/Instant.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace vardelle::test {

// One story of a fixture feed: its guid, its date and its title ("Story <id>" when none is given).
struct MirrorStory {
    QString id;
    Instant published;
    QString title = {};
};

// An RSS document holding `stories` in order.
QByteArray rssDocument(const QList<MirrorStory>& stories);

// A file mirror of the catalogue's feeds in `folder`, named in VARDELLE_FEED_MIRROR for as long
// as the object lives, so that a gather reads the feeds a test serves and nothing else: a feed
// that is not served fails as an unreachable one would.
class FeedMirror {
public:
    explicit FeedMirror(const QString& folder);
    ~FeedMirror();
    FeedMirror(const FeedMirror&) = delete;
    FeedMirror& operator=(const FeedMirror&) = delete;

    // Serves `stories` as the feed `feedId` from now on.
    void serve(const QString& feedId, const QList<MirrorStory>& stories) const;

private:
    QString m_folder;
};

} // namespace vardelle::test
