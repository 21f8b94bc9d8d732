#include "news/StoryGroups.h"

#include "support/GroupingPairs.h"
#include "support/ManualClock.h"
#include "support/TestData.h"

#include <QtTest>

using namespace vardelle;

namespace {

const Instant start = test::utc(2025, 7, 1, 8, 0);

// "Feed|hours after start|title|summary|link"; the id is the story's place in the list.
QList<NewsItem> storiesOf(const QStringList& lines)
{
    QList<NewsItem> items;
    for (const QString& line : lines) {
        const QStringList f = line.split(u'|');
        NewsItem item;
        item.id = QString::number(items.size());
        item.source = f.value(0);
        item.published = start + std::chrono::hours(f.value(1).toInt());
        item.title = f.value(2);
        item.summary = f.value(3);
        item.link = f.value(4);
        items.append(item);
    }
    return items;
}

// The groups as their stories' ids: "0 2|1".
QString shape(const QList<StoryGroup>& groups)
{
    QStringList parts;
    for (const StoryGroup& group : groups) {
        QStringList ids;
        for (const NewsItem& item : group.stories)
            ids.append(item.id);
        parts.append(ids.join(u' '));
    }
    return parts.join(u'|');
}

} // namespace

class StoryGroupsTest : public QObject {
    Q_OBJECT

private slots:
    void grouping_data()
    {
        QTest::addColumn<QStringList>("stories");
        QTest::addColumn<QString>("expected");

        QTest::newRow("same link, different words")
            << QStringList{u"Wire|0|Vendor fixes router bug||https://www.news.example/a/"_qs,
                           u"Desk|5|Something else entirely||http://news.example/a"_qs}
            << u"0 1"_qs;
        QTest::newRow("different links, unrelated words")
            << QStringList{u"Wire|0|Vendor fixes router bug||https://news.example/a"_qs,
                           u"Desk|5|Something else entirely||https://news.example/b"_qs}
            << u"0|1"_qs;
        QTest::newRow("same link, user, port, fragment and the host's case aside")
            << QStringList{u"Wire|0|Vendor fixes router bug||https://reader@News.Example:443/a#top"_qs,
                           u"Desk|5|Something else entirely||http://news.example/a/"_qs}
            << u"0 1"_qs;
        QTest::newRow("same path on two hosts")
            << QStringList{u"Wire|0|Vendor fixes router bug||https://one.example/a"_qs,
                           u"Desk|5|Something else entirely||https://two.example/a"_qs}
            << u"0|1"_qs;
        QTest::newRow("same path, different queries")
            << QStringList{u"Wire|0|Vendor fixes router bug||https://news.example/?p=1"_qs,
                           u"Desk|5|Something else entirely||https://news.example/?p=2"_qs}
            << u"0|1"_qs;
        QTest::newRow("the same text that is no link")
            << QStringList{u"Wire|0|Vendor fixes router bug||not a link"_qs,
                           u"Desk|5|Something else entirely||not a link"_qs}
            << u"0|1"_qs;
        QTest::newRow("the same link without a host")
            << QStringList{u"Wire|0|Vendor fixes router bug||https:///a"_qs,
                           u"Desk|5|Something else entirely||https:///a"_qs}
            << u"0|1"_qs;
        QTest::newRow("a CVE id named by both, in any case")
            << QStringList{u"Wire|0|Firewall maker fixes CVE-2024-3400|||"_qs,
                           u"Desk|2|Attacks on gateways|Exploits for cve-2024-3400 seen.|"_qs}
            << u"0 1"_qs;
        QTest::newRow("different CVE ids are different events")
            << QStringList{u"Wire|0|Google fixes Chrome zero-day CVE-2025-2783 in Mojo IPC|"
                           u"Kaspersky found the Chrome Mojo IPC sandbox escape.|"_qs,
                           u"Desk|3|Google fixes Chrome zero-day CVE-2025-4664 in Mojo IPC|"
                           u"Kaspersky found the Chrome Mojo IPC data leak.|"_qs}
            << u"0|1"_qs;
        QTest::newRow("shared names and a number")
            << QStringList{u"Wire|0|SonicWall urges admins to patch critical RCE flaw in SMA 100 "
                           u"devices|SonicWall asks customers to update.|"_qs,
                           u"Desk|5|SonicWall Patches Critical SMA 100 Vulnerability, Warns of "
                           u"Recent Malware Attack||"_qs}
            << u"0 1"_qs;
        QTest::newRow("an amount written two ways")
            << QStringList{u"Wire|0|Hackers fooled Cognizant help desk, says Clorox in $380M "
                           u"cyberattack lawsuit||"_qs,
                           u"Desk|9|Clorox Sues Cognizant for $380 Million Over 2023 Hack||"_qs}
            << u"0 1"_qs;
        QTest::newRow("a figure and its round form")
            << QStringList{u"Wire|0|Halvorsen warns 214,000 patients of stolen records|The "
                           u"hospital group Halvorsen wrote to patients.|"_qs,
                           u"Desk|6|Halvorsen says 214,385 patients affected by breach||"_qs}
            << u"0 1"_qs;
        QTest::newRow("a figure in digits and in words")
            << QStringList{u"Wire|0|Halvorsen warns 5,400,000 patients of stolen records|The "
                           u"hospital group Halvorsen wrote to patients.|"_qs,
                           u"Desk|6|Halvorsen says 5.4 million patients affected by breach||"_qs}
            << u"0 1"_qs;
        QTest::newRow("a figure and its rounder form")
            << QStringList{u"Wire|0|Halvorsen warns 2,318,457 patients of stolen records|The "
                           u"hospital group Halvorsen wrote to patients.|"_qs,
                           u"Desk|6|Halvorsen Says 2.3 Million Patients Affected by Breach||"_qs}
            << u"0 1"_qs;
        QTest::newRow("a sum and a count of the same digits")
            << QStringList{u"Wire|0|Orlund Bank fined $4.5 million over breach||"_qs,
                           u"Desk|6|Orlund Bank moves 4.5 million customers to passkeys||"_qs}
            << u"0|1"_qs;
        QTest::newRow("two figures of one vendor")
            << QStringList{u"Wire|0|Halvorsen warns 214,000 patients of stolen records|The "
                           u"hospital group Halvorsen wrote to patients.|"_qs,
                           u"Desk|6|Halvorsen says 389,000 patients affected by breach||"_qs}
            << u"0|1"_qs;
        QTest::newRow("a vendor, its product and a name of two words in both titles")
            << QStringList{u"Wire|0|Google fixes Chrome zero-days shown at Pwn2Own Tokyo||"_qs,
                           u"Desk|4|Google Patches Two Chrome Zero-Days Demonstrated at Pwn2Own "
                           u"Tokyo 2025||"_qs}
            << u"0 1"_qs;
        QTest::newRow("a name of three words in both titles")
            << QStringList{u"Record|0|Nova Scotia Power confirms hackers stole customer data in "
                           u"cyberattack||"_qs,
                           u"Weekly|4|Nova Scotia Power Says Customer Data Stolen in "
                           u"Cyberattack||"_qs}
            << u"0 1"_qs;
        QTest::newRow("names that both summaries give")
            << QStringList{u"Gazette|0|Chinese Hackers Exploit Ivanti EPMM Flaws to Breach "
                           u"Healthcare Firms|A group chained two bugs in Ivanti Endpoint Manager "
                           u"Mobile.|"_qs,
                           u"Record|7|Ivanti EPMM bugs exploited by China-linked espionage "
                           u"group|Researchers tie attacks on Ivanti Endpoint Manager Mobile "
                           u"servers to a Chinese group.|"_qs}
            << u"0 1"_qs;
        QTest::newRow("a vendor and its product alone")
            << QStringList{u"Wire|0|Palo Alto Networks patches GlobalProtect flaw that enables "
                           u"privilege escalation||"_qs,
                           u"Gazette|16|Palo Alto Networks Warns of Brute-Force Attempts on PAN-OS "
                           u"GlobalProtect Gateways||"_qs}
            << u"0|1"_qs;
        QTest::newRow("common words only")
            << QStringList{u"Wire|0|Hackers publish malicious npm packages in new ransomware "
                           u"attack||"_qs,
                           u"Desk|1|New ransomware attack: hackers publish malicious npm "
                           u"packages||"_qs}
            << u"0|1"_qs;
        QTest::newRow("one vendor, two patches")
            << QStringList{u"Wire|0|Microsoft fixes Exchange Server flaw exploited in phishing "
                           u"attacks||"_qs,
                           u"Desk|3|Microsoft Patches Windows Kernel Zero-Day Exploited by "
                           u"Ransomware Gang||"_qs}
            << u"0|1"_qs;
        QTest::newRow("two ransomware attacks")
            << QStringList{u"Wire|0|Akira ransomware claims attack on Stanford University||"_qs,
                           u"Desk|2|LockBit ransomware hits Dutch hospital chain||"_qs}
            << u"0|1"_qs;
        QTest::newRow("one group's two operations")
            << QStringList{u"Wire|0|Scattered Spider hackers target US insurance firms after UK "
                           u"retail attacks||"_qs,
                           u"Desk|8|Scattered Spider Suspects Arrested in UK Over Transport for "
                           u"London Attack||"_qs}
            << u"0|1"_qs;
        QTest::newRow("words alone: within 72 hours")
            << QStringList{u"Wire|0|Clorox sues Cognizant for $380M||"_qs,
                           u"Desk|72|Clorox sues Cognizant for $380M||"_qs}
            << u"0 1"_qs;
        QTest::newRow("words alone: not beyond 72 hours")
            << QStringList{u"Wire|0|Clorox sues Cognizant for $380M||"_qs,
                           u"Desk|73|Clorox sues Cognizant for $380M||"_qs}
            << u"0|1"_qs;
        QTest::newRow("one feed's two stories are never one")
            << QStringList{u"Wire|0|Clorox sues Cognizant for $380M||"_qs,
                           u"Wire|1|Clorox sues Cognizant for $380M||"_qs}
            << u"0|1"_qs;
        QTest::newRow("three feeds, the earliest first")
            << QStringList{u"Gazette|6|Clorox Sues Cognizant for $380 Million||"_qs,
                           u"Wire|0|Clorox sues Cognizant in $380M lawsuit||"_qs,
                           u"Desk|3|Cognizant sued by Clorox over $380M hack||"_qs}
            << u"1 2 0"_qs;
        QTest::newRow("groups in the order of their first story given")
            << QStringList{u"Wire|9|Akira ransomware claims attack on Stanford University||"_qs,
                           u"Desk|2|Clorox sues Cognizant for $380M||"_qs,
                           u"Gazette|1|Clorox sues Cognizant for $380M||"_qs}
            << u"0|2 1"_qs;
    }
    void grouping()
    {
        QFETCH(QStringList, stories);
        QFETCH(QString, expected);
        QCOMPARE(shape(groupStories(storiesOf(stories))), expected);
    }

    // The evaluation set's different events stay apart, pair by pair and among all the others
    // (any two stories of different blocks are different events).
    void evaluationSetHasNoFalseMerges()
    {
        const QList<test::LabelledPair> pairs =
            test::readGroupingPairs(test::readTestData(u"grouping/pairs.txt"_qs), start);
        QVERIFY(pairs.size() >= 60);
        QList<NewsItem> all;
        for (const test::LabelledPair& pair : pairs) {
            all << pair.first << pair.second;
            if (!pair.same)
                QVERIFY2(groupStories({pair.first, pair.second}).size() == 2,
                         qPrintable(pair.first.title));
        }
        for (const StoryGroup& group : groupStories(all)) {
            for (const NewsItem& item : group.stories)
                QVERIFY2(item.id.section(u'-', 0, 0) == group.lead().id.section(u'-', 0, 0),
                         qPrintable(group.lead().title + u" | "_qs + item.title));
        }
    }

    void hostileTextEndsQuickly_data()
    {
        QTest::addColumn<QString>("title");
        QTest::newRow("a long run of digits and commas") << QString(u"1,"_qs.repeated(200'000));
        QTest::newRow("one endless word") << QString(u"A"_qs.repeated(500'000));
        QTest::newRow("CVE prefixes without numbers") << QString(u"CVE-"_qs.repeated(100'000));
        QTest::newRow("scales without numbers") << QString(u"$ million "_qs.repeated(50'000));
    }
    void hostileTextEndsQuickly()
    {
        QFETCH(QString, title);
        NewsItem a{u"a"_qs, title, {}, u"Wire"_qs, NewsCategory::malware, start, title};
        NewsItem b{u"b"_qs, title, {}, u"Desk"_qs, NewsCategory::malware, start, title};
        // Finishes, and keeps both stories, together or apart.
        const QList<StoryGroup> groups = groupStories({a, b});
        QStringList ids;
        for (const StoryGroup& group : groups) {
            for (const NewsItem& story : group.stories)
                ids.append(story.id);
        }
        ids.sort();
        QCOMPARE(ids, (QStringList{u"a"_qs, u"b"_qs}));
    }

    void spokenLists_data()
    {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << QStringList() << QString();
        QTest::newRow("one") << QStringList{u"A"_qs} << u"A"_qs;
        QTest::newRow("two") << QStringList{u"A"_qs, u"B"_qs} << u"A and B"_qs;
        QTest::newRow("three") << QStringList{u"A"_qs, u"B"_qs, u"C"_qs} << u"A, B and C"_qs;
    }
    void spokenLists()
    {
        QFETCH(QStringList, words);
        QFETCH(QString, expected);
        QCOMPARE(spokenList(words), expected);
    }

    void groupsBySize_data()
    {
        QTest::addColumn<QList<qsizetype>>("sizes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("as given") << QList<qsizetype>{2, 1} << u"0 1|2"_qs;
        QTest::newRow("none: each alone") << QList<qsizetype>{} << u"0|1|2"_qs;
        QTest::newRow("too few: each alone") << QList<qsizetype>{2} << u"0|1|2"_qs;
        QTest::newRow("too many: each alone") << QList<qsizetype>{2, 2} << u"0|1|2"_qs;
        QTest::newRow("an empty group: each alone") << QList<qsizetype>{0, 3} << u"0|1|2"_qs;
    }
    void groupsBySize()
    {
        QFETCH(QList<qsizetype>, sizes);
        QFETCH(QString, expected);
        const QList<NewsItem> items = storiesOf({u"A|0|x"_qs, u"B|0|y"_qs, u"C|0|z"_qs});
        QCOMPARE(shape(vardelle::groupsBySize(items, sizes)), expected);
    }
};

QTEST_GUILESS_MAIN(StoryGroupsTest)
#include "tst_storygroups.moc"
