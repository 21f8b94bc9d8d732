#include "settings/AppSettings.h"

#include "support/TestData.h"
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaProperty>
#include <QSignalSpy>

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>

using namespace vardelle;
using namespace Qt::StringLiterals;

namespace {

using test::readFile;
using test::writeFile;

QStringList sorted(QStringList list)
{
    std::sort(list.begin(), list.end());
    return list;
}

QStringList identifiers(const QSet<NewsCategory>& categories)
{
    QStringList raws;
    for (NewsCategory category : categories)
        raws.append(identifier(category));
    return sorted(raws);
}

QSet<NewsCategory> categoriesFrom(const QStringList& raws)
{
    QSet<NewsCategory> categories;
    for (const QString& raw : raws)
        categories.insert(*newsCategoryFromIdentifier(raw));
    return categories;
}

QStringList ids(const QList<FeedSource>& sources)
{
    QStringList result;
    for (const FeedSource& source : sources)
        result.append(source.id);
    return result;
}

QMetaProperty propertyNamed(const QObject& object, const char* name)
{
    const QMetaObject* meta = object.metaObject();
    return meta->property(meta->indexOfProperty(name));
}

// JSON written with single quotes, for readability.
QByteArray json(const char* text)
{
    return QByteArray(text).replace('\'', '"');
}

const QStringList allIdentifiers{u"cybersecurity"_qs, u"malware"_qs, u"threatIntel"_qs}; // sorted

} // namespace

class AppSettingsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_config;
    std::optional<QTemporaryDir> m_dir;

    QString path() const { return m_dir->filePath(u"Vardelle/preferences.json"_qs); }
    std::unique_ptr<AppSettings> make() const { return std::make_unique<AppSettings>(path()); }
    QJsonObject stored() const { return QJsonDocument::fromJson(readFile(path())).object(); }
    // A preference file with the given JSON values, as text, under their keys.
    void store(const QList<std::pair<QString, QByteArray>>& values) const
    {
        QByteArray json = "{";
        for (const auto& [key, value] : values) {
            if (value.isEmpty())
                continue;
            if (json.size() > 1)
                json += ",";
            json += "\"" + key.toUtf8() + "\": " + value;
        }
        writeFile(path(), json + "}");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        qputenv("HOME", QFile::encodeName(m_config.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.filePath(u"config"_qs)));
    }

    void init()
    {
        m_dir.emplace();
        QVERIFY(m_dir->isValid());
    }

    void defaultsWhenNothingIsStored()
    {
        const auto settings = make();
        QCOMPARE(identifiers(settings->enabledCategories()), allIdentifiers);
        QVERIFY(settings->disabledFeedIDs().isEmpty());
        QCOMPARE(settings->maxHeadlines(), 12);
        QCOMPARE(settings->lookbackHours(), 24);
        QCOMPARE(settings->voiceIdentifier(), QString());
        QCOMPARE(settings->speechRate(), 0.5);
        QVERIFY(settings->announceOnLaunch());
        QVERIFY(settings->announceOnUnlock());
        QCOMPARE(settings->quietMinutes(), 30);
        QVERIFY(settings->holdWhenBusy());
        QCOMPARE(settings->backgroundRefreshMinutes(), 30);
        QVERIFY(settings->knownExploited());
        QVERIFY(!settings->bubbleHidden());
        QVERIFY(!settings->bubbleCompact());
        QVERIFY(settings->isFirstRun());
        QVERIFY(!settings->savedBubbleOrigin());
        QCOMPARE(settings->activeSources(), FeedSource::catalog());
        QVERIFY(!QFileInfo::exists(QFileInfo(path()).absolutePath())); // nothing written
    }

    // One stored value per row; the property takes it only when it has the right kind, and
    // never clamps it.
    void readingRules_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QVariant>("expected");
        const auto i = [](qint64 v) { return QVariant::fromValue(v); };
        const auto s = [](const char16_t* v) { return QVariant(QString::fromUtf16(v)); };

        QTest::newRow("maxHeadlines whole") << u"maxHeadlines"_qs << "20"_ba << i(20);
        QTest::newRow("maxHeadlines as text") << u"maxHeadlines"_qs << "\"20\""_ba << i(12);
        QTest::newRow("maxHeadlines fraction") << u"maxHeadlines"_qs << "20.5"_ba << i(12);
        QTest::newRow("maxHeadlines 20.0") << u"maxHeadlines"_qs << "20.0"_ba << i(20);
        QTest::newRow("maxHeadlines Boolean") << u"maxHeadlines"_qs << "true"_ba << i(12);
        QTest::newRow("maxHeadlines null") << u"maxHeadlines"_qs << "null"_ba << i(12);
        QTest::newRow("maxHeadlines past range") << u"maxHeadlines"_qs << "100"_ba << i(100);
        QTest::newRow("maxHeadlines past 64 bits") << u"maxHeadlines"_qs << "1e300"_ba << i(12);
        QTest::newRow("lookbackHours whole") << u"lookbackHours"_qs << "200"_ba << i(200);
        QTest::newRow("lookbackHours negative") << u"lookbackHours"_qs << "-3"_ba << i(-3);
        QTest::newRow("lookbackHours as text") << u"lookbackHours"_qs << "\"48\""_ba << i(24);
        QTest::newRow("lookbackHours array") << u"lookbackHours"_qs << "[48]"_ba << i(24);
        QTest::newRow("quietMinutes negative") << u"quietMinutes"_qs << "-5"_ba << i(-5);
        QTest::newRow("quietMinutes off-step") << u"quietMinutes"_qs << "7"_ba << i(7);
        QTest::newRow("quietMinutes fraction") << u"quietMinutes"_qs << "7.5"_ba << i(30);
        QTest::newRow("quietMinutes Boolean") << u"quietMinutes"_qs << "false"_ba << i(30);
        QTest::newRow("backgroundRefreshMinutes off")
            << u"backgroundRefreshMinutes"_qs << "0"_ba << i(0);
        QTest::newRow("backgroundRefreshMinutes text")
            << u"backgroundRefreshMinutes"_qs << "\"0\""_ba << i(30);
        QTest::newRow("speechRate integer") << u"speechRate"_qs << "1"_ba << QVariant(1.0);
        QTest::newRow("speechRate fraction") << u"speechRate"_qs << "0.75"_ba << QVariant(0.75);
        QTest::newRow("speechRate past range") << u"speechRate"_qs << "3"_ba << QVariant(3.0);
        QTest::newRow("speechRate as text") << u"speechRate"_qs << "\"0.75\""_ba << QVariant(0.5);
        QTest::newRow("speechRate Boolean") << u"speechRate"_qs << "true"_ba << QVariant(0.5);
        QTest::newRow("voiceIdentifier") << u"voiceIdentifier"_qs << "\"en-gb\""_ba << s(u"en-gb");
        QTest::newRow("voiceIdentifier number") << u"voiceIdentifier"_qs << "42"_ba << s(u"");
        QTest::newRow("voiceIdentifier array") << u"voiceIdentifier"_qs << "[\"a\"]"_ba << s(u"");
        QTest::newRow("announceOnLaunch off")
            << u"announceOnLaunch"_qs << "false"_ba << QVariant(false);
        QTest::newRow("announceOnLaunch zero")
            << u"announceOnLaunch"_qs << "0"_ba << QVariant(true);
        QTest::newRow("announceOnLaunch text")
            << u"announceOnLaunch"_qs << "\"false\""_ba << QVariant(true);
        QTest::newRow("announceOnUnlock off")
            << u"announceOnUnlock"_qs << "false"_ba << QVariant(false);
        QTest::newRow("announceOnUnlock null")
            << u"announceOnUnlock"_qs << "null"_ba << QVariant(true);
        QTest::newRow("holdWhenBusy off") << u"holdWhenBusy"_qs << "false"_ba << QVariant(false);
        QTest::newRow("holdWhenBusy text")
            << u"holdWhenBusy"_qs << "\"false\""_ba << QVariant(true);
        QTest::newRow("knownExploited off")
            << u"knownExploited"_qs << "false"_ba << QVariant(false);
        QTest::newRow("knownExploited text")
            << u"knownExploited"_qs << "\"false\""_ba << QVariant(true);
        QTest::newRow("bubbleHidden on") << u"bubbleHidden"_qs << "true"_ba << QVariant(true);
        QTest::newRow("bubbleHidden one") << u"bubbleHidden"_qs << "1"_ba << QVariant(false);
        QTest::newRow("bubbleHidden text")
            << u"bubbleHidden"_qs << "\"true\""_ba << QVariant(false);
        QTest::newRow("bubbleCompact on") << u"bubbleCompact"_qs << "true"_ba << QVariant(true);
        QTest::newRow("bubbleCompact one") << u"bubbleCompact"_qs << "1"_ba << QVariant(false);
        QTest::newRow("isFirstRun stored true") << u"isFirstRun"_qs << "true"_ba << QVariant(false);
        QTest::newRow("isFirstRun stored false")
            << u"isFirstRun"_qs << "false"_ba << QVariant(true);
        QTest::newRow("isFirstRun stored one") << u"isFirstRun"_qs << "1"_ba << QVariant(true);
        QTest::newRow("isFirstRun stored text")
            << u"isFirstRun"_qs << "\"true\""_ba << QVariant(true);
    }
    void readingRules()
    {
        QFETCH(QString, key);
        QFETCH(QByteArray, json);
        QFETCH(QVariant, expected);
        store({{key, json}});
        const QByteArray before = readFile(path());

        const auto settings = make();
        QCOMPARE(settings->property(key.toLatin1().constData()), expected);
        QCOMPARE(readFile(path()), before); // reading writes nothing
    }

    void categorySelection_data()
    {
        QTest::addColumn<QByteArray>("enabledJson"); // empty: key missing
        QTest::addColumn<QByteArray>("disabledJson");
        QTest::addColumn<QStringList>("enabled");  // sorted identifiers
        QTest::addColumn<QStringList>("disabled"); // sorted ids

        QTest::newRow("nothing stored")
            << QByteArray() << QByteArray() << allIdentifiers << QStringList();
        QTest::newRow("empty array is no category") << "[]"_ba
                                                    << "[]"_ba << QStringList() << QStringList();
        QTest::newRow("unknown name skipped") << "[\"malware\", \"unknown\"]"_ba << QByteArray()
                                              << QStringList{u"malware"_qs} << QStringList();
        QTest::newRow("only unknown names")
            << "[\"Malware\"]"_ba << QByteArray() << QStringList() << QStringList();
        QTest::newRow("non-string element gives all")
            << "[\"malware\", 7]"_ba << QByteArray() << allIdentifiers << QStringList();
        QTest::newRow("not an array gives all")
            << "\"malware\""_ba << QByteArray() << allIdentifiers << QStringList();
        QTest::newRow("duplicates collapse")
            << "[\"malware\", \"cybersecurity\", \"malware\"]"_ba << QByteArray()
            << QStringList{u"cybersecurity"_qs, u"malware"_qs} << QStringList();
        QTest::newRow("disabled ids kept unchecked")
            << QByteArray() << "[\"talos\", \"no-such-feed\", \"talos\"]"_ba << allIdentifiers
            << QStringList{u"no-such-feed"_qs, u"talos"_qs};
        QTest::newRow("disabled with null element")
            << QByteArray() << "[\"talos\", null]"_ba << allIdentifiers << QStringList();
        QTest::newRow("disabled as object")
            << QByteArray() << "{\"talos\": true}"_ba << allIdentifiers << QStringList();
    }
    void categorySelection()
    {
        QFETCH(QByteArray, enabledJson);
        QFETCH(QByteArray, disabledJson);
        QFETCH(QStringList, enabled);
        QFETCH(QStringList, disabled);
        store({{u"enabledCategories"_qs, enabledJson}, {u"disabledFeeds"_qs, disabledJson}});

        const auto settings = make();
        QCOMPARE(identifiers(settings->enabledCategories()), enabled);
        const QSet<QString> ids = settings->disabledFeedIDs();
        QCOMPARE(sorted(QStringList(ids.begin(), ids.end())), disabled);
    }

    void activeSources_data()
    {
        QTest::addColumn<QStringList>("enabled");
        QTest::addColumn<QStringList>("disabled");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("everything")
            << allIdentifiers << QStringList() << ids(FeedSource::catalog());
        QTest::newRow("no category") << QStringList() << QStringList() << QStringList();
        QTest::newRow("malware without talos")
            << QStringList{u"malware"_qs} << QStringList{u"talos"_qs, u"no-such-feed"_qs}
            << QStringList{u"malwarebytes"_qs, u"securelist"_qs, u"checkpoint-research"_qs,
                           u"welivesecurity"_qs, u"microsoft-security"_qs};
        QTest::newRow("disabled id of a category that is off")
            << QStringList{u"threatIntel"_qs}
            << QStringList{u"bleepingcomputer"_qs, u"cisa-ics"_qs, u"ncsc-uk"_qs}
            << QStringList{u"therecord"_qs, u"industrialcyber"_qs, u"sans-isc"_qs, u"unit42"_qs,
                           u"cisa-news"_qs};
        QTest::newRow("catalogue order, not selection order")
            << QStringList{u"malware"_qs, u"cybersecurity"_qs}
            << QStringList{u"cisa-advisories"_qs, u"bleepingcomputer"_qs, u"thehackernews"_qs,
                           u"orvane"_qs,          u"securityweek"_qs,     u"darkreading"_qs,
                           u"malwarebytes"_qs,    u"securelist"_qs,       u"welivesecurity"_qs}
            << QStringList{u"helpnetsecurity"_qs, u"talos"_qs, u"checkpoint-research"_qs,
                           u"microsoft-security"_qs};
    }
    void activeSources()
    {
        QFETCH(QStringList, enabled);
        QFETCH(QStringList, disabled);
        QFETCH(QStringList, expected);
        const auto settings = make();
        settings->setEnabledCategories(categoriesFrom(enabled));
        settings->setDisabledFeedIDs(QSet<QString>(disabled.begin(), disabled.end()));
        QCOMPARE(ids(settings->activeSources()), expected);
    }

    // The own feeds are gathered after the catalogue when switched on and of an enabled category.
    void activeSourcesWithOwnFeeds()
    {
        const auto settings = make();
        settings->setEnabledCategories({NewsCategory::malware, NewsCategory::threatIntel});
        const QUrl url(u"http://127.0.0.1/feed"_qs);
        settings->setOwnFeeds({{u"a"_qs, u"A"_qs, url, NewsCategory::malware, true},
                               {u"b"_qs, u"B"_qs, url, NewsCategory::malware, false},
                               {u"c"_qs, u"C"_qs, url, NewsCategory::cybersecurity, true},
                               {u"d"_qs, u"D"_qs, url, NewsCategory::threatIntel, true}});
        settings->setDisabledFeedIDs({u"talos"_qs, u"d"_qs});     // an own feed has its own switch
        QStringList expected = ids(FeedSource::catalog()).mid(7); // threat intel and malware
        expected.removeOne(u"talos"_qs);
        QCOMPARE(ids(settings->activeSources()), (expected + QStringList{u"a"_qs, u"d"_qs}));
        QCOMPARE(settings->activeSources().at(expected.size()),
                 (FeedSource{u"a"_qs, u"A"_qs, url, NewsCategory::malware}));
    }

    // How "watchTerms" and "customFeeds" read: an array of the right shape, else nothing.
    void watchAndOwnFeedReadingRules_data()
    {
        QTest::addColumn<QByteArray>("terms");
        QTest::addColumn<QStringList>("expectedTerms");
        QTest::addColumn<QByteArray>("feeds");
        QTest::addColumn<QStringList>("expectedFeeds");

        const QByteArray feed = json("{'id':'psirt','name':'PSIRT','url':'https://example.org/"
                                     "rss','category':'malware','enabled':false}");
        QTest::newRow("absent") << QByteArray() << QStringList() << QByteArray() << QStringList();
        QTest::newRow("kept as typed less the outer spaces")
            << json("[' Ivanti ', 'CVE-2024-3400']")
            << QStringList{u"Ivanti"_qs, u"CVE-2024-3400"_qs} << "[" + feed + "]"
            << QStringList{u"psirt PSIRT https://example.org/rss malware off"_qs};
        QTest::newRow("not arrays") << json("'Ivanti'") << QStringList() << feed << QStringList();
        QTest::newRow("an element of the wrong type leaves the others")
            << json("['Ivanti', 7]") << QStringList{u"Ivanti"_qs} << "[" + feed + json(", 'x']")
            << QStringList{u"psirt PSIRT https://example.org/rss malware off"_qs};
        QTest::newRow("blank and overlong terms left out")
            << json("['', '  ', 'ok', '") + QByteArray(101, 'a') + json("']")
            << QStringList{u"ok"_qs} << "[" + QByteArray(feed).replace("false", json("'no'")) + "]"
            << QStringList();
        QTest::newRow("an unknown category")
            << QByteArray() << QStringList()
            << "[" + QByteArray(feed).replace("malware", "news") + "]" << QStringList();
        QTest::newRow("an address that is not http")
            << QByteArray() << QStringList()
            << "[" + QByteArray(feed).replace("https:", "file:") + "]" << QStringList();
        QTest::newRow("a key missing")
            << QByteArray() << QStringList()
            << "[" + QByteArray(feed).replace(json("'enabled':false"), json("'on':false")) + "]"
            << QStringList();
        QTest::newRow("a repeated id gets a fresh one")
            << QByteArray() << QStringList()
            << "[" + feed + ", " + QByteArray(feed).replace("PSIRT", "Second") + "]"
            << QStringList{u"psirt PSIRT https://example.org/rss malware off"_qs,
                           u"second Second https://example.org/rss malware off"_qs};
        QTest::newRow("a catalogue id gets a fresh one")
            << QByteArray() << QStringList()
            << "[" +
                   QByteArray(feed)
                       .replace("\"psirt\"", "\"talos\"")
                       .replace("PSIRT", "Talos Mirror") +
                   "]"
            << QStringList{u"talos-mirror Talos Mirror https://example.org/rss malware off"_qs};
        QTest::newRow("names cleaned and cut like feed titles")
            << QByteArray() << QStringList()
            << "[" +
                   QByteArray(feed).replace("PSIRT", "\\u202eFTCB\\u0007 \\n PSIRT " +
                                                         QByteArray(500'000, 'x')) +
                   "]"
            << QStringList{u"psirt FTCB PSIRT "_qs + QString(89, u'x') +
                           u" https://example.org/rss malware off"_qs};
        QStringList manyTerms;
        QByteArray manyJson = "[";
        for (int i = 0; i < 250; ++i) {
            manyTerms.append(u"term"_qs + QString::number(i));
            manyJson += (i ? ",\"term" : "\"term") + QByteArray::number(i) + "\"";
        }
        manyJson += "]";
        QTest::newRow("only the first 200 terms are used")
            << manyJson << manyTerms.mid(0, AppSettings::maxWatchTerms) << QByteArray()
            << QStringList();
    }
    void watchAndOwnFeedReadingRules()
    {
        QFETCH(QByteArray, terms);
        QFETCH(QStringList, expectedTerms);
        QFETCH(QByteArray, feeds);
        QFETCH(QStringList, expectedFeeds);
        store({{u"watchTerms"_qs, terms}, {u"customFeeds"_qs, feeds}});
        const auto settings = make();
        QCOMPARE(settings->watchTerms(), expectedTerms);
        QStringList got;
        for (const OwnFeed& feed : settings->ownFeeds())
            got.append(feed.id + u' ' + feed.name + u' ' + feed.url.toString() + u' ' +
                       identifier(feed.category) + (feed.enabled ? u" on"_qs : u" off"_qs));
        QCOMPARE(got, expectedFeeds);
    }

    // What a list leaves out stays in the file when the list is written back: a bad entry the
    // user can still mend, terms past the limit, never fewer entries than were read.
    void writingBackKeepsWhatWasLeftOut()
    {
        const QByteArray feed = json("{'id':'psirt','name':'PSIRT','url':'https://example.org/"
                                     "rss','category':'malware','enabled':true}");
        const QByteArray bad = QByteArray(feed).replace("https:", "gopher:");
        store({{u"watchTerms"_qs, json("['Ivanti', 7, '']")},
               {u"customFeeds"_qs, "[" + bad + ", " + feed + "]"}});
        const auto settings = make();
        QCOMPARE(settings->watchTerms(), QStringList{u"Ivanti"_qs});
        QCOMPARE(settings->ownFeeds().size(), 1);

        settings->setWatchTerms(settings->watchTerms() << u"Fortinet"_qs);
        QList<OwnFeed> feeds = settings->ownFeeds();
        feeds.append({u"new"_qs, u"New"_qs, QUrl(u"https://example.com/feed"_qs),
                      NewsCategory::cybersecurity, true});
        settings->setOwnFeeds(feeds);

        const QJsonObject json = stored();
        QCOMPARE(json.value(u"watchTerms"),
                 QJsonValue(QJsonArray{u"Ivanti"_qs, u"Fortinet"_qs, 7, u""_qs}));
        const QJsonArray storedFeeds = json.value(u"customFeeds").toArray();
        QCOMPARE(storedFeeds.size(), 3);
        QCOMPARE(storedFeeds.at(2).toObject().value(u"url"),
                 QJsonValue(u"gopher://example.org/rss"_qs));
        // Read again, the same feeds are in use.
        QCOMPARE(make()->ownFeeds(), settings->ownFeeds());
    }

    void storedForms()
    {
        const auto settings = make();
        settings->setMaxHeadlines(40);
        settings->setSpeechRate(1.0);
        settings->setVoiceIdentifier(u"en-gb+klatt"_qs);
        settings->setAnnounceOnLaunch(false);
        settings->setBubbleCompact(true);
        settings->setEnabledCategories({NewsCategory::malware, NewsCategory::cybersecurity});
        settings->setDisabledFeedIDs({u"talos"_qs, u"cisa-ics"_qs, u"no-such-feed"_qs});
        settings->setIsFirstRun(false);

        const QJsonObject json = stored();
        QCOMPARE(json.value(u"maxHeadlines"), QJsonValue(40));
        QVERIFY(json.value(u"speechRate").isDouble());
        QCOMPARE(json.value(u"speechRate").toDouble(), 1.0);
        QCOMPARE(json.value(u"voiceIdentifier"), QJsonValue(u"en-gb+klatt"_qs));
        QCOMPARE(json.value(u"announceOnLaunch"), QJsonValue(false));
        QCOMPARE(json.value(u"bubbleCompact"), QJsonValue(true));
        QCOMPARE(json.value(u"enabledCategories"),
                 QJsonValue(QJsonArray{u"cybersecurity"_qs, u"malware"_qs}));
        QCOMPARE(json.value(u"disabledFeeds"),
                 QJsonValue(QJsonArray{u"cisa-ics"_qs, u"no-such-feed"_qs, u"talos"_qs}));
        QCOMPARE(json.value(u"isFirstRun"), QJsonValue(true)); // the negation of the property
        QVERIFY(
            QString::fromUtf8(readFile(path()))
                .contains(QRegularExpression(u"\"maxHeadlines\": 40\\s*[,}]"_s))); // no fraction
        // Only what was assigned is stored.
        QVERIFY(!json.contains(u"lookbackHours"));

        settings->setIsFirstRun(true);
        QCOMPARE(stored().value(u"isFirstRun"), QJsonValue(false));
        settings->setEnabledCategories({});
        QCOMPARE(stored().value(u"enabledCategories"), QJsonValue(QJsonArray()));
    }

    // Whatever one instance assigns, the next one made on the same file reads back.
    void writeThrough()
    {
        {
            const auto first = make();
            first->setEnabledCategories({NewsCategory::threatIntel});
            first->setDisabledFeedIDs({u"unit42"_qs});
            first->setMaxHeadlines(3);
            first->setLookbackHours(168);
            first->setVoiceIdentifier(u"mbrola-1"_qs);
            first->setSpeechRate(0.125);
            first->setAnnounceOnLaunch(false);
            first->setAnnounceOnUnlock(false);
            first->setQuietMinutes(0);
            first->setBubbleHidden(true);
            first->setBubbleCompact(true);
            first->setIsFirstRun(false);
            first->setBubbleOrigin(QPointF(812.5, 40));
            QCOMPARE(first->savedBubbleOrigin(), QPointF(812.5, 40));
        }
        const auto second = make();
        QCOMPARE(second->enabledCategories(), QSet<NewsCategory>{NewsCategory::threatIntel});
        QCOMPARE(second->disabledFeedIDs(), QSet<QString>{u"unit42"_qs});
        QCOMPARE(second->maxHeadlines(), 3);
        QCOMPARE(second->lookbackHours(), 168);
        QCOMPARE(second->voiceIdentifier(), u"mbrola-1"_qs);
        QCOMPARE(second->speechRate(), 0.125);
        QVERIFY(!second->announceOnLaunch());
        QVERIFY(!second->announceOnUnlock());
        QCOMPARE(second->quietMinutes(), 0);
        QVERIFY(second->bubbleHidden());
        QVERIFY(second->bubbleCompact());
        QVERIFY(!second->isFirstRun());
        QCOMPARE(second->savedBubbleOrigin(), QPointF(812.5, 40));
        QCOMPARE(ids(second->activeSources()),
                 (QStringList{u"therecord"_qs, u"industrialcyber"_qs, u"sans-isc"_qs,
                              u"cisa-ics"_qs, u"cisa-news"_qs, u"ncsc-uk"_qs}));
    }

    // Every assignment, also of the value already held, notifies and writes the file again.
    void everyAssignmentNotifiesAndWrites_data()
    {
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("enabledCategories")
            << "enabledCategories"_ba << u"enabledCategories"_qs
            << QVariant::fromValue(QSet<NewsCategory>{NewsCategory::malware});
        QTest::newRow("disabledFeedIDs") << "disabledFeedIDs"_ba << u"disabledFeeds"_qs
                                         << QVariant::fromValue(QSet<QString>{u"talos"_qs});
        QTest::newRow("maxHeadlines")
            << "maxHeadlines"_ba << u"maxHeadlines"_qs << QVariant::fromValue(qint64(12));
        QTest::newRow("lookbackHours")
            << "lookbackHours"_ba << u"lookbackHours"_qs << QVariant::fromValue(qint64(24));
        QTest::newRow("voiceIdentifier")
            << "voiceIdentifier"_ba << u"voiceIdentifier"_qs << QVariant(QString());
        QTest::newRow("speechRate") << "speechRate"_ba << u"speechRate"_qs << QVariant(0.5);
        QTest::newRow("announceOnLaunch")
            << "announceOnLaunch"_ba << u"announceOnLaunch"_qs << QVariant(true);
        QTest::newRow("announceOnUnlock")
            << "announceOnUnlock"_ba << u"announceOnUnlock"_qs << QVariant(false);
        QTest::newRow("quietMinutes")
            << "quietMinutes"_ba << u"quietMinutes"_qs << QVariant::fromValue(qint64(45));
        QTest::newRow("holdWhenBusy") << "holdWhenBusy"_ba << u"holdWhenBusy"_qs << QVariant(false);
        QTest::newRow("backgroundRefreshMinutes")
            << "backgroundRefreshMinutes"_ba << u"backgroundRefreshMinutes"_qs
            << QVariant::fromValue(qint64(0));
        QTest::newRow("knownExploited")
            << "knownExploited"_ba << u"knownExploited"_qs << QVariant(false);
        QTest::newRow("bubbleHidden") << "bubbleHidden"_ba << u"bubbleHidden"_qs << QVariant(false);
        QTest::newRow("bubbleCompact")
            << "bubbleCompact"_ba << u"bubbleCompact"_qs << QVariant(true);
        QTest::newRow("isFirstRun") << "isFirstRun"_ba << u"isFirstRun"_qs << QVariant(true);
        QTest::newRow("watchTerms")
            << "watchTerms"_ba << u"watchTerms"_qs << QVariant(QStringList{u"Ivanti"_qs});
        QTest::newRow("ownFeeds") << "ownFeeds"_ba << u"customFeeds"_qs
                                  << QVariant::fromValue(QList<OwnFeed>{
                                         {u"a"_qs, u"A"_qs, QUrl(u"https://a.example/"_qs),
                                          NewsCategory::threatIntel, true}});
    }
    void everyAssignmentNotifiesAndWrites()
    {
        QFETCH(QByteArray, property);
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        const auto settings = make();
        const QMetaProperty meta = propertyNamed(*settings, property.constData());
        QVERIFY(meta.isValid() && meta.hasNotifySignal());
        QSignalSpy spy(settings.get(), meta.notifySignal());

        QVERIFY(meta.write(settings.get(), value));
        QVERIFY(stored().contains(key));
        QVERIFY(QFile::remove(path()));
        QVERIFY(meta.write(settings.get(), value)); // the same value again
        QVERIFY(stored().contains(key));

        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(0), value);
        QCOMPARE(meta.read(settings.get()), value);
    }

    // An observer that assigns again while being told of a change leaves its value, not the
    // earlier one, in memory and in the file.
    void observerAssigningAgainWins()
    {
        const auto settings = make();
        QList<qint64> seen;
        connect(settings.get(), &AppSettings::maxHeadlinesChanged, this, [&](qint64 count) {
            seen.append(settings->maxHeadlines()); // the new value is already in place
            if (count > 40)
                settings->setMaxHeadlines(40);
        });
        settings->setMaxHeadlines(100);
        QCOMPARE(seen, (QList<qint64>{100, 40}));
        QCOMPARE(settings->maxHeadlines(), 40);
        QCOMPARE(stored().value(u"maxHeadlines"), QJsonValue(40));
    }

    void savedBubbleOrigin_data()
    {
        QTest::addColumn<QByteArray>("x"); // empty: key missing
        QTest::addColumn<QByteArray>("y");
        QTest::addColumn<bool>("present");
        QTest::addColumn<QPointF>("origin");
        QTest::newRow("neither") << QByteArray() << QByteArray() << false << QPointF();
        QTest::newRow("both") << "120.5"_ba
                              << "80"_ba << true << QPointF(120.5, 80);
        QTest::newRow("left of the primary screen")
            << "-1600"_ba
            << "-20.25"_ba << true << QPointF(-1600, -20.25);
        QTest::newRow("x alone") << "10"_ba << QByteArray() << true << QPointF(10, 0);
        QTest::newRow("y alone") << QByteArray() << "80"_ba << false << QPointF();
        QTest::newRow("y as text") << "10"_ba
                                   << "\"80\""_ba << true << QPointF(10, 0);
        QTest::newRow("x as text") << "\"10\""_ba
                                   << "5"_ba << true << QPointF(0, 5);
    }
    void savedBubbleOrigin()
    {
        QFETCH(QByteArray, x);
        QFETCH(QByteArray, y);
        QFETCH(bool, present);
        QFETCH(QPointF, origin);
        store({{u"bubbleFrameX"_qs, x}, {u"bubbleFrameY"_qs, y}});
        const std::optional<QPointF> saved = make()->savedBubbleOrigin();
        QCOMPARE(saved.has_value(), present);
        if (saved)
            QCOMPARE(*saved, origin);
    }

    void unreadableFileGivesDefaultsAndIsKept()
    {
        const QByteArray garbage = "{\"maxHeadlines\": 20,"_ba;
        writeFile(path(), garbage);
        const auto settings = make();
        QCOMPARE(settings->maxHeadlines(), 12);
        QVERIFY(settings->isFirstRun());
        QCOMPARE(readFile(path()), garbage);

        settings->setQuietMinutes(60);
        QCOMPARE(readFile(path() + u".corrupt"_qs), garbage);
        QCOMPARE(stored(), (QJsonObject{{u"quietMinutes"_qs, 60}}));
    }

    // The bubble's origin is stored as one change: the same place again writes nothing, and
    // forgetting it removes both coordinates.
    void bubbleOriginIsWrittenOnce()
    {
        const auto settings = make();
        QSignalSpy spy(settings.get(), &AppSettings::bubbleOriginChanged);
        settings->setBubbleOrigin(QPointF(10, 20));
        settings->setBubbleOrigin(QPointF(10, 20));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(make()->savedBubbleOrigin(), QPointF(10, 20));
        // Not written again: a file removed meanwhile stays away.
        QVERIFY(QFile::remove(path()));
        settings->setBubbleOrigin(QPointF(10, 20));
        QVERIFY(!QFileInfo::exists(path()));
        settings->setBubbleOrigin(std::nullopt);
        QCOMPARE(spy.count(), 2);
        QVERIFY(!make()->savedBubbleOrigin());
        QVERIFY(!make()->preferenceFile().contains(preferenceKeys::bubbleFrameY));
    }

    void unwritableFolderIsAbsorbed()
    {
        writeFile(m_dir->filePath(u"Vardelle"_qs), "a file where the folder should be"_ba);
        const auto settings = make();
        QSignalSpy spy(settings.get(), &AppSettings::bubbleHiddenChanged);
        settings->setBubbleHidden(true);
        QCOMPARE(spy.count(), 1);
        QVERIFY(settings->bubbleHidden()); // the in-memory value stays the truth
        QVERIFY(!settings->preferenceFile().setBoolean(u"bubbleHidden", true));
        QVERIFY(!QFileInfo::exists(path()));
    }

    void userPreferencesLiveInTheConfigFolder()
    {
        const QString expected = m_config.filePath(u"config/Vardelle/preferences.json"_qs);
        QCOMPARE(PreferenceFile::defaultPath(), expected);
        AppSettings user(PreferenceFile::defaultPath());
        user.setLookbackHours(48);
        QCOMPARE(AppSettings(expected).lookbackHours(), 48);
    }
};

QTEST_GUILESS_MAIN(AppSettingsTest)
#include "tst_appsettings.moc"
