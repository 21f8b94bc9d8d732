#include "news/FeedParser.h"
#include "news/FeedText.h"

#include "support/ManualClock.h"
#include "support/TestData.h"

#include <QDirIterator>
#include <QtConcurrent>
#include <QtTest>

using namespace vardelle;

// Every real document of the shared corpus, the ill-formed ones included, parses to completion
// without a crash; what comes out keeps the item invariants; and parsing on many threads at once
// gives what parsing one after another gives.
class FeedCorpusTest : public QObject {
    Q_OBJECT

    QStringList m_files;

    static QList<NewsItem> parseFile(const QString& path)
    {
        static const test::ManualClock clock(test::utc(2026, 1, 1));
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return FeedParser(FeedSource::catalog().first(), &clock).parse(file.readAll());
    }

private slots:
    void initTestCase()
    {
        const QString dir = test::corpusDir();
        if (dir.isEmpty())
            QSKIP("the shared feed corpus is not on this machine");
        QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!path.endsWith(u".tsv"))
                m_files.append(path);
        }
        m_files.sort();
        QVERIFY(!m_files.isEmpty());
    }

    void everyDocumentParses()
    {
        qsizetype total = 0;
        for (const QString& path : std::as_const(m_files)) {
            const auto items = parseFile(path);
            total += items.size();
            for (const NewsItem& item : items) {
                QVERIFY2(!item.title.isEmpty(), qPrintable(path));
                QCOMPARE(item.title, cleanText(item.title));
                QVERIFY2(graphemeCount(item.summary, 402) <= 401, qPrintable(path));
            }
            if (path.contains(u"/publishers/"))
                QVERIFY2(!items.isEmpty(), qPrintable(path));
        }
        qInfo("%lld documents, %lld items", qlonglong(m_files.size()), qlonglong(total));
    }

    void concurrentParsingAgrees()
    {
        const QList<QList<NewsItem>> together = QtConcurrent::blockingMapped(m_files, parseFile);
        for (qsizetype i = 0; i < m_files.size(); ++i)
            QVERIFY2(together[i] == parseFile(m_files[i]), qPrintable(m_files[i]));
    }
};

QTEST_GUILESS_MAIN(FeedCorpusTest)
#include "tst_feedcorpus.moc"
