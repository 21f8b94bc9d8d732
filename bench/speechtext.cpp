// bench_speechtext: how fast cleanForSpeech turns real headline titles into speakable text,
// against a trivial pass (QString::simplified) over the same strings in the same run.
//
// Titles are the <title> texts of the publishers' documents in the shared corpus
// (VARDELLE_CORPUS_DIR/publishers, or VARDELLE_CORPUS/publishers from the environment, or the
// folder given as the only argument), found with a plain text scan: this does not use the feed
// parser.

#include "briefing/SpeechText.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cstdio>

using namespace vardelle;

namespace {

// The five XML entities and numeric character references, once (no double decoding).
QString decodeEntities(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const qsizetype semicolon = c == u'&' ? text.indexOf(u';', i) : -1;
        if (semicolon < 0 || semicolon - i > 10) {
            out += c;
            continue;
        }
        const QStringView name = text.sliced(i + 1, semicolon - i - 1);
        char32_t decoded = 0;
        if (name == u"amp")
            decoded = u'&';
        else if (name == u"lt")
            decoded = u'<';
        else if (name == u"gt")
            decoded = u'>';
        else if (name == u"quot")
            decoded = u'"';
        else if (name == u"apos")
            decoded = u'\'';
        else if (name.startsWith(u"#x") || name.startsWith(u"#X"))
            decoded = name.sliced(2).toUInt(nullptr, 16);
        else if (name.startsWith(u'#'))
            decoded = name.sliced(1).toUInt(nullptr, 10);
        if (decoded == 0 || decoded > 0x10FFFF) {
            out += c;
            continue;
        }
        out += QString::fromUcs4(&decoded, 1);
        i = semicolon;
    }
    return out;
}

// Every <title>...</title> (attributes allowed) of a document, CDATA unwrapped, entities decoded.
QStringList scanTitles(const QString& document)
{
    QStringList titles;
    qsizetype at = 0;
    while ((at = document.indexOf(u"<title", at)) >= 0) {
        const qsizetype nameEnd = at + 6;
        if (nameEnd >= document.size())
            break;
        const QChar after = document[nameEnd];
        if (after != u'>' && !after.isSpace()) { // <titleFoo>
            at = nameEnd;
            continue;
        }
        const qsizetype open = document.indexOf(u'>', nameEnd);
        if (open < 0)
            break;
        if (document[open - 1] == u'/') { // <title/>
            at = open;
            continue;
        }
        const qsizetype close = document.indexOf(u"</title>", open);
        if (close < 0)
            break;
        QStringView content = QStringView(document).sliced(open + 1, close - open - 1).trimmed();
        if (content.startsWith(u"<![CDATA[") && content.endsWith(u"]]>"))
            titles << content.sliced(9, content.size() - 12).toString();
        else
            titles << decodeEntities(content);
        at = close + 8;
    }
    return titles;
}

// Runs `pass` over every title, round after round, for at least `minimum` milliseconds, and
// returns the calls per second of the best of three such measurements.
template <class Pass>
double callsPerSecond(const QStringList& titles, Pass pass, qint64 minimum = 700)
{
    double best = 0;
    qsizetype sink = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        QElapsedTimer timer;
        timer.start();
        qint64 calls = 0;
        do {
            for (const QString& title : titles)
                sink += pass(title).size();
            calls += titles.size();
        } while (timer.elapsed() < minimum);
        best = std::max(best, double(calls) * 1e9 / double(timer.nsecsElapsed()));
    }
    if (sink == -1) // keeps the results observable
        std::puts("");
    return best;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QString corpus = qEnvironmentVariable("VARDELLE_CORPUS");
    if (corpus.isEmpty())
        corpus = QStringLiteral(VARDELLE_CORPUS_DIR);
    QString folder = corpus + QStringLiteral("/publishers");
    if (argc > 1)
        folder = QString::fromLocal8Bit(argv[1]);

    const QDir dir(folder);
    const QStringList files = dir.entryList({QStringLiteral("*.xml")}, QDir::Files, QDir::Name);
    QStringList titles;
    for (const QString& name : files) {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            titles << scanTitles(QString::fromUtf8(file.readAll()));
    }
    titles.removeAll(QString());
    if (titles.isEmpty()) {
        std::fprintf(stderr, "bench_speechtext: no <title> texts in %s\n", qPrintable(folder));
        return 1;
    }
    qsizetype characters = 0;
    for (const QString& title : titles)
        characters += title.size();
    std::printf("titles: %lld from %lld documents in %s (average %.1f characters)\n",
                qlonglong(titles.size()), qlonglong(files.size()), qPrintable(folder),
                double(characters) / double(titles.size()));

    // Warm-up: compiles the patterns and creates this thread's matchers.
    for (const QString& title : titles)
        cleanForSpeech(title);

    const double clean = callsPerSecond(titles, [](const QString& t) { return cleanForSpeech(t); });
    const double baseline = callsPerSecond(titles, [](const QString& t) { return t.simplified(); });
    std::printf("cleanForSpeech:                 %12.0f calls/s (%.2f us per call)\n", clean,
                1e6 / clean);
    std::printf("baseline QString::simplified(): %12.0f calls/s (%.2f us per call)\n", baseline,
                1e6 / baseline);
    std::printf("ratio cleanForSpeech / baseline: %.3f (the baseline is %.1f times faster)\n",
                clean / baseline, baseline / clean);
    return 0;
}
