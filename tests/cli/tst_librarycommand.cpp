#include "cli/LibraryCommand.h"

#include "library/Library.h"
#include "library/Opml.h"
#include "news/NewsService.h"
#include "settings/AppSettings.h"
#include "store/HeadlineStore.h"

#include "support/FeedMirror.h"
#include "support/ManualClock.h"
#include "support/TestData.h"
#include "support/TestHttpServer.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <utility>

using namespace vardelle;
using test::TestHttpResponse;
using test::TestHttpServer;

namespace {

const Instant now = test::utc(2024, 6, 4, 9, 0);

QByteArray feedNamed(const QByteArray& title, int stories = 1)
{
    QByteArray xml = "<rss version=\"2.0\"><channel><title>" + title + "</title>";
    for (int i = 0; i < stories; ++i)
        xml += "<item><title>Story " + QByteArray::number(i) + "</title></item>";
    return xml + "</channel></rss>";
}

QStringList ownIds(const AppSettings& settings)
{
    QStringList ids;
    for (const OwnFeed& feed : settings.ownFeeds())
        ids.append(feed.id);
    return ids;
}

} // namespace

class LibraryCommandTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    TestHttpServer m_server;
    test::ManualClock m_clock{now};
    std::unique_ptr<HeadlineStore> m_store;
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<NewsService> m_news;
    std::unique_ptr<Library> m_library;
    int m_round = 0;

    // The command as typed, run in this process.
    CommandOutput run(const QString& command, const QStringList& arguments)
    {
        const auto parsed = cli::parseLibraryCommand(command, arguments, m_home.path());
        if (const auto* refusal = std::get_if<CommandOutput>(&parsed))
            return *refusal;
        return cli::runLibraryCommand(*m_library, std::get<cli::LibraryCommandLine>(parsed),
                                      m_home.path());
    }
    QString url(const char* path) const
    {
        return m_server.url(QString::fromLatin1(path)).toString();
    }
    QString file(const QString& name) const { return m_home.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                                 "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
            qunsetenv(name);
        qunsetenv(NewsService::mirrorVariable);
        QVERIFY(m_server.listen());
        m_server.setResponse(u"/fixture.xml"_qs, TestHttpResponse::ok(feedNamed("Fixture News")));
        m_server.setResponse(u"/other.xml"_qs, TestHttpResponse::ok(feedNamed("Other")));
        m_server.setResponse(u"/atom.xml"_qs,
                             TestHttpResponse::ok("<feed xmlns=\"http://www.w3.org/2005/Atom\">"
                                                  "<title>Atom Vendor</title><entry><title>A"
                                                  "</title></entry></feed>"));
        m_server.setResponse(u"/empty.xml"_qs, TestHttpResponse::ok(feedNamed("Quiet", 0)));
        m_server.setResponse(u"/page.html"_qs,
                             TestHttpResponse::ok("<html><body>Hi</body></html>", "text/html"));
        m_server.setResponse(u"/untitled.xml"_qs, TestHttpResponse::ok(feedNamed("")));
        m_server.setResponse(
            u"/shouting.xml"_qs,
            TestHttpResponse::ok(feedNamed("\xE2\x80\xAE Loud\tand " + QByteArray(300'000, 'X'))));
    }

    void init()
    {
        const QString folder = m_home.filePath(u"round%1/"_qs.arg(++m_round));
        m_store = std::make_unique<HeadlineStore>(folder + u"state.json"_qs, m_clock);
        m_settings = std::make_unique<AppSettings>(folder + u"preferences.json"_qs);
        m_news = std::make_unique<NewsService>(*m_store, m_clock);
        m_library = std::make_unique<Library>(*m_settings, *m_news);
    }

    void cleanup()
    {
        m_library.reset();
        m_news.reset();
        m_settings.reset();
        m_store.reset();
    }

    void add_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message"); // the feed's list line, or the refusal's reason

        const QString fixture = url("/fixture.xml");
        QTest::newRow("named by its own title")
            << QStringList{fixture} << 0
            << u"fixture-news\tFixture News\tcybersecurity\ton\t"_qs + fixture;
        QTest::newRow("name and category given")
            << QStringList{u"--name"_qs, u"Vendor PSIRT"_qs, fixture, u"--category=malware"_qs} << 0
            << u"vendor-psirt\tVendor PSIRT\tmalware\ton\t"_qs + fixture;
        QTest::newRow("atom") << QStringList{url("/atom.xml")} << 0
                              << u"atom-vendor\tAtom Vendor\tcybersecurity\ton\t"_qs +
                                     url("/atom.xml");
        QTest::newRow("no title: the host")
            << QStringList{url("/untitled.xml")} << 0
            << u"127-0-0-1\t127.0.0.1\tcybersecurity\ton\t"_qs + url("/untitled.xml");
        QTest::newRow("a title of any size: cleaned and cut to 100 characters")
            << QStringList{url("/shouting.xml")} << 0
            << u"loud-and-"_qs + QString(31, u'x') + u"\tLoud and "_qs + QString(91, u'X') +
                   u"\tcybersecurity\ton\t"_qs + url("/shouting.xml");
        QTest::newRow("a password is never printed")
            << QStringList{m_server.url(u"/fixture.xml"_qs)
                               .toString()
                               .replace(u"http://"_qs, u"http://reader:s3cret@"_qs)}
            << 0
            << u"fixture-news\tFixture News\tcybersecurity\ton\t"_qs +
                   QString(fixture).replace(u"http://"_qs, u"http://reader@"_qs);
        QTest::newRow("HTTP error")
            << QStringList{url("/missing.xml")} << 1 << u"the server answered HTTP 404"_qs;
        QTest::newRow("unreachable")
            << QStringList{u"http://127.0.0.1:%1/feed"_qs.arg(TestHttpServer::closedPort())} << 1
            << u"cannot be reached"_qs;
        QTest::newRow("not a feed")
            << QStringList{url("/page.html")} << 1 << u"not an RSS or Atom feed"_qs;
        QTest::newRow("no stories")
            << QStringList{url("/empty.xml")} << 1 << u"the feed has no stories"_qs;
        QTest::newRow("not http") << QStringList{u"ftp://127.0.0.1/feed.xml"_qs} << 1
                                  << u"not an http or https address"_qs;
        QTest::newRow("catalogue address, other spelling")
            << QStringList{u" HTTPS://WWW.BleepingComputer.com/feed "_qs} << 1
            << u"already among your feeds as bleepingcomputer"_qs;
        QTest::newRow("unknown category") << QStringList{fixture, u"--category"_qs, u"news"_qs} << 2
                                          << u"--category is one of"_qs;
        QTest::newRow("no address") << QStringList{} << 2 << u"takes one address"_qs;
        QTest::newRow("unknown option")
            << QStringList{fixture, u"--title=x"_qs} << 2 << u"unknown option --title=x"_qs;
    }
    void add()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        const CommandOutput output = run(u"feeds"_qs, QStringList{u"add"_qs} + arguments);
        QCOMPARE(output.status, status);
        if (status == 0) {
            QCOMPARE(output.out, message + u'\n');
            QCOMPARE(m_settings->ownFeeds().size(), 1);
            // Stored at once, and read back the same.
            QCOMPARE(AppSettings(m_settings->preferenceFile().path()).ownFeeds(),
                     m_settings->ownFeeds());
        } else {
            QVERIFY2(output.err.contains(message), qPrintable(output.err));
            QVERIFY(!output.err.trimmed().contains(u'\n')); // one line
            QVERIFY(m_settings->ownFeeds().isEmpty());
            QVERIFY(!m_settings->preferenceFile().contains(preferenceKeys::ownFeeds));
        }
    }

    void addingTheSameAddressAgainIsRefused()
    {
        QCOMPARE(run(u"feeds"_qs, {u"add"_qs, url("/fixture.xml")}).status, 0);
        const CommandOutput again =
            run(u"feeds"_qs,
                {u"add"_qs,
                 url("/fixture.xml").toUpper().replace(u"/FIXTURE.XML"_qs, u"/fixture.xml/"_qs)});
        QCOMPARE(again.status, 1);
        QVERIFY2(again.err.contains(u"already among your feeds as fixture-news"_qs),
                 qPrintable(again.err));
        // Another address with the same title gets an id of its own.
        m_server.setResponse(u"/copy.xml"_qs, TestHttpResponse::ok(feedNamed("Fixture News")));
        QCOMPARE(run(u"feeds"_qs, {u"add"_qs, url("/copy.xml")}).status, 0);
        QCOMPARE(ownIds(*m_settings), (QStringList{u"fixture-news"_qs, u"fixture-news-2"_qs}));
    }

    void addingPastTheLimitIsRefusedBeforeFetching()
    {
        QList<OwnFeed> feeds;
        for (int i = 0; i < AppSettings::maxOwnFeeds; ++i)
            feeds.append({u"f%1"_qs.arg(i), u"F"_qs, QUrl(u"https://example.org/%1"_qs.arg(i)),
                          NewsCategory::malware, true});
        m_settings->setOwnFeeds(feeds);
        const qsizetype requests = m_server.requests().size();
        const CommandOutput output = run(u"feeds"_qs, {u"add"_qs, url("/other.xml")});
        QCOMPARE(output.status, 1);
        QVERIFY(output.err.contains(u"more than 200 own feeds"_qs));
        QCOMPARE(m_settings->ownFeeds().size(), AppSettings::maxOwnFeeds);
        QCOMPARE(m_server.requests().size(), requests);
    }

    void listRemoveAndSwitch()
    {
        QCOMPARE(run(u"feeds"_qs, {u"add"_qs, url("/fixture.xml")}).status, 0);
        QCOMPARE(
            run(u"feeds"_qs, {u"add"_qs, url("/other.xml"), u"--category=threatIntel"_qs}).status,
            0);

        QCOMPARE(run(u"feeds"_qs, {u"off"_qs, u"talos"_qs, u"other"_qs}).status, 0);
        QCOMPARE(m_settings->disabledFeedIDs(), QSet<QString>{u"talos"_qs});
        const QStringList lines = run(u"feeds"_qs, {}).out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 22);
        QCOMPARE(lines[15], u"talos\tCisco Talos Intelligence\tmalware\toff\t"
                            "https://blog.talosintelligence.com/rss/"_qs);
        QCOMPARE(lines[21], u"other\tOther\tthreatIntel\toff\t"_qs + url("/other.xml"));
        QCOMPARE(run(u"feeds"_qs, {u"list"_qs}).out, run(u"feeds"_qs, {}).out);
        QCOMPARE(m_settings->activeSources().size(), 20); // 19 catalogue feeds, 1 own

        // An unknown id switches nothing, not even the ids before it.
        const CommandOutput unknown = run(u"feeds"_qs, {u"on"_qs, u"talos"_qs, u"nope"_qs});
        QCOMPARE(unknown.status, 1);
        QVERIFY(unknown.err.contains(u"nope: no such feed"_qs));
        QCOMPARE(m_settings->disabledFeedIDs(), QSet<QString>{u"talos"_qs});
        QCOMPARE(run(u"feeds"_qs, {u"on"_qs, u"talos"_qs, u"other"_qs}).status, 0);
        QVERIFY(m_settings->disabledFeedIDs().isEmpty());
        QVERIFY(m_settings->ownFeeds().at(1).enabled);

        const CommandOutput catalogue = run(u"feeds"_qs, {u"remove"_qs, u"talos"_qs});
        QCOMPARE(catalogue.status, 1);
        QVERIFY(catalogue.err.contains(u"feeds off talos"_qs));
        QCOMPARE(run(u"feeds"_qs, {u"remove"_qs, u"fixture-news"_qs}).status, 0);
        QCOMPARE(run(u"feeds"_qs, {u"remove"_qs, url("/other.xml") + u'/'}).status, 0);
        QVERIFY(m_settings->ownFeeds().isEmpty());
        QCOMPARE(run(u"feeds"_qs, {u"remove"_qs, u"other"_qs}).status, 1);
        QCOMPARE(run(u"feeds"_qs, {u"remove"_qs}).status, 2);
        QCOMPARE(run(u"feeds"_qs, {u"on"_qs}).status, 2);
        QCOMPARE(run(u"feeds"_qs, {u"frobnicate"_qs}).status, 2);
    }

    void watchCommands_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("after");

        const QStringList two{u"Ivanti"_qs, u"CVE-2024-3400"_qs};
        QTest::newRow("add, kept as typed less the outer spaces")
            << two << QStringList{u"add"_qs, u" FortiOS "_qs, u"Palo  Alto"_qs} << 0
            << two + QStringList{u"FortiOS"_qs, u"Palo  Alto"_qs};
        QTest::newRow("add one already there in another case")
            << two << QStringList{u"add"_qs, u"Citrix"_qs, u"ivanti"_qs} << 1 << two;
        QTest::newRow("add the same twice")
            << QStringList() << QStringList{u"add"_qs, u"x"_qs, u"X "_qs} << 1 << QStringList();
        QTest::newRow("add a blank term")
            << two << QStringList{u"add"_qs, u"Citrix"_qs, u"  "_qs} << 1 << two;
        QTest::newRow("add 101 characters")
            << two << QStringList{u"add"_qs, QString(101, u'a')} << 1 << two;
        QTest::newRow("add 100 characters and spaces")
            << QStringList() << QStringList{u"add"_qs, u" "_qs + QString(100, u'a') + u' '} << 0
            << QStringList{QString(100, u'a')};
        QTest::newRow("add nothing") << two << QStringList{u"add"_qs} << 2 << two;
        QTest::newRow("remove, any case") << two << QStringList{u"remove"_qs, u"cve-2024-3400"_qs}
                                          << 0 << QStringList{u"Ivanti"_qs};
        QTest::newRow("remove one not there")
            << two << QStringList{u"remove"_qs, u"Ivanti"_qs, u"Citrix"_qs} << 1 << two;
        QTest::newRow("unknown action") << two << QStringList{u"clear"_qs} << 2 << two;
    }
    void watchCommands()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QStringList, after);
        m_settings->setWatchTerms(before);
        const CommandOutput output = run(u"watch"_qs, arguments);
        QCOMPARE(output.status, status);
        QCOMPARE(output.err.isEmpty(), status == 0);
        QCOMPARE(m_settings->watchTerms(), after);
        QCOMPARE(run(u"watch"_qs, {}).out, after.isEmpty() ? QString() : after.join(u'\n') + u'\n');
    }

    void watchLimitIsNeverCutSilently()
    {
        QStringList terms;
        for (int i = 0; i < 199; ++i)
            terms.append(u"term%1"_qs.arg(i));
        m_settings->setWatchTerms(terms);
        const CommandOutput output = run(u"watch"_qs, {u"add"_qs, u"a"_qs, u"b"_qs});
        QCOMPARE(output.status, 1);
        QVERIFY(output.err.contains(u"more than 200 terms"_qs));
        QCOMPARE(m_settings->watchTerms().size(), 199);
        QCOMPARE(run(u"watch"_qs, {u"add"_qs, u"a"_qs}).status, 0);
        QCOMPARE(m_settings->watchTerms().size(), 200);
    }

    // Export, then import into an empty set of preferences: the own feeds come back with their
    // names and categories, and every catalogue feed is skipped as already there.
    void exportThenImport()
    {
        QCOMPARE(
            run(u"feeds"_qs, {u"add"_qs, url("/fixture.xml"), u"--category=malware"_qs}).status, 0);
        QCOMPARE(run(u"feeds"_qs, {u"add"_qs, url("/other.xml"), u"--name=Mine & Yours"_qs}).status,
                 0);
        QCOMPARE(run(u"feeds"_qs, {u"off"_qs, u"mine-yours"_qs}).status, 0);
        const CommandOutput exported = run(u"feeds"_qs, {u"export"_qs});
        QCOMPARE(exported.status, 0);
        QCOMPARE(run(u"feeds"_qs, {u"export"_qs, u"out.opml"_qs}).status, 0);
        QCOMPARE(test::readFile(file(u"out.opml"_qs)), exported.out.toUtf8());

        const auto entries = readOpml(exported.out.toUtf8());
        QVERIFY(entries);
        QCOMPARE(entries->size(), 22);
        QCOMPARE(entries->at(0).category, std::optional(NewsCategory::cybersecurity));

        QList<OwnFeed> before = m_settings->ownFeeds();
        // Exported by category: the cybersecurity one comes back first.
        std::swap(before[0], before[1]);
        init();
        // The catalogue's feeds are there already: no failure, one line says so.
        const CommandOutput imported = run(u"feeds"_qs, {u"import"_qs, u"out.opml"_qs});
        QCOMPARE(imported.status, 0);
        QCOMPARE(imported.err, u"20 feeds listed are already among your feeds\n"_qs);
        QCOMPARE(imported.out, u"imported 2 feeds\n"_qs);
        QList<OwnFeed> after = m_settings->ownFeeds();
        QCOMPARE(after.size(), 2);
        // Imported feeds are switched on.
        QVERIFY(after[0].enabled && after[1].enabled);
        after[0].enabled = false;
        QCOMPARE(after, before);
    }

    void import_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("feeds"); // "id name category"
        QTest::addColumn<QStringList>("skipped");

        const auto outline = [this](const char* path, const QByteArray& attributes = {}) {
            return "<outline type=\"rss\" xmlUrl=\"" + url(path).toUtf8() + "\" " + attributes +
                   "/>";
        };
        const auto opml = [](const QByteArray& body) {
            return "<?xml version=\"1.0\"?><opml version=\"2.0\"><head/><body>" + body +
                   "</body></opml>";
        };
        QTest::newRow("categories by identifier or title, any case")
            << opml("<outline text=\"MALWARE\">" + outline("/fixture.xml") +
                    "</outline><outline text=\"x\" title=\"threatintel alerts\"><outline "
                    "text=\"nested\">" +
                    outline("/other.xml", "text=\"By text\"") + "</outline></outline>")
            << QStringList() << 0
            << QStringList{u"fixture-news Fixture News malware"_qs,
                           u"by-text By text threatIntel"_qs}
            << QStringList();
        QTest::newRow("the nearest enclosing category, not the outermost")
            << opml("<outline text=\"malware\"><outline text=\"threatIntel\">" +
                    outline("/fixture.xml") + "</outline>" + outline("/other.xml") + "</outline>")
            << QStringList() << 0
            << QStringList{u"fixture-news Fixture News threatIntel"_qs, u"other Other malware"_qs}
            << QStringList();
        QTest::newRow("title before text, --category for the rest")
            << opml(outline("/fixture.xml", "text=\"T\" title=\"Named\"") +
                    "<outline text=\"Vendors\">" + outline("/atom.xml") + "</outline>")
            << QStringList{u"--category"_qs, u"threatIntel"_qs} << 0
            << QStringList{u"named Named threatIntel"_qs, u"atom-vendor Atom Vendor threatIntel"_qs}
            << QStringList();
        QTest::newRow("skips reported, the rest added")
            << opml(outline("/fixture.xml") + outline("/page.html") + outline("/empty.xml") +
                    "<outline xmlUrl=\"mailto:x@y\"/>" + outline("/fixture.xml") +
                    outline("/missing.xml"))
            << QStringList() << 1 << QStringList{u"fixture-news Fixture News cybersecurity"_qs}
            << QStringList{u"/page.html: not an RSS or Atom feed"_qs,
                           u"/empty.xml: the feed has no stories"_qs,
                           u"mailto:x@y: not an http or https address"_qs,
                           u"/fixture.xml: listed twice in the file"_qs,
                           u"/missing.xml: the server answered HTTP 404"_qs};
        QTest::newRow("an address listed again after a failed listing is added")
            << opml("<outline xmlUrl=\"" + url("/fixture.xml").toUtf8() + "/\"/>" +
                    outline("/fixture.xml") + outline("/fixture.xml"))
            << QStringList() << 1 << QStringList{u"fixture-news Fixture News cybersecurity"_qs}
            << QStringList{u"/fixture.xml/: the server answered HTTP 404"_qs,
                           u"/fixture.xml: listed twice in the file"_qs};
        QTest::newRow("no feeds at all")
            << opml("") << QStringList() << 0 << QStringList() << QStringList();
        QTest::newRow("not OPML") << feedNamed("A feed") << QStringList() << 2 << QStringList()
                                  << QStringList{u"not an OPML document"_qs};
        QTest::newRow("not XML") << QByteArray("{\"opml\": 1}") << QStringList() << 2
                                 << QStringList() << QStringList{u"not an OPML document"_qs};
        QTest::newRow("cut short") << opml(outline("/fixture.xml")).chopped(8) << QStringList() << 2
                                   << QStringList() << QStringList{u"not an OPML document"_qs};
        QTest::newRow("unknown category option")
            << opml(outline("/fixture.xml")) << QStringList{u"--category=news"_qs} << 2
            << QStringList() << QStringList{u"--category is one of"_qs};
    }
    void import()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, options);
        QFETCH(int, status);
        QFETCH(QStringList, feeds);
        QFETCH(QStringList, skipped);
        test::writeFile(file(u"in.opml"_qs), body);
        const CommandOutput output =
            run(u"feeds"_qs, QStringList{u"import"_qs, u"in.opml"_qs} + options);
        QCOMPARE(output.status, status);
        QStringList got;
        for (const OwnFeed& feed : m_settings->ownFeeds())
            got.append(feed.id + u' ' + feed.name + u' ' + identifier(feed.category));
        QCOMPARE(got, feeds);
        const QStringList errors = output.err.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(errors.size(), skipped.size());
        for (qsizetype i = 0; i < skipped.size(); ++i)
            QVERIFY2(errors[i].contains(skipped[i]), qPrintable(errors[i]));
    }

    // The limit on own feeds counts what an import would add: up to exactly the limit it is
    // taken, one past it nothing is.
    void importUpToTheLimit_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("feeds");
        QTest::newRow("one more, to exactly the limit: added")
            << QStringList{u"/fixture.xml"_qs} << 0 << int(AppSettings::maxOwnFeeds);
        QTest::newRow("two more, one past it: nothing added")
            << QStringList{u"/fixture.xml"_qs, u"/other.xml"_qs} << 1
            << int(AppSettings::maxOwnFeeds - 1);
    }
    void importUpToTheLimit()
    {
        QFETCH(QStringList, paths);
        QFETCH(int, status);
        QFETCH(int, feeds);
        QList<OwnFeed> own;
        for (int i = 0; i < AppSettings::maxOwnFeeds - 1; ++i)
            own.append({u"f%1"_qs.arg(i), u"F"_qs, QUrl(u"https://example.org/%1"_qs.arg(i)),
                        NewsCategory::malware, true});
        m_settings->setOwnFeeds(own);
        QByteArray document = "<opml version=\"2.0\"><body>";
        for (const QString& path : paths)
            document += "<outline xmlUrl=\"" + m_server.url(path).toString().toUtf8() + "\"/>";
        test::writeFile(file(u"limit.opml"_qs), document + "</body></opml>");
        const CommandOutput output = run(u"feeds"_qs, {u"import"_qs, file(u"limit.opml"_qs)});
        QCOMPARE(output.status, status);
        QCOMPARE(output.err.contains(u"nothing imported"_qs), status != 0);
        QCOMPARE(m_settings->ownFeeds().size(), feeds);
    }

    // What is at an import's path is read only when it is a regular file of at most 16 MiB: a
    // pipe nobody writes to, a folder or a huge file are refused at once, and nothing changes.
    void importReadsOnlyBoundedRegularFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a pipe nobody writes to") << u"fifo"_qs << u"not a regular file"_qs;
        QTest::newRow("a folder") << u"folder"_qs << u"is a folder"_qs;
        QTest::newRow("past 16 MiB") << u"huge"_qs << u"larger than 16 MiB"_qs;
    }
    void importReadsOnlyBoundedRegularFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        const QString target = file(u"import-"_qs + kind);
        if (kind == u"fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(target).constData(), 0600), 0);
        } else if (kind == u"folder") {
            QVERIFY(QDir().mkpath(target));
        } else {
            QFile huge(target);
            QVERIFY(huge.open(QIODevice::WriteOnly));
            QVERIFY(huge.write("<opml version=\"2.0\"><body><outline xmlUrl=\"" +
                               url("/fixture.xml").toUtf8() + "\"/></body></opml>") > 0);
            QVERIFY(huge.resize(Library::maxImportBytes + 1)); // sparse
        }
        const CommandOutput output = run(u"feeds"_qs, {u"import"_qs, target});
        QCOMPARE(output.status, 2);
        QVERIFY2(output.err.contains(reason), qPrintable(output.err));
        QVERIFY(m_settings->ownFeeds().isEmpty());
    }

    // An export writes into what is at its path rather than replacing it: the file a link
    // points to (the link stays), a pipe, a device.
    void exportWritesIntoWhatIsThere_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a link") << u"link"_qs;
        QTest::newRow("a pipe") << u"fifo"_qs;
        QTest::newRow("a character device") << u"device"_qs;
    }
    void exportWritesIntoWhatIsThere()
    {
        QFETCH(QString, kind);
        const QString target = file(u"export-"_qs + kind);
        const QByteArray path = QFile::encodeName(target);
        const QByteArray document = run(u"feeds"_qs, {u"export"_qs}).out.toUtf8();
        struct stat status {};
        if (kind == u"link") {
            test::writeFile(target + u".opml"_qs, "old");
            QVERIFY(QFile::link(target + u".opml"_qs, target));
            QCOMPARE(run(u"feeds"_qs, {u"export"_qs, target}).status, 0);
            QCOMPARE(test::readFile(target + u".opml"_qs), document);
            QVERIFY(::lstat(path.constData(), &status) == 0 && S_ISLNK(status.st_mode));
        } else if (kind == u"fifo") {
            QCOMPARE(::mkfifo(path.constData(), 0600), 0);
            QByteArray got;
            std::thread reader([&] {
                QFile fifo(target);
                if (fifo.open(QIODevice::ReadOnly))
                    got = fifo.readAll();
            });
            const CommandOutput output = run(u"feeds"_qs, {u"export"_qs, target});
            reader.join();
            QCOMPARE(output.status, 0);
            QCOMPARE(got, document);
            QVERIFY(::lstat(path.constData(), &status) == 0 && S_ISFIFO(status.st_mode));
        } else {
            // A node of its own, like /dev/null, so that a fault replaces only this one.
            if (::mknod(path.constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
                QSKIP("making a device node needs root");
            QCOMPARE(run(u"feeds"_qs, {u"export"_qs, target}).status, 0);
            QVERIFY(::lstat(path.constData(), &status) == 0 && S_ISCHR(status.st_mode));
        }
    }

    // An export into a folder that is not there makes none: it is refused as a file that
    // cannot be written.
    void exportIntoAMissingFolderMakesNone()
    {
        const CommandOutput output = run(u"feeds"_qs, {u"export"_qs, u"no/such/out.opml"_qs});
        QCOMPARE(output.status, 2);
        QVERIFY2(output.err.contains(u"its folder does not exist"_qs), qPrintable(output.err));
        QVERIFY(!QFileInfo::exists(file(u"no"_qs)));
    }

    void unreadableImportChangesNothing()
    {
        const CommandOutput output = run(u"feeds"_qs, {u"import"_qs, u"no-such.opml"_qs});
        QCOMPARE(output.status, 2);
        QVERIFY(output.err.contains(u"cannot be read"_qs));
        QVERIFY(!m_settings->preferenceFile().contains(preferenceKeys::ownFeeds));
    }

    // Own feeds are gathered with the catalogue, from the mirror too, and de-duplicated with it.
    void ownFeedsAreGatheredThroughTheMirror()
    {
        QCOMPARE(run(u"feeds"_qs, {u"add"_qs, url("/fixture.xml"), u"--name=Vendor"_qs}).status, 0);
        const test::FeedMirror mirror(m_home.filePath(u"mirror"_qs));
        mirror.serve(u"talos"_qs, {{u"a"_qs, now - std::chrono::hours(2), u"Shared story"_qs}});
        mirror.serve(u"vendor"_qs, {{u"b"_qs, now - std::chrono::hours(1), u"Shared story!"_qs},
                                    {u"c"_qs, now - std::chrono::hours(3), u"Own story"_qs}});
        m_settings->setEnabledCategories({NewsCategory::malware, NewsCategory::cybersecurity});
        m_settings->setDisabledFeedIDs({});
        QList<FeedSource> sources{*FeedSource::find(u"talos")};
        sources.append(m_settings->activeSources().last());
        QCOMPARE(sources.last().id, u"vendor"_qs);
        QFuture<GatherResult> gathered = m_news->gather(sources, now - std::chrono::hours(6), 12);
        QVERIFY(QTest::qWaitFor([&] { return gathered.isFinished(); }, 20000));
        QStringList ids;
        for (const NewsItem& item : gathered.result().items)
            ids.append(item.id + u'@' + item.source);
        QCOMPARE(ids, (QStringList{u"b@Vendor"_qs, u"c@Vendor"_qs}));
    }
};

QTEST_GUILESS_MAIN(LibraryCommandTest)
#include "tst_librarycommand.moc"
