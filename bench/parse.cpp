// Feed parsing throughput against expat alone.
//
// Over the publishers' documents of the shared corpus, and over one large feed built from their
// items, prints the MB/s of FeedParser::parse and, as the baseline, of expat's namespace parser
// with no handlers on the same bytes, and the ratio of the two. Then cleanForSpeech calls per
// second on the titles those documents hold, against QString::simplified on the same strings.

#include "briefing/SpeechText.h"
#include "news/FeedParser.h"

#include "LargeFeed.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

using namespace vardelle;

namespace {

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
        baseline = std::max(baseline, throughput(documents, bench::expatAccepts, 0.4));
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
    QString dir;
    const QList<QByteArray> documents = bench::publisherDocuments(&dir);
    if (documents.isEmpty()) {
        std::printf("no publisher documents under %s: nothing to measure\n", qPrintable(dir));
        return 0;
    }
    report("publishers' documents", documents);
    report("one large feed of their items", {bench::largeFeedOf(documents, 40'000'000)});
    reportSpeechText(documents);
    return 0;
}
