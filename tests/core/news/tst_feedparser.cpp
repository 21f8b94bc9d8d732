#include "news/FeedDate.h"
#include "news/FeedParser.h"
#include "news/FeedText.h"

#include "support/ManualClock.h"
#include "support/TestData.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace vardelle;
using test::utc;

namespace {

const FeedSource& feed()
{
    return *FeedSource::find(u"securityweek");
}

QByteArray rss(const QByteArray& items)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<rss version=\"2.0\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
           "     xmlns:content=\"http://purl.org/rss/1.0/modules/content/\">\n"
           "<channel><title>Channel</title><link>https://example.com/</link>\n"
           "<pubDate>Mon, 03 Jun 2024 08:00:00 +0000</pubDate>\n" +
           items + "</channel></rss>\n";
}

QByteArray atom(const QByteArray& entries)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>Feed</title>"
           "<link href=\"https://example.com/\" rel=\"alternate\"/>"
           "<updated>2024-06-01T00:00:00Z</updated>" +
           entries + "</feed>";
}

const Instant parseTime = utc(2026, 12, 10, 12, 0);

QList<NewsItem> parse(const QByteArray& document)
{
    static const test::ManualClock clock(parseTime);
    return FeedParser(feed(), &clock).parse(document);
}

// What the summary rule gives when the whole text is cleaned first: the reference the parser's
// shortcut for long summaries must agree with.
QString referenceSummary(const QString& raw)
{
    QString cleaned = cleanText(stripMarkup(trimmed(raw)));
    if (graphemeCount(cleaned, 401) > 400) {
        cleaned.truncate(graphemePrefixLength(cleaned, 400));
        cleaned += u'\u2026';
    }
    return cleaned;
}

} // namespace

class FeedParserTest : public QObject {
    Q_OBJECT

private slots:
    // What adding a feed reads besides the items: whether the root is a feed's, and its title.
    void feedItself_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<bool>("isFeed");
        QTest::addColumn<QString>("title");

        QTest::newRow("rss")
            << QByteArray("<rss><channel><image><title>Logo</title></image>"
                          "<title> Vendor &amp; &lt;b&gt;Co&lt;/b&gt; </title><item><title>"
                          "Story</title></item></channel></rss>")
            << true << u"Vendor & Co"_qs;
        QTest::newRow("rss, only an image's title")
            << QByteArray("<rss><channel><image><title>Logo</title></image></channel></rss>")
            << true << QString();
        QTest::newRow("atom") << atom("<entry><title>Story</title></entry>") << true << u"Feed"_qs;
        QTest::newRow("rdf") << QByteArray("<rdf:RDF xmlns:rdf=\"x\"><channel><title>R</title>"
                                           "</channel></rdf:RDF>")
                             << true << u"R"_qs;
        QTest::newRow("html") << QByteArray("<html><head><title>Page</title></head></html>")
                              << false << QString();
        QTest::newRow("not xml") << QByteArray("{}") << false << QString();
    }
    void feedItself()
    {
        QFETCH(QByteArray, document);
        QFETCH(bool, isFeed);
        QFETCH(QString, title);
        FeedParser parser(feed());
        parser.parse(document);
        QCOMPARE(parser.isFeed(), isFeed);
        QCOMPARE(parser.feedTitle(), title);
    }

    void rssItem()
    {
        const auto items = parse(rss("<item><title>  Patch   now\n</title>"
                                     "<link> https://example.com/a </link>"
                                     "<guid isPermaLink=\"false\">abc</guid>"
                                     "<pubDate>Tue, 04 Jun 2024 09:15:00 +0000</pubDate>"
                                     "<description><![CDATA[<p>Fix <b>it</b> &amp; go</p>]]>"
                                     "</description></item>"));
        QCOMPARE(items.size(), 1);
        const NewsItem& item = items[0];
        QCOMPARE(item.id, u"abc"_qs);
        QCOMPARE(item.title, u"Patch now"_qs);
        QCOMPARE(item.link, u"https://example.com/a"_qs);
        QCOMPARE(item.published, utc(2024, 6, 4, 9, 15));
        QCOMPARE(item.summary, u"Fix it & go"_qs);
        QCOMPARE(item.source, u"SecurityWeek"_qs);
        QCOMPARE(item.category, NewsCategory::cybersecurity);
    }

    void identity_data()
    {
        QTest::addColumn<QByteArray>("item");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("link");
        QTest::newRow("guid") << QByteArray(
                                     "<title>T</title><link>https://x/1</link><guid>abc</guid>")
                              << u"abc"_qs << u"https://x/1"_qs;
        QTest::newRow("link when no guid") << QByteArray("<title>T</title><link>https://x/1</link>")
                                           << u"https://x/1"_qs << u"https://x/1"_qs;
        QTest::newRow("feed and title when neither")
            << QByteArray("<title> A  title </title>") << u"securityweek|A title"_qs << QString();
        // An empty id would make every such story of every feed one story.
        QTest::newRow("empty guid is no guid")
            << QByteArray("<title>T</title><link>https://x/1</link><guid></guid>")
            << u"https://x/1"_qs << u"https://x/1"_qs;
        QTest::newRow("blank guid is no guid, a later one counts")
            << QByteArray("<title>T</title><guid> \n </guid><guid>g2</guid>") << u"g2"_qs
            << QString();
        QTest::newRow("empty atom id is no id")
            << QByteArray("<title>T</title><id/>") << u"securityweek|T"_qs << QString();
        QTest::newRow("first guid wins")
            << QByteArray("<title>T</title><guid>one</guid><guid>two</guid>") << u"one"_qs
            << QString();
        QTest::newRow("blank link is no link")
            << QByteArray("<title>T</title><link>  </link><link>https://x/2</link>")
            << u"https://x/2"_qs << u"https://x/2"_qs;
    }
    void identity()
    {
        QFETCH(QByteArray, item);
        QFETCH(QString, id);
        QFETCH(QString, link);
        const auto items = parse(rss("<item>" + item + "</item>"));
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].id, id);
        QCOMPARE(items[0].link, link);
    }

    void atomLinks_data()
    {
        QTest::addColumn<QByteArray>("links");
        QTest::addColumn<QString>("link");
        QTest::newRow("alternate before self")
            << QByteArray("<link rel=\"alternate\" href=\"https://x/a\"/>"
                          "<link rel=\"self\" href=\"https://x/self\"/>")
            << u"https://x/a"_qs;
        QTest::newRow("self before alternate")
            << QByteArray("<link rel=\"self\" href=\"https://x/self\"/>"
                          "<link rel=\"alternate\" href=\"https://x/a\"/>")
            << u"https://x/a"_qs;
        QTest::newRow("no rel") << QByteArray("<link href=\"https://x/b\"/>") << u"https://x/b"_qs;
        QTest::newRow("enclosure only")
            << QByteArray("<link rel=\"enclosure\" href=\"https://x/e.mp3\"/>") << QString();
        QTest::newRow("href kept as written")
            << QByteArray("<link href=\" https://x/c \"/>") << u" https://x/c "_qs;
        QTest::newRow("prefixed attributes")
            << QByteArray("<link xmlns:a=\"urn:a\" a:rel=\"alternate\" a:href=\"https://x/d\"/>")
            << u"https://x/d"_qs;
    }
    void atomLinks()
    {
        QFETCH(QByteArray, links);
        QFETCH(QString, link);
        const auto items = parse(atom("<entry><title>T</title><id>urn:1</id>" + links +
                                      "<updated>2024-06-04T09:15:00Z</updated></entry>"));
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].link, link);
        QCOMPARE(items[0].id, u"urn:1"_qs);
        QCOMPARE(items[0].published, utc(2024, 6, 4, 9, 15));
    }

    void titles_data()
    {
        QTest::addColumn<QByteArray>("item");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("escaped once")
            << QByteArray("<title>A &lt;b&gt;B&lt;/b&gt;</title>") << QStringList{u"A B"_qs};
        QTest::newRow("escaped twice")
            << QByteArray("<title>A &amp;lt;b&amp;gt;B</title>") << QStringList{u"A <b>B"_qs};
        QTest::newRow("entity table")
            << QByteArray("<title>&amp;rsquo;Q&amp;rdquo; &amp;hellip; &amp;#8211; x&amp;nbsp;y"
                          "</title>")
            << QStringList{u"'Q\" \u2026 \u2013 x y"_qs};
        QTest::newRow("other entities stay")
            << QByteArray("<title>caf&amp;eacute; &amp;#233;</title>")
            << QStringList{u"caf&eacute; &#233;"_qs};
        QTest::newRow("cdata") << QByteArray("<title><![CDATA[R&D <i>now</i>]]></title>")
                               << QStringList{u"R&D now"_qs};
        QTest::newRow("child element keeps the text after it")
            << QByteArray("<title>Before <b>bold</b> after</title>") << QStringList{u"after"_qs};
        QTest::newRow("child element leaves it blank: dropped, later title ignored")
            << QByteArray("<title>Before <b>bold</b></title><title>Second</title>")
            << QStringList{};
        QTest::newRow("first title wins, also a media title")
            << QByteArray(
                   "<media:title xmlns:media=\"urn:m\">Media</media:title><title>Main</title>")
            << QStringList{u"Media"_qs};
        QTest::newRow("no title") << QByteArray("<link>https://x/1</link>") << QStringList{};
        QTest::newRow("only markup")
            << QByteArray("<title>&lt;img src=x&gt;</title>") << QStringList{};
        QTest::newRow("unicode spaces") << QByteArray("<title>\xC2\xA0 A\xE2\x80\x83\xE2\x80\x83"
                                                      "B \xE2\x80\xA8</title>")
                                        << QStringList{u"A B"_qs};
        QTest::newRow("a leading U+FEFF is text") << QByteArray("<title>\xEF\xBB\xBF"
                                                                "A</title>")
                                                  << QStringList{u"\uFEFFA"_qs};
        QTest::newRow("1000 characters stay whole")
            << "<title>" + QByteArray(1000, 'a') + "</title>" << QStringList{QString(1000, u'a')};
        QTest::newRow("1001 characters are cut") << "<title>" + QByteArray(1001, 'a') + "</title>"
                                                 << QStringList{QString(1000, u'a') + u'\u2026'};
    }
    void titles()
    {
        QFETCH(QByteArray, item);
        QFETCH(QStringList, titles);
        QStringList got;
        for (const NewsItem& parsed : parse(rss("<item>" + item + "</item>")))
            got.append(parsed.title);
        QCOMPARE(got, titles);
    }

    void summaries_data()
    {
        QTest::addColumn<QByteArray>("item");
        QTest::addColumn<QString>("summary");
        QTest::newRow("none") << QByteArray() << QString();
        QTest::newRow("empty description replaced by content")
            << QByteArray("<description></description><content:encoded>Full</content:encoded>")
            << u"Full"_qs;
        QTest::newRow("first non-empty wins")
            << QByteArray("<description>Short</description><content:encoded>Full"
                          "</content:encoded>")
            << u"Short"_qs;
        QTest::newRow("atom summary")
            << QByteArray("<summary type=\"html\">S &amp;amp; T</summary>") << u"S & T"_qs;
        QTest::newRow("400 characters stay whole")
            << QByteArray("<description>" + QByteArray(400, 'a') + "</description>")
            << QString(400, u'a');
        QTest::newRow("401 characters are cut")
            << QByteArray("<description>" + QByteArray(401, 'a') + "</description>")
            << QString(400, u'a') + u'\u2026';
        const QByteArray accented = QByteArray("e\xCC\x81").repeated(401);
        QTest::newRow("characters, not code units")
            << QByteArray("<description>" + accented + "</description>")
            << QString::fromUtf8(QByteArray("e\xCC\x81").repeated(400)) + u'\u2026';
    }
    void summaries()
    {
        QFETCH(QByteArray, item);
        QFETCH(QString, summary);
        const auto items = parse(rss("<item><title>T</title>" + item + "</item>"));
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].summary, summary);
    }

    // Long summaries are cleaned only as far as needed; the result must be what cleaning the
    // whole text gives, whatever stands at the places where the shortcut cuts.
    void longSummaryAgreesWithWholeText_data()
    {
        QTest::addColumn<QString>("raw");
        const QString para =
            u"<p class=\"x\">Threat actors&nbsp;exploited &amp;amp; CVE&#8211;2024 "
            "&ldquo;quoted&rdquo;</p>\n\t  <a href=\"https://example.com/?a=1&b=2\">link</a> "_qs;
        QTest::newRow("markup-dense") << para.repeated(4000);
        QTest::newRow("a tag open across the first slices")
            << u"word <div data-x=\""_qs + u"y"_qs.repeated(50000) + u"\">after</div>"_qs +
                   u" tail"_qs.repeated(500);
        QTest::newRow("an unclosed tag") << u"lead "_qs + u"<never closed "_qs.repeated(5000);
        QTest::newRow("entities at every offset") << u"&amp;hellip;x"_qs.repeated(9000);
        // Tags that vanish, then 399 characters and an entity that the first slice cuts in two.
        QTest::newRow("an entity at the first cut")
            << u"<br>"_qs + u"<i>"_qs.repeated(1230) + QString(399, u'a') + u"&hellip; and more"_qs;
        QTest::newRow("mostly white space")
            << u" \n\t "_qs.repeated(20000) + u"a "_qs.repeated(600);
        QTest::newRow("combining marks") << u"e\u0301\u0302 "_qs.repeated(3000);
        QTest::newRow("emoji sequences")
            << u"\U0001F469\u200D\U0001F4BB <b>x</b> "_qs.repeated(3000);
    }
    void longSummaryAgreesWithWholeText()
    {
        QFETCH(QString, raw);
        QByteArray escaped = raw.toUtf8();
        escaped.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;");
        const auto items =
            parse(rss("<item><title>T</title><description>" + escaped + "</description></item>"));
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].summary, referenceSummary(raw));
    }

    // The cut that summaries and titles are made with, in UTF-16 units for a count of
    // user-perceived characters; texts with combining marks take ICU's cluster walk.
    void graphemePrefix_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qsizetype>("count");
        QTest::addColumn<qsizetype>("length");
        QTest::newRow("none of a plain text") << u"abc"_qs << qsizetype(0) << qsizetype(0);
        QTest::newRow("none of a combined text") << u"e\u0301x"_qs << qsizetype(0) << qsizetype(0);
        QTest::newRow("one combined character") << u"e\u0301x"_qs << qsizetype(1) << qsizetype(2);
        QTest::newRow("all of it") << u"e\u0301x"_qs << qsizetype(2) << qsizetype(3);
        QTest::newRow("more than there are") << u"e\u0301x"_qs << qsizetype(9) << qsizetype(3);
        QTest::newRow("an emoji sequence")
            << u"\U0001F469\u200D\U0001F4BBz"_qs << qsizetype(1) << qsizetype(5);
    }
    void graphemePrefix()
    {
        QFETCH(QString, text);
        QFETCH(qsizetype, count);
        QFETCH(qsizetype, length);
        QCOMPARE(graphemePrefixLength(text, count), length);
        QCOMPARE(graphemeCount(text.first(length), count + 1),
                 std::min(count, graphemeCount(text, 99)));
    }

    void dates_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Instant>("expected");
        const Instant none{};
        const Instant at = utc(2024, 6, 4, 9, 15);
        QTest::newRow("rfc 822 offset") << u"Tue, 04 Jun 2024 09:15:00 +0000"_qs << at;
        QTest::newRow("rfc 822 negative offset") << u"Tue, 04 Jun 2024 05:15:00 -0400"_qs << at;
        QTest::newRow("rfc 822 GMT") << u"Tue, 04 Jun 2024 09:15:00 GMT"_qs << at;
        QTest::newRow("rfc 822 EDT") << u"Tue, 04 Jun 2024 05:15:00 EDT"_qs << at;
        QTest::newRow("rfc 822 one-digit day") << u"Tue, 4 Jun 2024 09:15:00 +0000"_qs << at;
        QTest::newRow("rfc 822 padded") << u"\n  Tue, 04 Jun 2024 09:15:00 +0000 \t"_qs << at;
        QTest::newRow("two-digit year, this century") << u"Tue, 04 Jun 24 09:15:00 +0000"_qs << at;
        QTest::newRow("two-digit year, last century")
            << u"Fri, 04 Jun 99 09:15:00 GMT"_qs << utc(1999, 6, 4, 9, 15);
        QTest::newRow("two-digit year 49, this century")
            << u"Fri, 04 Jun 49 09:15:00 GMT"_qs << utc(2049, 6, 4, 9, 15);
        QTest::newRow("two-digit year 50, last century")
            << u"Sun, 04 Jun 50 09:15:00 GMT"_qs << utc(1950, 6, 4, 9, 15);
        QTest::newRow("iso fraction and offset")
            << u"2024-06-04T11:15:00.123+02:00"_qs << utc(2024, 6, 4, 9, 15, 0, 123000);
        QTest::newRow("iso microseconds")
            << u"2024-06-04T09:15:00.123456Z"_qs << utc(2024, 6, 4, 9, 15, 0, 123456);
        QTest::newRow("iso nanoseconds truncated")
            << u"2024-06-04T09:15:00.1234569Z"_qs << utc(2024, 6, 4, 9, 15, 0, 123456);
        QTest::newRow("iso Z") << u"2024-06-04T09:15:00Z"_qs << at;
        QTest::newRow("iso offset") << u"2024-06-04T10:15:00+01:00"_qs << at;
        QTest::newRow("space separated, UTC") << u"2024-06-04 09:15:00"_qs << at;
        QTest::newRow("date only, midnight UTC") << u"2024-06-04"_qs << utc(2024, 6, 4);
        QTest::newRow("day first") << u"04/06/2024"_qs << none;
        QTest::newRow("empty") << u"  "_qs << none;
        QTest::newRow("no such day") << u"Tue, 31 Jun 2024 09:15:00 +0000"_qs << none;
        QTest::newRow("no such iso day") << u"2024-02-30T09:15:00.5Z"_qs << none;
        QTest::newRow("trailing text") << u"2024-06-04 junk"_qs << none;
        QTest::newRow("words") << u"yesterday"_qs << none;
        // Fractions too long for ICU's pattern reader, which divides by zero on them.
        QTest::newRow("35-digit fraction, no zone")
            << u"2024-06-04T09:15:00.11111111111111111111111111111111111"_qs << none;
        QTest::newRow("40-digit fraction, odd zone")
            << u"2004-03-17T20:38:18.666666666666666666666666666660090097-5:0"_qs << none;
        QTest::newRow("35-digit fraction, basic zone")
            << u"2024-06-04T09:15:00.11111111111111111111111111111111111+0200"_qs << none;
        QTest::newRow("long fraction with a zone the iso reader takes")
            << u"2024-06-04T09:15:00.11111111111111111111111111111111111Z"_qs
            << utc(2024, 6, 4, 9, 15, 0, 111111);
        QTest::newRow("fullwidth digits") << u"\uFF12\uFF10\uFF12\uFF14-06-04"_qs << none;
    }
    void dates()
    {
        QFETCH(QString, text);
        QFETCH(Instant, expected);
        const auto parsed = parseFeedDate(text);
        if (expected == Instant{}) {
            QVERIFY2(!parsed, qPrintable(text));
        } else {
            QVERIFY2(parsed, qPrintable(text));
            QCOMPARE(parsed->time_since_epoch().count(), expected.time_since_epoch().count());
        }
    }

    void dateElements()
    {
        const auto items = parse(rss("<item><title>A</title><pubDate>not a date</pubDate>"
                                     "<dc:date>Tue, 04 Jun 2024 09:15:00 +0000</dc:date>"
                                     "<updated>2020-01-01T00:00:00Z</updated></item>"
                                     "<item><title>B</title></item>"));
        QCOMPARE(items.size(), 2);
        QCOMPARE(items[0].published, utc(2024, 6, 4, 9, 15));
        QCOMPARE(items[1].published, parseTime);
    }

    void channelFieldsAreIgnored()
    {
        const auto items = parse(rss("<item><title>Only</title></item>"));
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].title, u"Only"_qs);
        QCOMPARE(items[0].link, QString());
        QCOMPARE(items[0].published, parseTime);
        QVERIFY(parse(rss("")).isEmpty());
    }

    void unclosedItemIsLost()
    {
        const auto items = parse(rss("<item><title>Lost</title><item><title>Kept</title></item>"));
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].title, u"Kept"_qs);
    }

    void malformedDocuments_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QStringList>("titles");
        const QByteArray three =
            rss("<item><title>One</title></item><item><title>Two</title></item>"
                "<item><title>Three</title></item>");
        QTest::newRow("cut in the third item")
            << three.left(three.indexOf("Three") + 2) << QStringList{u"One"_qs, u"Two"_qs};
        QTest::newRow("undefined entity in the second")
            << rss("<item><title>One</title></item><item><title>A &eacute;</title></item>")
            << QStringList{u"One"_qs};
        QTest::newRow("html page")
            << QByteArray("<!DOCTYPE html><html><body><p>Moved</p></body>") << QStringList{};
        QTest::newRow("empty body") << QByteArray() << QStringList{};
        QTest::newRow("json") << QByteArray("{\"items\": []}") << QStringList{};
        QTest::newRow("binary") << QByteArray("\x00\x01\xff\xfe\x80", 5) << QStringList{};
    }
    void malformedDocuments()
    {
        QFETCH(QByteArray, document);
        QFETCH(QStringList, titles);
        QStringList got;
        for (const NewsItem& item : parse(document))
            got.append(item.title);
        QCOMPARE(got, titles);
    }

    // Real feeds do all of these; none of them may cost the document.
    void tolerated_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("title");
        const QByteArray doc = rss("<item><title>Kept</title></item>");
        QTest::newRow("line break before the declaration") << "\n" + doc << u"Kept"_qs;
        QTest::newRow("spaces and tabs before the declaration") << " \t\r\n " + doc << u"Kept"_qs;
        QTest::newRow("byte-order mark") << "\xEF\xBB\xBF" + doc << u"Kept"_qs;
        QTest::newRow("byte-order mark after a line break") << "\n\xEF\xBB\xBF" + doc << u"Kept"_qs;
        QTest::newRow("undeclared prefix")
            << rss("<item><title>Kept</title><wfw:commentRss>https://x/c</wfw:commentRss>"
                   "<slash:comments>3</slash:comments></item>")
            << u"Kept"_qs;
        QTest::newRow("undeclared prefix on a field")
            << rss("<item><foo:title>Prefixed</foo:title></item>") << u"Prefixed"_qs;
        QTest::newRow("no declaration at all") << QByteArray("<rss><channel><item><title>Kept"
                                                             "</title></item></channel></rss>")
                                               << u"Kept"_qs;
    }
    void tolerated()
    {
        QFETCH(QByteArray, document);
        QFETCH(QString, title);
        const auto items = parse(document);
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].title, title);
    }

    void declaredEncodings_data()
    {
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<QByteArray>("titleBytes");
        QTest::addColumn<QString>("title");
        QTest::newRow("windows-1252")
            << QByteArray("windows-1252") << QByteArray("\x93Quoted\x94 \x80 5 \x96 caf\xE9")
            << u"\u201CQuoted\u201D \u20AC 5 \u2013 caf\u00E9"_qs;
        QTest::newRow("ISO-8859-15") << QByteArray("ISO-8859-15") << QByteArray("Prix \xA4 \xBD")
                                     << u"Prix \u20AC \u0153"_qs;
        QTest::newRow("KOI8-R") << QByteArray("KOI8-R") << QByteArray("\xF7\xE9\xF2\xF5\xF3")
                                << u"\u0412\u0418\u0420\u0423\u0421"_qs;
        QTest::newRow("ISO-8859-1, built into expat")
            << QByteArray("ISO-8859-1") << QByteArray("caf\xE9") << u"caf\u00E9"_qs;
        QTest::newRow("Shift_JIS, converted whole")
            << QByteArray("Shift_JIS") << QByteArray("\x93\xFA\x96\x7B") << u"\u65E5\u672C"_qs;
        QTest::newRow("EUC-KR, converted whole")
            << QByteArray("EUC-KR") << QByteArray("\xC7\xD1\xB1\xB9") << u"\uD55C\uAD6D"_qs;
    }
    void declaredEncodings()
    {
        QFETCH(QByteArray, encoding);
        QFETCH(QByteArray, titleBytes);
        QFETCH(QString, title);
        const QByteArray document = "<?xml version=\"1.0\" encoding=\"" + encoding +
                                    "\"?>\n<rss><channel><item><title>" + titleBytes +
                                    "</title><guid>g</guid></item><item><title>Second</title>"
                                    "</item></channel></rss>";
        const auto items = parse(document);
        QCOMPARE(items.size(), 2);
        QCOMPARE(items[0].title, title);
        QCOMPARE(items[1].title, u"Second"_qs);
    }

    void unknownEncodingYieldsNothing()
    {
        QVERIFY(parse("<?xml version=\"1.0\" encoding=\"x-no-such-thing\"?><rss><channel><item>"
                      "<title>T</title></item></channel></rss>")
                    .isEmpty());
    }

    // Nothing in a document reaches outside it: no file, no network.
    void noExternalReads()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString secret = dir.filePath(u"secret.txt"_qs);
        QFile file(secret);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("TOPSECRET");
        file.close();
        const QByteArray url = QUrl::fromLocalFile(secret).toEncoded();
        const QByteArray document =
            "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [\n"
            "<!ENTITY ext SYSTEM \"" +
            url +
            "\">\n"
            "<!ENTITY % pe SYSTEM \"" +
            url +
            "\"> %pe;\n"
            "<!ENTITY net SYSTEM \"http://127.0.0.1:9/x\">\n]>\n"
            "<rss><channel><item><title>A &ext; B &net;</title></item></channel></rss>";
        const auto items = parse(document);
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].title, u"A B"_qs);
    }

    void entityExpansionIsBounded()
    {
        QByteArray dtd = "<!DOCTYPE rss [<!ENTITY a0 \"lol\">";
        for (int i = 1; i < 20; ++i) {
            dtd += "<!ENTITY a" + QByteArray::number(i) + " \"" +
                   QByteArray("&a" + QByteArray::number(i - 1) + ";").repeated(10) + "\">";
        }
        dtd += "]>";
        const auto items = parse("<?xml version=\"1.0\"?>" + dtd +
                                 "<rss><channel><item><title>First</title></item>"
                                 "<item><title>&a19;</title></item></channel></rss>");
        // The story before the bomb is kept; the bomb goes no further.
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].title, u"First"_qs);
    }

    // Internal entities let a small document spell a long text (expat allows this much); a title
    // keeps its first 1,000 characters however long it is, as a summary keeps 400.
    void entityTitleIsCut()
    {
        QByteArray dtd = "<!DOCTYPE rss [<!ENTITY a0 \"abcdefghij\">";
        for (int i = 1; i <= 5; ++i) {
            dtd += "<!ENTITY a" + QByteArray::number(i) + " \"" +
                   QByteArray("&a" + QByteArray::number(i - 1) + ";").repeated(10) + "\">";
        }
        dtd += "]>";
        const auto items = parse("<?xml version=\"1.0\"?>" + dtd +
                                 "<rss><channel><item><title>&a5;</title></item></channel></rss>");
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0].title, u"abcdefghij"_qs.repeated(100) + u'\u2026');
    }

    void fixtureDocuments_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("firstTitle");
        QTest::newRow("wordpress rss")
            << u"feeds/wordpress.xml"_qs << 2 << u"Critical flaw in VPN appliances exploited"_qs;
        // The second entry's title is XHTML structure, not text: it has no title and is dropped.
        QTest::newRow("atom") << u"feeds/atom.xml"_qs << 1 << u"Advisory: router firmware"_qs;
    }
    void fixtureDocuments()
    {
        QFETCH(QString, file);
        QFETCH(int, count);
        QFETCH(QString, firstTitle);
        const auto items = parse(test::readTestData(file));
        QCOMPARE(items.size(), count);
        QCOMPARE(items[0].title, firstTitle);
    }

    void parserIsReusable()
    {
        const test::ManualClock clock(parseTime);
        FeedParser parser(feed(), &clock);
        QCOMPARE(parser.parse(rss("<item><title>A</title></item>")).size(), 1);
        QCOMPARE(parser.parse(rss("<item><title>B</title>")).size(), 0);
        QCOMPARE(parser.parse(rss("<item><title>C</title></item>"))[0].title, u"C"_qs);
    }
};

QTEST_GUILESS_MAIN(FeedParserTest)
#include "tst_feedparser.moc"
