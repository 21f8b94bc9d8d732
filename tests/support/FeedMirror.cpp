#include "FeedMirror.h"

#include "TestData.h"
#include "news/NewsService.h"

#include <QDir>
#include <QLocale>
#include <QUrl>

namespace vardelle::test {

QByteArray rssDocument(const QList<MirrorStory>& stories)
{
    QByteArray xml = "<?xml version=\"1.0\"?><rss><channel><title>Fixture</title>";
    for (const MirrorStory& story : stories) {
        const QString title = story.title.isEmpty() ? u"Story "_qs + story.id : story.title;
        const QString date = QLocale::c().toString(toDateTime(story.published),
                                                   u"ddd, dd MMM yyyy HH:mm:ss +0000"_qs);
        xml += "<item><guid>" + story.id.toUtf8() + "</guid><title>" + title.toUtf8() +
               "</title><pubDate>" + date.toUtf8() + "</pubDate></item>";
    }
    return xml + "</channel></rss>";
}

FeedMirror::FeedMirror(const QString& folder)
    : m_folder(folder)
{
    QDir().mkpath(folder);
    qputenv(NewsService::mirrorVariable, QUrl::fromLocalFile(folder).toEncoded());
}

FeedMirror::~FeedMirror()
{
    qunsetenv(NewsService::mirrorVariable);
}

void FeedMirror::serve(const QString& feedId, const QList<MirrorStory>& stories) const
{
    writeFile(m_folder + u'/' + feedId + u".xml"_qs, rssDocument(stories));
}

} // namespace vardelle::test
