#include "news/FeedCache.h"
#include "news/HttpFreshness.h"

#include "support/ManualClock.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace vardelle;
using namespace std::chrono_literals;
using test::utc;

namespace {

const Instant noon = utc(2024, 6, 4, 12, 0);

NewsItem story(const QString& id)
{
    return NewsItem{id,
                    u"Story "_qs + id,
                    u"https://example.org/"_qs + id,
                    u"Fixture feed"_qs,
                    NewsCategory::malware,
                    noon - 1h,
                    u"A summary of "_qs + id};
}

FeedCacheEntry entryWith(const QString& id, Instant fetched)
{
    FeedCacheEntry entry;
    entry.items = {story(id + u"-1"_qs), story(id + u"-2"_qs)};
    entry.fetched = fetched;
    entry.etag = "W/\"" + id.toLatin1() + "\"";
    entry.lastModified = "Tue, 04 Jun 2024 11:00:00 GMT";
    return entry;
}

QUrl address(const QString& name)
{
    return QUrl(u"https://feeds.example/"_qs + name + u".xml"_qs);
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

} // namespace

class FeedCacheTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    test::ManualClock m_clock{noon};
    int m_fileCount = 0;
    QString m_path;

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_clock.set(noon);
        m_path = m_dir.filePath(u"cache%1/Vardelle/feeds.json"_qs.arg(++m_fileCount));
    }

    void theDefaultFileIsUnderTheCacheFolder()
    {
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_dir.filePath(u"xdg-cache"_qs)));
        QCOMPARE(FeedCache::defaultFilePath(), m_dir.filePath(u"xdg-cache/Vardelle/feeds.json"_qs));
    }

    // What one process saves, another reads back exactly: stories, validators with their quotes
    // and weak marks, times, the server's freshness and its Retry-After.
    void entriesSurviveASave()
    {
        FeedCache writer(m_path, m_clock);
        writer.refresh();
        FeedCacheEntry full = entryWith(u"a"_qs, noon - 5min);
        full.freshFor = 1800s;
        full.retryAfter = noon + 2h;
        FeedCacheEntry heldOffOnly;
        heldOffOnly.retryAfter = noon + 30s;
        FeedCacheEntry noValidators = entryWith(u"c"_qs, noon - 1h);
        noValidators.etag.clear();
        noValidators.lastModified.clear();
        writer.insert(address(u"a"_qs), full);
        writer.insert(address(u"b"_qs), heldOffOnly);
        writer.insert(address(u"c"_qs), noValidators);
        QVERIFY(writer.save());

        FeedCache reader(m_path, m_clock);
        reader.refresh();
        QCOMPARE(reader.size(), 3);
        QCOMPARE(reader.find(address(u"a"_qs)), full);
        QCOMPARE(reader.find(address(u"b"_qs)), heldOffOnly);
        QCOMPARE(reader.find(address(u"c"_qs)), noValidators);
        QVERIFY(!reader.find(address(u"d"_qs)));
        QVERIFY(!QFile::exists(m_path + u".corrupt"_qs));
    }

    // A file that cannot be read is set aside, never an error: the cache starts empty and the
    // next save writes a good file in its place.
    void anUnreadableFileIsSetAsideAndRebuilt_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("not JSON") << u"file"_qs << QByteArray("{\"format\":1,\"feeds\":[{\"addr");
        QTest::newRow("binary") << u"file"_qs << QByteArray("\x00\xff\xfe garbage", 12);
        QTest::newRow("empty") << u"file"_qs << QByteArray();
        QTest::newRow("an array at the top") << u"file"_qs << QByteArray("[]");
        QTest::newRow("another format") << u"file"_qs << QByteArray("{\"format\":2,\"feeds\":[]}");
        QTest::newRow("feeds not a list")
            << u"file"_qs << QByteArray("{\"format\":1,\"feeds\":{}}");
        QTest::newRow("past the size bound") << u"file"_qs << QByteArray();
        QTest::newRow("a folder") << u"folder"_qs << QByteArray();
        QTest::newRow("a pipe") << u"pipe"_qs << QByteArray();
        QTest::newRow("a link to a good file") << u"link"_qs << QByteArray();
    }
    void anUnreadableFileIsSetAsideAndRebuilt()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, bytes);
        constexpr qint64 bound = 64 * 1024;
        QDir().mkpath(QFileInfo(m_path).absolutePath());
        const QByteArray name = QFile::encodeName(m_path);

        if (QByteArrayView(QTest::currentDataTag()) == "past the size bound") {
            // A well-formed file larger than the bound: its size alone sets it aside.
            FeedCache big(m_path, m_clock, 4 * bound);
            big.refresh();
            for (int i = 0; big.size() < 400; ++i)
                big.insert(address(QString::number(i)), entryWith(QString::number(i), noon));
            QVERIFY(big.save());
            QVERIFY(QFileInfo(m_path).size() > bound);
        } else if (kind == u"file") {
            QVERIFY(writeBytes(m_path, bytes));
        } else if (kind == u"folder") {
            QVERIFY(QDir().mkpath(m_path + u"/inside"_qs));
        } else if (kind == u"pipe") {
            QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        } else if (kind == u"link") {
            const QString good = m_dir.filePath(u"good%1.json"_qs.arg(m_fileCount));
            FeedCache elsewhere(good, m_clock);
            elsewhere.refresh();
            elsewhere.insert(address(u"x"_qs), entryWith(u"x"_qs, noon));
            QVERIFY(elsewhere.save());
            QVERIFY(QFile::link(good, m_path));
        }

        FeedCache cache(m_path, m_clock, bound);
        cache.refresh(); // returns at once, even for a pipe with no writer
        QCOMPARE(cache.size(), 0);
        QVERIFY(QFileInfo::exists(m_path + u".corrupt"_qs) ||
                QFileInfo(m_path + u".corrupt"_qs).isSymLink());

        cache.insert(address(u"new"_qs), entryWith(u"new"_qs, noon));
        QVERIFY(cache.save());
        FeedCache again(m_path, m_clock, bound);
        again.refresh();
        QCOMPARE(again.size(), 1);
        QCOMPARE(again.find(address(u"new"_qs)), entryWith(u"new"_qs, noon));
    }

    // One entry that cannot be read goes alone; the others stay.
    void aBadEntryIsDroppedAlone_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::newRow("not an object") << QByteArray("42");
        QTest::newRow("no address") << QByteArray("{\"items\":[]}");
        QTest::newRow("no stories") << QByteArray("{\"address\":\"https://b.example/\"}");
        QTest::newRow("a story missing a field")
            << QByteArray("{\"address\":\"https://b.example/\",\"items\":[{\"id\":\"x\"}]}");
        QTest::newRow("a line break in a validator")
            << QByteArray("{\"address\":\"https://b.example/\",\"etag\":\"\\\"a\\\"\\r\\nX-Evil: "
                          "1\",\"items\":[]}");
        QTest::newRow("a validator beyond Latin-1")
            << QByteArray("{\"address\":\"https://b.example/\",\"etag\":\"\\u20ac\",\"items\":[]}");
        QTest::newRow("a negative freshness")
            << QByteArray("{\"address\":\"https://b.example/\",\"freshFor\":-5,\"items\":[]}");
        QTest::newRow("a time as text")
            << QByteArray("{\"address\":\"https://b.example/\",\"fetched\":\"noon\",\"items\":[]}");
    }
    void aBadEntryIsDroppedAlone()
    {
        QFETCH(QByteArray, entry);
        FeedCache writer(m_path, m_clock);
        writer.refresh();
        writer.insert(address(u"good"_qs), entryWith(u"good"_qs, noon));
        QVERIFY(writer.save());
        QFile file(m_path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray bytes = file.readAll();
        file.close();
        bytes.replace("\"feeds\":[", "\"feeds\":[" + entry + ",");
        QVERIFY(writeBytes(m_path, bytes));

        FeedCache reader(m_path, m_clock);
        reader.refresh();
        QCOMPARE(reader.size(), 1);
        QCOMPARE(reader.find(address(u"good"_qs)), entryWith(u"good"_qs, noon));
        QVERIFY(!QFile::exists(m_path + u".corrupt"_qs));
    }

    // Past the bound, the entries fetched longest ago go first, and the file stays within it.
    void theOldestGoPastTheBound()
    {
        FeedCache probe(m_dir.filePath(u"probe%1.json"_qs.arg(m_fileCount)), m_clock);
        probe.refresh();
        probe.insert(address(u"p"_qs), entryWith(u"p"_qs, noon));
        QVERIFY(probe.save());
        const qint64 perEntry = QFileInfo(probe.filePath()).size();

        // Room for three entries and a little, not four.
        const qint64 bound = 3 * perEntry + perEntry / 2;
        FeedCache cache(m_path, m_clock, bound);
        cache.refresh();
        const QStringList names{u"d"_qs, u"a"_qs, u"e"_qs, u"b"_qs, u"c"_qs};
        const QList<Instant> fetched{noon - 4h, noon - 1h, noon - 5h, noon - 2h, noon - 3h};
        for (qsizetype i = 0; i < names.size(); ++i)
            cache.insert(address(names[i]), entryWith(names[i], fetched[i]));
        QVERIFY(cache.save());
        QVERIFY(QFileInfo(m_path).size() <= bound);

        FeedCache reader(m_path, m_clock, bound);
        reader.refresh();
        QCOMPARE(reader.size(), 3);
        for (const QString& kept : {u"a"_qs, u"b"_qs, u"c"_qs})
            QVERIFY2(reader.find(address(kept)), qPrintable(kept));
        QVERIFY(!cache.find(address(u"d"_qs)));
        QVERIFY(!cache.find(address(u"e"_qs)));
    }

    // The desktop and the command line share the file: each save keeps what the other saved
    // meanwhile, and an object reads the other's changes on its next refresh.
    void twoProcessesShareTheFile()
    {
        FeedCache desktop(m_path, m_clock);
        FeedCache terminal(m_path, m_clock);
        desktop.refresh();
        terminal.refresh();

        terminal.insert(address(u"t"_qs), entryWith(u"t"_qs, noon));
        QVERIFY(terminal.save());
        desktop.insert(address(u"d"_qs), entryWith(u"d"_qs, noon));
        FeedCacheEntry newer = entryWith(u"t"_qs, noon + 1min);
        newer.etag = "\"t2\"";
        desktop.insert(address(u"t"_qs), newer);
        QVERIFY(desktop.save());

        terminal.refresh();
        QCOMPARE(terminal.size(), 2);
        QCOMPARE(terminal.find(address(u"t"_qs)), newer);
        QCOMPARE(terminal.find(address(u"d"_qs)), entryWith(u"d"_qs, noon));
    }

    // How long an answer is used without asking: ten minutes at least, an hour at most, the
    // server's own freshness in between.
    void freshness_data()
    {
        QTest::addColumn<int>("freshForSeconds"); // < 0: the server said nothing
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<bool>("fresh");
        QTest::newRow("just fetched") << -1 << 0 << true;
        QTest::newRow("nine minutes on") << -1 << 9 * 60 << true;
        QTest::newRow("ten minutes on") << -1 << 10 * 60 << false;
        QTest::newRow("max-age 0 still ten minutes") << 0 << 9 * 60 << true;
        QTest::newRow("max-age 30 min, at 29") << 1800 << 29 * 60 << true;
        QTest::newRow("max-age 30 min, at 30") << 1800 << 30 * 60 << false;
        QTest::newRow("max-age a day, at 59 min") << 86400 << 59 * 60 << true;
        QTest::newRow("max-age a day, at 60 min") << 86400 << 60 * 60 << false;
        QTest::newRow("fetched in the future") << -1 << -60 << false;
    }
    void freshness()
    {
        QFETCH(int, freshForSeconds);
        QFETCH(int, ageSeconds);
        QFETCH(bool, fresh);
        FeedCache cache(m_path, m_clock);
        FeedCacheEntry entry = entryWith(u"f"_qs, noon);
        if (freshForSeconds >= 0)
            entry.freshFor = std::chrono::seconds(freshForSeconds);
        m_clock.advance(std::chrono::seconds(ageSeconds));
        QCOMPARE(cache.isFresh(entry), fresh);
        entry.fetched.reset();
        QVERIFY(!cache.isFresh(entry));
    }

    void heldOff_data()
    {
        QTest::addColumn<int>("retryInSeconds"); // from noon
        QTest::addColumn<int>("laterSeconds");
        QTest::addColumn<bool>("heldOff");
        QTest::newRow("before the time") << 120 << 119 << true;
        QTest::newRow("at the time") << 120 << 120 << false;
        QTest::newRow("a day ahead") << 86400 << 0 << true;
        QTest::newRow("more than a day ahead is not believed") << 86401 << 0 << false;
    }
    void heldOff()
    {
        QFETCH(int, retryInSeconds);
        QFETCH(int, laterSeconds);
        QFETCH(bool, heldOff);
        FeedCache cache(m_path, m_clock);
        FeedCacheEntry entry;
        entry.retryAfter = noon + std::chrono::seconds(retryInSeconds);
        m_clock.advance(std::chrono::seconds(laterSeconds));
        QCOMPARE(cache.isHeldOff(entry), heldOff);
    }

    void maxAge_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("seconds"); // < 0: none
        QTest::newRow("alone") << QByteArray("max-age=600") << 600;
        QTest::newRow("among others")
            << QByteArray("public, max-age=1800, must-revalidate") << 1800;
        QTest::newRow("upper case and spaces") << QByteArray("Public,MAX-AGE = 60") << 60;
        QTest::newRow("quoted") << QByteArray("max-age=\"120\"") << 120;
        QTest::newRow("s-maxage is not it") << QByteArray("s-maxage=600") << -1;
        QTest::newRow("negative") << QByteArray("max-age=-5") << -1;
        QTest::newRow("not a number") << QByteArray("max-age=soon") << -1;
        QTest::newRow("huge saturates")
            << QByteArray("max-age=99999999999999999999999999") << 2147483647;
        QTest::newRow("none") << QByteArray("no-cache") << -1;
        QTest::newRow("empty") << QByteArray() << -1;
    }
    void maxAge()
    {
        QFETCH(QByteArray, header);
        QFETCH(int, seconds);
        const auto maxAge = maxAgeOf(header);
        QCOMPARE(maxAge.has_value(), seconds >= 0);
        if (maxAge)
            QCOMPARE(maxAge->count(), seconds);
    }

    void serverFreshness_data()
    {
        QTest::addColumn<QByteArray>("cacheControl");
        QTest::addColumn<QByteArray>("expires");
        QTest::addColumn<QByteArray>("date");
        QTest::addColumn<int>("seconds"); // < 0: none
        QTest::newRow("max-age wins over Expires")
            << QByteArray("max-age=900") << QByteArray("Tue, 04 Jun 2024 14:00:00 GMT")
            << QByteArray() << 900;
        QTest::newRow("Expires less Date")
            << QByteArray() << QByteArray("Tue, 04 Jun 2024 10:30:00 GMT")
            << QByteArray("Tue, 04 Jun 2024 10:00:00 GMT") << 1800;
        QTest::newRow("Expires less now without a Date")
            << QByteArray() << QByteArray("Tue, 04 Jun 2024 12:20:00 GMT") << QByteArray() << 1200;
        QTest::newRow("Expires in the past")
            << QByteArray() << QByteArray("Tue, 04 Jun 2024 11:00:00 GMT") << QByteArray() << 0;
        QTest::newRow("Expires 0") << QByteArray() << QByteArray("0") << QByteArray() << 0;
        QTest::newRow("nothing said") << QByteArray("public") << QByteArray() << QByteArray() << -1;
    }
    void serverFreshness()
    {
        QFETCH(QByteArray, cacheControl);
        QFETCH(QByteArray, expires);
        QFETCH(QByteArray, date);
        QFETCH(int, seconds);
        const auto freshness = freshnessOf(cacheControl, expires, date, noon);
        QCOMPARE(freshness.has_value(), seconds >= 0);
        if (freshness)
            QCOMPARE(freshness->count(), seconds);
    }

    void retryAfter_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<int>("seconds"); // from noon; < 0: none
        QTest::newRow("seconds") << QByteArray("120") << 120;
        QTest::newRow("an HTTP date") << QByteArray("Tue, 04 Jun 2024 12:30:00 GMT") << 1800;
        QTest::newRow("a date in the past") << QByteArray("Tue, 04 Jun 2024 11:30:00 GMT") << -1;
        QTest::newRow("zero") << QByteArray("0") << -1;
        QTest::newRow("a week is cut to a day") << QByteArray("604800") << 86400;
        QTest::newRow("a date a year ahead is cut to a day")
            << QByteArray("Wed, 04 Jun 2025 12:00:00 GMT") << 86400;
        QTest::newRow("negative") << QByteArray("-30") << -1;
        QTest::newRow("garbage") << QByteArray("later, please") << -1;
        QTest::newRow("endless") << QByteArray(4096, '9') << -1;
    }
    void retryAfter()
    {
        QFETCH(QByteArray, header);
        QFETCH(int, seconds);
        const auto at = retryAfterOf(header, noon);
        QCOMPARE(at.has_value(), seconds >= 0);
        if (at)
            QCOMPARE(*at, noon + std::chrono::seconds(seconds));
    }
};

QTEST_GUILESS_MAIN(FeedCacheTest)
#include "tst_feedcache.moc"
