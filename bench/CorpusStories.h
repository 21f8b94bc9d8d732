#pragma once

#include "news/FeedParser.h"
#include "news/FeedSource.h"
#include "news/NewsItem.h"
#include "support/TestData.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

namespace vardelle::bench {

// The stories of the shared corpus's publisher feeds, each feed named by its publisher (the part
// of its file name before "__"); none when the corpus is absent.
inline QList<NewsItem> corpusStories()
{
    QList<NewsItem> stories;
    const QString dir = test::corpusDir();
    if (dir.isEmpty())
        return stories;
    const QStringList files =
        QDir(dir + u"/publishers"_qs).entryList({u"*.xml"_qs}, QDir::Files, QDir::Name);
    for (const QString& name : files) {
        QFile file(dir + u"/publishers/"_qs + name);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        FeedSource source = FeedSource::catalog().first();
        source.name = name.section(u"__"_qs, 0, 0);
        stories.append(FeedParser(source).parse(file.readAll()));
    }
    return stories;
}

} // namespace vardelle::bench
