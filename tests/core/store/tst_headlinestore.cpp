#include "store/HeadlineStore.h"

#include "support/FileSizeLimit.h"
#include "support/ManualClock.h"
#include "support/TestData.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtConcurrent>
#include <QtTest>

#include <atomic>

using namespace vardelle;
using test::readFile;
using test::utc;
using test::writeFile;

namespace {

NewsItem item(const QString& id, NewsCategory category = NewsCategory::cybersecurity)
{
    return NewsItem{id,
                    u"Title of "_qs + id,
                    u"https://example.org/"_qs + id,
                    u"Example Feed"_qs,
                    category,
                    utc(2024, 6, 4, 9, 15, 0, 123456),
                    u"Summary of "_qs + id};
}

QList<NewsItem> items(const QStringList& ids)
{
    QList<NewsItem> list;
    for (const QString& id : ids)
        list.append(item(id));
    return list;
}

} // namespace

class HeadlineStoreTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QString m_path;
    test::ManualClock m_clock{utc(2024, 6, 4, 12, 0, 0, 250001)};

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath(u"data"_qs)));
    }

    void init()
    {
        static int counter = 0;
        m_path = m_home.filePath(u"case%1/Vardelle/state.json"_qs.arg(++counter));
        m_clock.set(utc(2024, 6, 4, 12, 0, 0, 250001));
    }

    void userStoreLivesInTheDataFolder()
    {
        const QString expected = m_home.filePath(u"data/Vardelle/state.json"_qs);
        QCOMPARE(HeadlineStore::defaultFilePath(), expected);
        HeadlineStore user(HeadlineStore::defaultFilePath(), m_clock);
        QVERIFY(QFileInfo(expected).absoluteDir().exists());
        QVERIFY(!QFile::exists(expected)); // nothing is written at creation
    }

    void firstLaunchIsEmpty()
    {
        HeadlineStore store(m_path, m_clock);
        QVERIFY(QFileInfo(m_path).absoluteDir().exists());
        QVERIFY(!QFile::exists(m_path));
        QCOMPARE(store.lastGather(), std::nullopt);
        QCOMPARE(store.lastAnnouncement(), std::nullopt);
        QVERIFY(store.lastItems().isEmpty());
        QVERIFY(store.lastBriefing().isEmpty());
        const QList<NewsItem> input = items({u"a"_qs, u"b"_qs, u"a"_qs});
        QCOMPARE(store.unseen(input), input);
    }

    void recordAnnouncedSurvivesRelaunch()
    {
        const QList<NewsItem> recorded = items({u"x"_qs, u"y"_qs, u"z"_qs});
        const Instant now = m_clock.now();
        {
            HeadlineStore store(m_path, m_clock);
            store.record(recorded, u"Three stories."_qs, true);
            QCOMPARE(store.lastGather(), now);
            QCOMPARE(store.lastAnnouncement(), now);
            QCOMPARE(store.unseen(recorded + items({u"new"_qs})), items({u"new"_qs}));
        }
        HeadlineStore reopened(m_path, m_clock);
        // Dates come back to the microsecond, items field for field.
        QCOMPARE(reopened.lastGather(), now);
        QCOMPARE(reopened.lastAnnouncement(), now);
        QCOMPARE(reopened.lastItems(), recorded);
        QCOMPARE(reopened.lastBriefing(), u"Three stories."_qs);
        QCOMPARE(reopened.state().seenIDs, (QStringList{u"x"_qs, u"y"_qs, u"z"_qs}));
        QVERIFY(reopened.unseen(recorded).isEmpty());
    }

    void fileLayout()
    {
        HeadlineStore store(m_path, m_clock);
        store.record(items({u"x"_qs}), u"One story."_qs, true);
        const QByteArray bytes = readFile(m_path);

        const QJsonObject object = QJsonDocument::fromJson(bytes).object();
        QCOMPARE(object.keys(), (QStringList{u"lastAnnouncement"_qs, u"lastBriefing"_qs,
                                             u"lastGather"_qs, u"lastItems"_qs, u"seenIDs"_qs}));
        QVERIFY(object.value(u"lastGather").isDouble());
        QCOMPARE(object.value(u"lastGather").toDouble(), toReferenceSeconds(m_clock.now()));
        QVERIFY(object.value(u"lastItems")[0][u"published"_qs].isDouble());
        QCOMPARE(object.value(u"lastItems")[0][u"category"_qs].toString(), u"cybersecurity"_qs);

        // Pretty-printed, one member per line, keys in sorted order in the text itself.
        auto position = [&](const char* key) {
            return bytes.indexOf(QByteArray("\n    \"") + key + "\":");
        };
        const char* topKeys[] = {"lastAnnouncement", "lastBriefing", "lastGather", "lastItems",
                                 "seenIDs"};
        for (qsizetype i = 0; i < std::ssize(topKeys); ++i) {
            QVERIFY2(position(topKeys[i]) > 0, topKeys[i]);
            if (i > 0)
                QVERIFY(position(topKeys[i - 1]) < position(topKeys[i]));
        }
        qsizetype previous = bytes.indexOf("\"lastItems\"");
        for (const char* key :
             {"category", "id", "link", "published", "source", "summary", "title"}) {
            const qsizetype at = bytes.indexOf(QByteArray("\n            \"") + key + "\":");
            QVERIFY2(at > previous, key);
            previous = at;
        }
    }

    void recordWithoutNews()
    {
        HeadlineStore store(m_path, m_clock);
        store.record(items({u"x"_qs, u"y"_qs}), u"Two stories."_qs, true);
        const Instant announcedAt = m_clock.now();
        m_clock.advance(std::chrono::minutes(30));

        store.record({}, QString(), false);
        QCOMPARE(store.lastGather(), m_clock.now());
        QCOMPARE(store.lastAnnouncement(), announcedAt);
        QVERIFY(store.lastItems().isEmpty());
        QVERIFY(store.lastBriefing().isEmpty());
        QCOMPARE(store.state().seenIDs.size(), 2);

        const QJsonObject saved = QJsonDocument::fromJson(readFile(m_path)).object();
        QCOMPARE(saved.value(u"lastAnnouncement").toDouble(), toReferenceSeconds(announcedAt));
        QCOMPARE(saved.value(u"lastItems").toArray().size(), 0);
    }

    // A save that fails part-way (a full disk) leaves the previous file whole, and the next save
    // that can write brings the file up to date.
    void saveCutShortKeepsPreviousFile()
    {
        HeadlineStore store(m_path, m_clock);
        store.record(items({u"x"_qs}), u"One story."_qs, true);
        const QByteArray previous = readFile(m_path);
        QVERIFY(!previous.isEmpty());
        {
            test::FileSizeLimit limit(previous.size() + 16);
            if (!limit.active())
                QSKIP("cannot lower the file size limit");
            store.record(items({u"long"_qs}), QString(4096, u'b'), true);
        }
        QCOMPARE(readFile(m_path), previous);
        QCOMPARE(QDir(QFileInfo(m_path).absolutePath()).entryList(QDir::Files),
                 QStringList{QFileInfo(m_path).fileName()});

        store.record({}, QString(), false);
        QCOMPARE(HeadlineStore(m_path, m_clock).state(), store.state());
    }

    void historyKeepsTheNewestTwoThousand()
    {
        HeadlineStore store(m_path, m_clock);
        QStringList first;
        for (int i = 0; i < 1999; ++i)
            first.append(u"old-%1"_qs.arg(i));
        store.record(items(first), QString(), false);
        store.record(items({u"n1"_qs, u"n2"_qs, u"n3"_qs, u"n4"_qs, u"n5"_qs}), QString(), true);

        const QStringList seen = HeadlineStore(m_path, m_clock).state().seenIDs;
        QCOMPARE(seen.size(), StoredState::seenLimit);
        QCOMPARE(seen.first(), u"old-4"_qs);
        QCOMPARE(seen.mid(1995), (QStringList{u"n1"_qs, u"n2"_qs, u"n3"_qs, u"n4"_qs, u"n5"_qs}));
    }

    void unreadableFileStartsFreshAndIsKept_data()
    {
        QTest::addColumn<QByteArray>("content");
        const QByteArray goodItem =
            QJsonDocument(toJson(item(u"a"_qs))).toJson(QJsonDocument::Compact);
        QByteArray badCategory = goodItem;
        badCategory.replace("\"cybersecurity\"", "\"Malware\"");

        QTest::newRow("empty object") << QByteArray("{}");
        QTest::newRow("syntax error") << QByteArray(R"({"seenIDs": ["a", )");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("array at top")
            << QByteArray(R"([{"seenIDs": [], "lastItems": [], "lastBriefing": ""}])");
        QTest::newRow("item with unknown category") << QByteArray(
            R"({"seenIDs": [], "lastBriefing": "", "lastItems": [)" + badCategory + "]}");
        QTest::newRow("id that is not a string")
            << QByteArray(R"({"seenIDs": ["a", 7], "lastItems": [], "lastBriefing": ""})");
        QTest::newRow("date that is not a number")
            << QByteArray(R"({"seenIDs": [], "lastItems": [], "lastBriefing": "",)"
                          R"( "lastGather": "2024-06-04"})");
        QTest::newRow("older format without briefing")
            << QByteArray(R"({"seenIDs": ["a"], "lastItems": []})");
    }
    void unreadableFileStartsFreshAndIsKept()
    {
        QFETCH(QByteArray, content);
        writeFile(m_path, content);

        HeadlineStore store(m_path, m_clock);
        QCOMPARE(store.state(), StoredState{});
        QCOMPARE(readFile(m_path + u".corrupt"_qs), content);

        // The next save writes a good file and leaves the kept copy alone.
        store.record(items({u"b"_qs}), u"One."_qs, true);
        QCOMPARE(HeadlineStore(m_path, m_clock).lastItems(), items({u"b"_qs}));
        QCOMPARE(readFile(m_path + u".corrupt"_qs), content);
    }

    void readableLayouts_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("hasDates");
        QTest::addColumn<QStringList>("leftOut");
        QTest::addColumn<QStringList>("toldExploited");
        QTest::newRow("no dates")
            << QByteArray(R"({"seenIDs": ["a"], "lastItems": [], "lastBriefing": "B"})") << false
            << QStringList() << QStringList();
        QTest::newRow("null dates, extra key, compact")
            << QByteArray(R"({"lastGather":null,"lastAnnouncement":null,"future":{"x":1},)"
                          R"("lastBriefing":"B","lastItems":[],"seenIDs":["a"]})")
            << false << QStringList() << QStringList();
        QTest::newRow("with dates")
            << QByteArray(R"({"lastGather": 739197000.250001, "lastAnnouncement": 739197000,)"
                          R"( "seenIDs": ["a"], "lastItems": [], "lastBriefing": "B"})")
            << true << QStringList() << QStringList();
        QTest::newRow("left-out ids")
            << QByteArray(R"({"seenIDs": ["a"], "lastItems": [], "lastBriefing": "B",)"
                          R"( "leftOutIDs": ["cut", "too"]})")
            << false << QStringList{u"cut"_qs, u"too"_qs} << QStringList();
        QTest::newRow("left-out ids of the wrong kind")
            << QByteArray(R"({"seenIDs": ["a"], "lastItems": [], "lastBriefing": "B",)"
                          R"( "leftOutIDs": ["cut", 1, null]})")
            << false << QStringList() << QStringList();
        QTest::newRow("told exploited ids")
            << QByteArray(R"({"seenIDs": ["a"], "lastItems": [], "lastBriefing": "B",)"
                          R"( "toldExploitedIDs": ["CVE-2024-3400"]})")
            << false << QStringList() << QStringList{u"CVE-2024-3400"_qs};
        QTest::newRow("told exploited ids of the wrong kind")
            << QByteArray(R"({"seenIDs": ["a"], "lastItems": [], "lastBriefing": "B",)"
                          R"( "toldExploitedIDs": {"CVE-2024-3400": true}})")
            << false << QStringList() << QStringList();
    }
    void readableLayouts()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, hasDates);
        QFETCH(QStringList, leftOut);
        QFETCH(QStringList, toldExploited);
        writeFile(m_path, content);

        HeadlineStore store(m_path, m_clock);
        QCOMPARE(store.state().seenIDs, QStringList{u"a"_qs});
        QCOMPARE(store.lastBriefing(), u"B"_qs);
        QCOMPARE(store.state().leftOutIDs, leftOut);
        QCOMPARE(store.toldExploitedIDs(), toldExploited);
        QCOMPARE(store.lastGather().has_value(), hasDates);
        if (hasDates) {
            QCOMPARE(store.lastGather(), utc(2024, 6, 4, 12, 30, 0, 250001));
            QCOMPARE(store.lastAnnouncement(), utc(2024, 6, 4, 12, 30));
        }
        QVERIFY(!QFile::exists(m_path + u".corrupt"_qs));
    }

    // One date beyond what the time type holds must not set the whole history aside: every
    // story would be told again. It reads as the nearest date the type holds.
    void outOfRangeDatesKeepTheHistory_data()
    {
        QTest::addColumn<QByteArray>("content");
        QJsonObject far = toJson(item(u"a"_qs));
        far.insert(u"published"_qs, 1e300);
        const QByteArray farItem = QJsonDocument(far).toJson(QJsonDocument::Compact);
        QTest::newRow("a story's date") << QByteArray(
            R"({"seenIDs": ["a"], "lastBriefing": "B", "lastItems": [)" + farItem + "]}");
        QTest::newRow("the last gather") << QByteArray(
            R"({"seenIDs": ["a"], "lastBriefing": "B", "lastItems": [], "lastGather": -1e300})");
    }
    void outOfRangeDatesKeepTheHistory()
    {
        QFETCH(QByteArray, content);
        writeFile(m_path, content);
        HeadlineStore store(m_path, m_clock);
        QCOMPARE(store.state().seenIDs, QStringList{u"a"_qs});
        QVERIFY(!QFile::exists(m_path + u".corrupt"_qs));
        for (const NewsItem& kept : store.lastItems())
            QVERIFY(kept.published > utc(9999, 1, 1));
        if (store.lastGather())
            QVERIFY(*store.lastGather() < utc(1, 1, 1));
        // What it writes back reads again.
        store.record({}, {}, false);
        QCOMPARE(HeadlineStore(m_path, m_clock).state().seenIDs, QStringList{u"a"_qs});
    }

    void leftOutStoriesAreKeptApart()
    {
        HeadlineStore store(m_path, m_clock);
        store.record(items({u"told"_qs}), u"One."_qs, true, {u"cut"_qs});
        const QList<NewsItem> offered = items({u"told"_qs, u"cut"_qs, u"new"_qs});
        QCOMPARE(store.unseen(offered), items({u"cut"_qs, u"new"_qs}));
        QCOMPARE(store.unseen(offered, true), items({u"new"_qs}));

        const HeadlineStore again(m_path, m_clock);
        QCOMPARE(again.state().leftOutIDs, QStringList{u"cut"_qs});
        QCOMPARE(again.state().seenIDs, QStringList{u"told"_qs});
    }

    // The CVE ids told as newly known to be exploited are kept with the history, added to by
    // each record, and forgotten with it.
    void toldExploitedIdsAreKept()
    {
        HeadlineStore store(m_path, m_clock);
        store.record(items({u"a"_qs}), u"One."_qs, true, {}, {u"CVE-2024-3400"_qs});
        store.record({}, u"Two."_qs, true, {}, {u"CVE-2025-0282"_qs});
        QCOMPARE(HeadlineStore(m_path, m_clock).toldExploitedIDs(),
                 (QStringList{u"CVE-2024-3400"_qs, u"CVE-2025-0282"_qs}));
        store.forgetHistory();
        QCOMPARE(HeadlineStore(m_path, m_clock).toldExploitedIDs(), QStringList());
    }

    void forgetHistoryLeavesAnEmptyFile()
    {
        {
            HeadlineStore store(m_path, m_clock);
            store.record(items({u"x"_qs}), u"One."_qs, true);
            store.forgetHistory();
            QCOMPARE(store.unseen(items({u"x"_qs})), items({u"x"_qs}));
        }
        const QJsonObject saved = QJsonDocument::fromJson(readFile(m_path)).object();
        QCOMPARE(saved.keys(), (QStringList{u"lastBriefing"_qs, u"lastItems"_qs, u"seenIDs"_qs}));
        QCOMPARE(HeadlineStore(m_path, m_clock).state(), StoredState{});
    }

    void folderInTheFilesPlaceIsMovedAside()
    {
        // Cannot be read as a file; moved aside, it no longer keeps every save from landing.
        QVERIFY(QDir().mkpath(m_path));
        writeFile(m_path + u"/inside"_qs, "kept");

        HeadlineStore store(m_path, m_clock);
        QCOMPARE(store.state(), StoredState{});
        QCOMPARE(readFile(m_path + u".corrupt/inside"_qs), QByteArray("kept"));
        store.record(items({u"x"_qs}), u"One."_qs, true);
        QCOMPARE(HeadlineStore(m_path, m_clock).lastBriefing(), u"One."_qs);
    }

    void failedWritesAreIgnored()
    {
        // The folder cannot be created because a plain file stands where it should be.
        const QString blocker = m_home.filePath(u"blocker"_qs);
        writeFile(blocker, "not a folder");
        const QString path = blocker + u"/Vardelle/state.json"_qs;

        HeadlineStore store(path, m_clock);
        store.record(items({u"x"_qs}), u"One."_qs, true);
        QCOMPARE(store.lastBriefing(), u"One."_qs);
        QVERIFY(store.unseen(items({u"x"_qs})).isEmpty());
        QVERIFY(!QFile::exists(path));
    }

    void concurrentUseLosesNothingAndNeverShowsHalfAFile()
    {
        HeadlineStore store(m_path, m_clock);
        store.record(items({u"seed"_qs}), QString(), true);

        constexpr int writers = 4;
        constexpr int recordsEach = 25;
        std::atomic<bool> writing{true};
        std::atomic<int> badReads{0};
        std::atomic<int> reads{0};

        QThreadPool pool;
        pool.setMaxThreadCount(writers + 1);
        QFuture<void> reader = QtConcurrent::run(&pool, [&] {
            while (writing.load()) {
                if (!decodeStoredState(readFile(m_path)))
                    ++badReads;
                ++reads;
            }
        });
        QList<QFuture<void>> running;
        for (int w = 0; w < writers; ++w) {
            running.append(QtConcurrent::run(&pool, [&store, w] {
                for (int r = 0; r < recordsEach; ++r) {
                    const QString id = u"w%1-r%2"_qs.arg(w).arg(r);
                    store.record({item(id)}, id, true);
                    store.unseen({item(id)});
                }
            }));
        }
        for (QFuture<void>& future : running)
            future.waitForFinished();
        writing = false;
        reader.waitForFinished();

        QCOMPARE(badReads.load(), 0);
        QVERIFY(reads.load() > 0);
        const StoredState saved = HeadlineStore(m_path, m_clock).state();
        QCOMPARE(saved.seenIDs.size(), 1 + writers * recordsEach);
        QCOMPARE(saved, store.state());
    }
};

QTEST_GUILESS_MAIN(HeadlineStoreTest)
#include "tst_headlinestore.moc"
