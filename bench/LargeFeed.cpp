#include "LargeFeed.h"

#include <QDirIterator>
#include <QFile>

#include <expat.h>

namespace vardelle::bench {

namespace {

const QByteArray wrapperHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\""
    " xmlns:content=\"http://purl.org/rss/1.0/modules/content/\""
    " xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:atom=\"http://www.w3.org/2005/Atom\""
    " xmlns:media=\"http://search.yahoo.com/mrss/\" "
    "xmlns:wfw=\"http://wellformedweb.org/CommentAPI/\""
    " xmlns:slash=\"http://purl.org/rss/1.0/modules/slash/\""
    " xmlns:sy=\"http://purl.org/rss/1.0/modules/syndication/\""
    " xmlns:dcterms=\"http://purl.org/dc/terms/\"><channel><title>Large</title>\n";
const QByteArray wrapperTail = "</channel></rss>\n";

// The raw <item> elements of an RSS document that still parse once moved into the wrapper.
QList<QByteArray> itemsOf(const QByteArray& document)
{
    QList<QByteArray> items;
    for (qsizetype start = document.indexOf("<item>"); start >= 0;
         start = document.indexOf("<item>", start + 1)) {
        const qsizetype end = document.indexOf("</item>", start);
        if (end < 0)
            break;
        const QByteArray item = document.mid(start, end + 7 - start);
        if (expatAccepts(wrapperHead + item + wrapperTail))
            items.append(item);
    }
    return items;
}

} // namespace

QList<QByteArray> publisherDocuments(QString* folder)
{
    QString dir = qEnvironmentVariable("VARDELLE_CORPUS", QStringLiteral(VARDELLE_CORPUS_DIR));
    dir += u"/publishers"_qs;
    if (folder)
        *folder = dir;
    QList<QByteArray> documents;
    QDirIterator it(dir, {u"*.xml"_qs}, QDir::Files);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly))
            documents.append(file.readAll());
    }
    return documents;
}

bool expatAccepts(const QByteArray& document)
{
    XML_Parser parser = XML_ParserCreateNS(nullptr, '\x01');
    const bool ok =
        XML_Parse(parser, document.constData(), int(document.size()), true) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return ok;
}

QByteArray largeFeedOf(const QList<QByteArray>& documents, qsizetype size)
{
    QList<QByteArray> items;
    for (const QByteArray& document : documents)
        items += itemsOf(document);
    if (items.isEmpty())
        return {};
    QByteArray large = wrapperHead;
    large.reserve(size + 64 * 1024);
    for (qsizetype i = 0; large.size() < size; ++i)
        large += items[i % items.size()];
    large += wrapperTail;
    return large;
}

} // namespace vardelle::bench
