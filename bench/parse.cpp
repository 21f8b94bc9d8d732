// Feed parsing throughput against expat alone.
//
// Over the publishers' documents of the shared corpus, and over one large feed built from their
// items, prints the MB/s of FeedParser::parse and, as the baseline, of expat's namespace parser
// with no handlers on the same bytes, and the ratio of the two. Then cleanForSpeech calls per
// second on the titles those documents hold, against QString::simplified on the same strings.

#include "briefing/SpeechText.h"
#include "news/FeedParser.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>

#include <expat.h>

#include <algorithm>
#include <cstdio>

using namespace vardelle;

namespace {

bool expatOnly(const QByteArray& document)
{
    XML_Parser parser = XML_ParserCreateNS(nullptr, '\x01');
    const bool ok =
        XML_Parse(parser, document.constData(), int(document.size()), true) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return ok;
}

qsizetype parseWithFeedParser(const QByteArray& document)
{
    return FeedParser(FeedSource::catalog().first()).parse(document).size();
}

// MB/s of `work` over `documents`, repeated until at least `seconds` have passed.
template <class Work>
double throughput(const QList<QByteArray>& documents, Work work, double seconds = 1.5)
{
    qsizetype bytes = 0;
    QElapsedTimer timer;
    timer.start();
    do {
        for (const QByteArray& document : documents) {
            work(document);
            bytes += document.size();
        }
    } while (timer.nsecsElapsed() < qint64(seconds * 1e9));
    return double(bytes) / 1e6 / (double(timer.nsecsElapsed()) / 1e9);
}

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
        if (expatOnly(wrapperHead + item + wrapperTail))
            items.append(item);
    }
    return items;
}

void report(const char* what, const QList<QByteArray>& documents)
{
    qsizetype bytes = 0;
    qsizetype items = 0;
    for (const QByteArray& document : documents) {
        bytes += document.size();
        items += parseWithFeedParser(document);
    }
    // Alternating rounds, best of each: other work on the machine slows both alike.
    double baseline = 0;
    double ours = 0;
    for (int round = 0; round < 5; ++round) {
        baseline = std::max(baseline, throughput(documents, expatOnly, 0.4));
        ours = std::max(ours, throughput(documents, parseWithFeedParser, 0.4));
    }
    std::printf("%s: %lld documents, %.1f MB, %lld items\n", what, qlonglong(documents.size()),
                double(bytes) / 1e6, qlonglong(items));
    std::printf("  expat alone (baseline): %8.1f MB/s\n", baseline);
    std::printf("  FeedParser::parse:      %8.1f MB/s\n", ours);
    std::printf("  ratio: %.2f (goal at least 0.50)\n", ours / baseline);
}

// Calls per second of `pass` over every title, best of three rounds of at least 0.7 s each.
template <class Pass> double callsPerSecond(const QStringList& titles, Pass pass)
{
    double best = 0;
    qsizetype sink = 0;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer timer;
        timer.start();
        qint64 calls = 0;
        do {
            for (const QString& title : titles)
                sink += pass(title).size();
            calls += titles.size();
        } while (timer.elapsed() < 700);
        best = std::max(best, double(calls) * 1e9 / double(timer.nsecsElapsed()));
    }
    if (sink == -1) // keeps the results observable
        std::puts("");
    return best;
}

void reportSpeechText(const QList<QByteArray>& documents)
{
    QStringList titles;
    for (const QByteArray& document : documents) {
        for (const NewsItem& item : FeedParser(FeedSource::catalog().first()).parse(document))
            titles.append(item.title);
    }
    cleanForSpeech(titles.first()); // compiles the patterns outside the measurement
    const double clean = callsPerSecond(titles, [](const QString& t) { return cleanForSpeech(t); });
    const double baseline = callsPerSecond(titles, [](const QString& t) { return t.simplified(); });
    std::printf("cleanForSpeech on %lld real titles:\n", qlonglong(titles.size()));
    std::printf("  QString::simplified (baseline): %10.0f calls/s\n", baseline);
    std::printf("  cleanForSpeech:                 %10.0f calls/s (%.2f us a call)\n", clean,
                1e6 / clean);
    std::printf("  ratio: %.2f\n", clean / baseline);
}

} // namespace

int main()
{
    QString dir = qEnvironmentVariable("VARDELLE_CORPUS", QStringLiteral(VARDELLE_CORPUS_DIR));
    dir += u"/publishers"_qs;
    QList<QByteArray> documents;
    QDirIterator it(dir, {u"*.xml"_qs}, QDir::Files);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly))
            documents.append(file.readAll());
    }
    if (documents.isEmpty()) {
        std::printf("no publisher documents under %s: nothing to measure\n", qPrintable(dir));
        return 0;
    }
    report("publishers' documents", documents);

    QList<QByteArray> items;
    for (const QByteArray& document : std::as_const(documents))
        items += itemsOf(document);
    QByteArray large = wrapperHead;
    for (qsizetype i = 0; large.size() < 40'000'000; ++i)
        large += items[i % items.size()];
    large += wrapperTail;
    report("one large feed of their items", {large});
    reportSpeechText(documents);
    return 0;
}
