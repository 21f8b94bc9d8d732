#include "briefing/BriefingText.h"
#include "briefing/RelativeTime.h"
#include "news/NewsItem.h"

#include "support/ManualClock.h"

#include <QtConcurrent>
#include <QtTest>

#include <chrono>
#include <numeric>

using namespace vardelle;
using namespace std::chrono;
using test::ManualClock;
using test::utc;

namespace {

NewsItem story(NewsCategory category, const QString& title, const QString& source)
{
    NewsItem item;
    item.id = title;
    item.title = title;
    item.source = source;
    item.category = category;
    return item;
}

const Instant fixedNow = utc(2024, 6, 4, 9, 15);

// Sets exactly the three locale variables the composer reads; a null value unsets one.
void setLocaleEnvironment(const char* lcAll, const char* lcMessages = nullptr,
                          const char* lang = nullptr)
{
    const std::pair<const char*, const char*> values[] = {
        {"LC_ALL", lcAll}, {"LC_MESSAGES", lcMessages}, {"LANG", lang}};
    for (const auto& [name, value] : values) {
        if (value)
            qputenv(name, value);
        else
            qunsetenv(name);
    }
}

} // namespace

class BriefingTextTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Before ICU first reads the default time zone: calendar months and years are counted
        // in it.
        qputenv("TZ", "UTC");
    }

    void init() { setLocaleEnvironment("en_US.UTF-8"); }

    void opening_data()
    {
        QTest::addColumn<qsizetype>("count");
        QTest::addColumn<QString>("expected");
        QTest::newRow("three")
            << qsizetype(3)
            << u"Here is your security briefing. 3 new stories since 2 hours ago."_qs;
        QTest::newRow("one")
            << qsizetype(1) << u"Here is your security briefing. 1 new story since 2 hours ago."_qs;
        QTest::newRow("none")
            << qsizetype(0)
            << u"Here is your security briefing. 0 new stories since 2 hours ago."_qs;
        QTest::newRow("many")
            << qsizetype(1234)
            << u"Here is your security briefing. 1234 new stories since 2 hours ago."_qs;
    }
    void opening()
    {
        QFETCH(qsizetype, count);
        QFETCH(QString, expected);
        const ManualClock clock(fixedNow);
        QCOMPARE(briefingOpening(count, fixedNow - 2h - 30min, clock), expected);
    }

    void relativePhrase_data()
    {
        QTest::addColumn<Instant>("since");
        QTest::addColumn<QString>("phrase");
        QTest::newRow("same instant") << fixedNow << u"0 seconds ago"_qs;
        QTest::newRow("half a second back") << fixedNow - 500ms << u"0 seconds ago"_qs;
        QTest::newRow("a microsecond back") << fixedNow - 1us << u"0 seconds ago"_qs;
        QTest::newRow("one second") << fixedNow - 1s << u"1 second ago"_qs;
        QTest::newRow("59.9 seconds") << fixedNow - 59900ms << u"59 seconds ago"_qs;
        QTest::newRow("one minute") << fixedNow - 60s << u"1 minute ago"_qs;
        QTest::newRow("59 minutes") << fixedNow - 59min - 59s << u"59 minutes ago"_qs;
        QTest::newRow("two and a half hours") << fixedNow - 150min << u"2 hours ago"_qs;
        QTest::newRow("23 hours") << fixedNow - 23h - 59min << u"23 hours ago"_qs;
        QTest::newRow("one day") << fixedNow - 24h << u"1 day ago"_qs;
        QTest::newRow("six days") << fixedNow - days(6) - 23h << u"6 days ago"_qs;
        QTest::newRow("one week") << fixedNow - days(7) << u"1 week ago"_qs;
        QTest::newRow("four weeks") << fixedNow - days(29) << u"4 weeks ago"_qs;
        // 2024-05-04 09:15 to 2024-06-04 09:15 is one calendar month (31 days).
        QTest::newRow("one calendar month") << utc(2024, 5, 4, 9, 15) << u"1 month ago"_qs;
        QTest::newRow("a minute short of a month") << utc(2024, 5, 4, 9, 16) << u"4 weeks ago"_qs;
        QTest::newRow("eleven months") << utc(2023, 6, 5) << u"11 months ago"_qs;
        QTest::newRow("one year") << utc(2023, 6, 4, 9, 15) << u"1 year ago"_qs;
        QTest::newRow("three years") << utc(2021, 1, 1) << u"3 years ago"_qs;
        QTest::newRow("future half second") << fixedNow + 500ms << u"in 0 seconds"_qs;
        QTest::newRow("future hours") << fixedNow + 3h + 59min << u"in 3 hours"_qs;
        QTest::newRow("future days") << fixedNow + days(2) << u"in 2 days"_qs;
        QTest::newRow("future month") << utc(2024, 7, 4, 9, 15) << u"in 1 month"_qs;
    }
    void relativePhrase()
    {
        QFETCH(Instant, since);
        QFETCH(QString, phrase);
        const ManualClock clock(fixedNow);
        QCOMPARE(briefingOpening(2, since, clock),
                 u"Here is your security briefing. 2 new stories since "_qs + phrase + u'.');
    }

    // Everything from today opens with the day, not with the hours since midnight.
    void fromToday()
    {
        const ManualClock clock(fixedNow);
        QCOMPARE(briefingOpening(2, startOfLocalDay(fixedNow), clock),
                 u"Here is your security briefing. 2 new stories from today."_qs);
    }

    void monthsAreCalendarMonths()
    {
        // January 31 plus one month is February 29 (2024), before March 1: one month.
        const ManualClock clock(utc(2024, 3, 1));
        QCOMPARE(briefingOpening(1, utc(2024, 1, 31), clock),
                 u"Here is your security briefing. 1 new story since 1 month ago."_qs);
        // February 1 to March 1, 2023: 28 days, one calendar month.
        const ManualClock february(utc(2023, 3, 1));
        QCOMPARE(briefingOpening(1, utc(2023, 2, 1), february),
                 u"Here is your security briefing. 1 new story since 1 month ago."_qs);
    }

    void threeStories()
    {
        const ManualClock clock(fixedNow);
        const QList<NewsItem> items{
            story(NewsCategory::malware, u"New loader spotted"_qs, u"BleepingComputer"_qs),
            story(NewsCategory::cybersecurity, u"CVE-2024-3400 exploited"_qs,
                  u"CISA News & Alerts"_qs),
            story(NewsCategory::malware, u"Botnet returns?"_qs, u"The Hacker News"_qs),
        };
        QCOMPARE(composeBriefing(items, fixedNow - 2h, clock),
                 u"Here is your security briefing. 3 new stories since 2 hours ago. "
                 "In cyber security, 1 story. "
                 "From CISA News and Alerts. C V E, 2024, 3400 exploited. "
                 "In malware, 2 stories. "
                 "From BleepingComputer. New loader spotted. "
                 "From The Hacker News. Botnet returns. "
                 "That is everything new since the last check."_qs);
    }

    void oneThreatIntelStory()
    {
        const ManualClock clock(fixedNow);
        const QString text = composeBriefing(
            {story(NewsCategory::threatIntel, u"Grid operators warned"_qs, u"Dragos"_qs)},
            fixedNow - 45min, clock);
        QCOMPARE(text, u"Here is your security briefing. 1 new story since 45 minutes ago. "
                       "In threat intelligence, 1 story. "
                       "From Dragos. Grid operators warned. "
                       "That is everything new since the last check."_qs);
        QVERIFY(!text.contains(u'\n'));
    }

    void allCategoriesInOrder()
    {
        const ManualClock clock(fixedNow);
        const QList<NewsItem> items{
            story(NewsCategory::malware, u"M1"_qs, u"S"_qs),
            story(NewsCategory::threatIntel, u"T1"_qs, u"S"_qs),
            story(NewsCategory::cybersecurity, u"C1"_qs, u"S"_qs),
            story(NewsCategory::threatIntel, u"T2"_qs, u"S"_qs),
            story(NewsCategory::cybersecurity, u"C2"_qs, u"S"_qs),
        };
        QCOMPARE(composeBriefing(items, fixedNow - 2h, clock),
                 u"Here is your security briefing. 5 new stories since 2 hours ago. "
                 "In cyber security, 2 stories. From S. C1. From S. C2. "
                 "In threat intelligence, 2 stories. From S. T1. From S. T2. "
                 "In malware, 1 story. From S. M1. "
                 "That is everything new since the last check."_qs);
    }

    // Spoken story by story: each category's count goes with its first story; the parts joined
    // are the briefing, word for word, and each story part carries its story.
    void parts()
    {
        const ManualClock clock(fixedNow);
        const QList<NewsItem> items{
            story(NewsCategory::malware, u"M1"_qs, u"S"_qs),
            story(NewsCategory::cybersecurity, u"C1"_qs, u"S"_qs),
            story(NewsCategory::cybersecurity, u"C2?"_qs, u"S"_qs),
            story(NewsCategory::threatIntel, u"Watched"_qs, u"S"_qs),
        };
        const WatchList watch({u"watched"_qs});
        const QList<BriefingPart> parts = composeBriefingParts(items, fixedNow - 2h, clock, watch);
        QStringList texts;
        QStringList stories;
        for (const BriefingPart& part : parts) {
            texts.append(part.text);
            stories.append(part.story ? part.story->id : QString());
        }
        QCOMPARE(texts, (QStringList{
                            u"Here is your security briefing. 4 new stories since 2 hours ago."_qs,
                            u"On your watch list, 1 story. From S. Watched."_qs,
                            u"In cyber security, 2 stories. From S. C1."_qs,
                            u"From S. C2."_qs,
                            u"In malware, 1 story. From S. M1."_qs,
                            u"That is everything new since the last check."_qs,
                        }));
        QCOMPARE(stories,
                 (QStringList{QString(), u"Watched"_qs, u"C1"_qs, u"C2?"_qs, u"M1"_qs, QString()}));
        QCOMPARE(joinedText(parts), composeBriefing(items, fixedNow - 2h, clock, watch));
    }

    // The watched stories come first, newest first, in their own section, and are not told
    // again under their category; the opening counts every story.
    void watchSection_data()
    {
        QTest::addColumn<QStringList>("terms");
        QTest::addColumn<QString>("expected");

        QTest::newRow("two watched")
            << QStringList{u"Ivanti"_qs, u"CVE-2024-3400"_qs}
            << u"Here is your security briefing. 4 new stories since 2 hours ago. "
               "On your watch list, 2 stories. "
               "From S. Ivanti's gateway hit. From S. C V E, 2024, 3400 exploited. "
               "In cyber security, 1 story. From S. Patch Tuesday. "
               "In malware, 1 story. From S. Loader returns. "
               "That is everything new since the last check."_qs;
        QTest::newRow("one watched")
            << QStringList{u"loader"_qs}
            << u"Here is your security briefing. 4 new stories since 2 hours ago. "
               "On your watch list, 1 story. From S. Loader returns. "
               "In cyber security, 2 stories. From S. C V E, 2024, 3400 exploited. "
               "From S. Patch Tuesday. "
               "In threat intelligence, 1 story. From S. Ivanti's gateway hit. "
               "That is everything new since the last check."_qs;
        QTest::newRow("none watched: no section")
            << QStringList{u"Citrix"_qs}
            << u"Here is your security briefing. 4 new stories since 2 hours ago. "
               "In cyber security, 2 stories. From S. C V E, 2024, 3400 exploited. "
               "From S. Patch Tuesday. "
               "In threat intelligence, 1 story. From S. Ivanti's gateway hit. "
               "In malware, 1 story. From S. Loader returns. "
               "That is everything new since the last check."_qs;
    }
    void watchSection()
    {
        QFETCH(QStringList, terms);
        QFETCH(QString, expected);
        const ManualClock clock(fixedNow);
        QList<NewsItem> items{
            story(NewsCategory::cybersecurity, u"CVE-2024-3400 exploited"_qs, u"S"_qs),
            story(NewsCategory::malware, u"Loader returns"_qs, u"S"_qs),
            story(NewsCategory::threatIntel, u"Ivanti's gateway hit"_qs, u"S"_qs),
            story(NewsCategory::cybersecurity, u"Patch Tuesday"_qs, u"S"_qs),
        };
        // Newest first within the watch section, whatever the order given.
        items[0].published = fixedNow - 30min;
        items[2].published = fixedNow - 10min;
        QCOMPARE(composeBriefing(items, fixedNow - 2h, clock, WatchList(terms)), expected);
    }

    // An event reported by several feeds is one story: told by its first report, the other
    // feeds named after it (cleaned for speech like every source), counted once, in its first
    // report's category, and on the watch list when any report is.
    void storiesToldOnce_data()
    {
        QTest::addColumn<QStringList>("terms");
        QTest::addColumn<QString>("expected");
        QTest::newRow("two groups")
            << QStringList()
            << u"Here is your security briefing. 2 new stories since 2 hours ago. "
               "In cyber security, 1 story. From Wire. Clorox sues Cognizant. "
               "Also reported by Desk and News and Alerts. "
               "In malware, 1 story. From Lab. Loader returns. Also reported by Desk. "
               "That is everything new since the last check."_qs;
        QTest::newRow("watched through a later report")
            << QStringList{u"lawsuit"_qs}
            << u"Here is your security briefing. 2 new stories since 2 hours ago. "
               "On your watch list, 1 story. From Wire. Clorox sues Cognizant. "
               "Also reported by Desk and News and Alerts. "
               "In malware, 1 story. From Lab. Loader returns. Also reported by Desk. "
               "That is everything new since the last check."_qs;
    }
    void storiesToldOnce()
    {
        QFETCH(QStringList, terms);
        QFETCH(QString, expected);
        const ManualClock clock(fixedNow);
        const QList<StoryGroup> groups{
            {{story(NewsCategory::cybersecurity, u"Clorox sues Cognizant"_qs, u"Wire"_qs),
              story(NewsCategory::malware, u"Clorox lawsuit"_qs, u"Desk"_qs),
              story(NewsCategory::threatIntel, u"Cognizant sued"_qs, u"News & Alerts"_qs)}},
            {{story(NewsCategory::malware, u"Loader returns"_qs, u"Lab"_qs),
              story(NewsCategory::cybersecurity, u"Loader is back"_qs, u"Desk"_qs)}},
        };
        const QList<BriefingPart> parts =
            composeBriefingParts(groups, fixedNow - 2h, clock, WatchList(terms));
        QCOMPARE(joinedText(parts), expected);
        // Each part tells its group's first report.
        QCOMPARE(parts[1].story->title, u"Clorox sues Cognizant"_qs);
        QCOMPARE(parts[2].story->title, u"Loader returns"_qs);
    }

    // What the catalogue of known exploited vulnerabilities adds: a sentence after each story
    // naming a catalogued CVE id (told first in its category), and the vulnerabilities newly
    // known since the last check in a section after the watch list.
    void knownExploited_data()
    {
        QTest::addColumn<QStringList>("terms");
        QTest::addColumn<bool>("withCatalogue");
        QTest::addColumn<bool>("withNewlyKnown");
        QTest::addColumn<QString>("expected");
        QTest::newRow("stories naming catalogued ids first in their category")
            << QStringList() << true << false
            << u"Here is your security briefing. 3 new stories since 2 hours ago. "
               "In cyber security, 3 stories. From Wire. Bleed is back, C V E, 2023, 4966. "
               "C V E, 2023, 4966 is known to be exploited and used in ransomware. "
               "From Lab. Gateways hit. Also reported by Desk. "
               "C V E, 2024, 3400 is known to be exploited. "
               "From Wire. Patch Tuesday. "
               "That is everything new since the last check."_qs;
        QTest::newRow("no catalogue: as before")
            << QStringList() << false << false
            << u"Here is your security briefing. 3 new stories since 2 hours ago. "
               "In cyber security, 3 stories. From Wire. Patch Tuesday. "
               "From Wire. Bleed is back, C V E, 2023, 4966. "
               "From Lab. Gateways hit. Also reported by Desk. "
               "That is everything new since the last check."_qs;
        QTest::newRow("newly known after the watch list, counted in the opening")
            << QStringList{u"Patch Tuesday"_qs} << true << true
            << u"Here is your security briefing. 5 new stories since 2 hours ago. "
               "On your watch list, 1 story. From Wire. Patch Tuesday. "
               "Newly known to be exploited: 2 vulnerabilities. "
               "Zyxel ATP: Zyxel Firewall Command Injection Vulnerability. "
               "Ivanti Connect Secure: Ivanti Connect Secure Buffer Overflow Vulnerability. "
               "In cyber security, 2 stories. From Wire. Bleed is back, C V E, 2023, 4966. "
               "C V E, 2023, 4966 is known to be exploited and used in ransomware. "
               "From Lab. Gateways hit. Also reported by Desk. "
               "C V E, 2024, 3400 is known to be exploited. "
               "That is everything new since the last check."_qs;
        QTest::newRow("a newly known one on the watch list")
            << QStringList{u"ivanti"_qs} << true << true
            << u"Here is your security briefing. 5 new stories since 2 hours ago. "
               "On your watch list, 1 story. Ivanti Connect Secure: Ivanti Connect Secure Buffer "
               "Overflow Vulnerability, newly known to be exploited. "
               "Newly known to be exploited: 1 vulnerability. "
               "Zyxel ATP: Zyxel Firewall Command Injection Vulnerability. "
               "In cyber security, 3 stories. From Wire. Bleed is back, C V E, 2023, 4966. "
               "C V E, 2023, 4966 is known to be exploited and used in ransomware. "
               "From Lab. Gateways hit. Also reported by Desk. "
               "C V E, 2024, 3400 is known to be exploited. "
               "From Wire. Patch Tuesday. "
               "That is everything new since the last check."_qs;
    }
    void knownExploited()
    {
        QFETCH(QStringList, terms);
        QFETCH(bool, withCatalogue);
        QFETCH(bool, withNewlyKnown);
        QFETCH(QString, expected);
        const ManualClock clock(fixedNow);
        NewsItem named = story(NewsCategory::cybersecurity, u"Gateways hit"_qs, u"Lab"_qs);
        NewsItem report = story(NewsCategory::cybersecurity, u"Firewalls hit"_qs, u"Desk"_qs);
        report.summary = u"Attacks through cve-2024-3400."_qs;
        const QList<StoryGroup> groups{
            {{story(NewsCategory::cybersecurity, u"Patch Tuesday"_qs, u"Wire"_qs)}},
            {{story(NewsCategory::cybersecurity, u"Bleed is back, CVE-2023-4966"_qs, u"Wire"_qs)}},
            {{named, report}},
        };
        KnownExploitedCatalog catalog;
        catalog.entries = {
            {u"CVE-2024-3400"_qs,
             u"Palo Alto Networks"_qs,
             u"PAN-OS"_qs,
             u"Injection"_qs,
             {},
             false},
            {u"CVE-2023-4966"_qs, u"Citrix"_qs, u"NetScaler"_qs, u"Bleed"_qs, {}, true},
        };
        catalog.index();
        KnownExploitedNews exploited;
        if (withCatalogue)
            exploited.catalog = &catalog;
        if (withNewlyKnown)
            exploited.newlyKnown = {
                {u"CVE-2025-0001"_qs,
                 u"Zyxel"_qs,
                 u"ATP"_qs,
                 u"Zyxel Firewall Command Injection Vulnerability"_qs,
                 {},
                 false},
                {u"CVE-2025-0282"_qs,
                 u"Ivanti"_qs,
                 u"Connect Secure"_qs,
                 u"Ivanti Connect Secure Buffer Overflow Vulnerability"_qs,
                 {},
                 false},
            };
        QCOMPARE(joinedText(composeBriefingParts(groups, fixedNow - 2h, clock, WatchList(terms),
                                                 exploited)),
                 expected);
    }

    void noStories()
    {
        const ManualClock clock(fixedNow);
        QCOMPARE(composeBriefing({}, fixedNow - 2h, clock),
                 u"Here is your security briefing. 0 new stories since 2 hours ago. "
                 "That is everything new since the last check."_qs);
    }

    void emptyAfterCleaning()
    {
        const ManualClock clock(fixedNow);
        const QList<NewsItem> items{
            story(NewsCategory::cybersecurity, u"..."_qs, u"\u2728"_qs),
        };
        QCOMPARE(composeBriefing(items, fixedNow - 2h, clock),
                 u"Here is your security briefing. 1 new story since 2 hours ago. "
                 "In cyber security, 1 story. From . . "
                 "That is everything new since the last check."_qs);
    }

    void localeVariables_data()
    {
        QTest::addColumn<QByteArray>("lcAll");
        QTest::addColumn<QByteArray>("lcMessages");
        QTest::addColumn<QByteArray>("lang");
        QTest::addColumn<QString>("phrase");
        // A null QByteArray unsets the variable; an empty one sets it empty.
        QTest::newRow("LC_ALL German") << QByteArray("de_DE.UTF-8") << QByteArray("fr_FR")
                                       << QByteArray("fr_FR") << u"vor 2 Stunden"_qs;
        QTest::newRow("modifier") << QByteArray("de_DE@euro") << QByteArray() << QByteArray()
                                  << u"vor 2 Stunden"_qs;
        QTest::newRow("codeset and modifier")
            << QByteArray("de_AT.ISO-8859-15@euro") << QByteArray() << QByteArray()
            << u"vor 2 Stunden"_qs;
        QTest::newRow("empty LC_ALL, LC_MESSAGES French")
            << QByteArray("") << QByteArray("fr_FR.UTF-8") << QByteArray("de_DE.UTF-8")
            << u"il y a 2 heures"_qs;
        QTest::newRow("LANG only")
            << QByteArray() << QByteArray() << QByteArray("de_CH.utf8") << u"vor 2 Stunden"_qs;
        QTest::newRow("C beats LANG") << QByteArray("C.UTF-8") << QByteArray()
                                      << QByteArray("de_DE.UTF-8") << u"2 hours ago"_qs;
        QTest::newRow("POSIX") << QByteArray("POSIX") << QByteArray() << QByteArray()
                               << u"2 hours ago"_qs;
        QTest::newRow("nothing set")
            << QByteArray() << QByteArray() << QByteArray() << u"2 hours ago"_qs;
        QTest::newRow("all empty")
            << QByteArray("") << QByteArray("") << QByteArray("") << u"2 hours ago"_qs;
        QTest::newRow("no ICU data") << QByteArray("xx_YY.UTF-8") << QByteArray()
                                     << QByteArray("de_DE.UTF-8") << u"2 hours ago"_qs;
        QTest::newRow("not a locale name")
            << QByteArray("../de") << QByteArray() << QByteArray() << u"2 hours ago"_qs;
    }
    void localeVariables()
    {
        QFETCH(QByteArray, lcAll);
        QFETCH(QByteArray, lcMessages);
        QFETCH(QByteArray, lang);
        QFETCH(QString, phrase);
        setLocaleEnvironment(lcAll.isNull() ? nullptr : lcAll.constData(),
                             lcMessages.isNull() ? nullptr : lcMessages.constData(),
                             lang.isNull() ? nullptr : lang.constData());
        // The phrase shown on screen follows the locale; the spoken opening never does.
        QCOMPARE(relativeTimePhrase(fixedNow - 2h, fixedNow, RelativeStyle::full), phrase);
        const ManualClock clock(fixedNow);
        QCOMPARE(briefingOpening(3, fixedNow - 2h, clock),
                 u"Here is your security briefing. 3 new stories since 2 hours ago."_qs);
    }

    void germanLocaleKeepsTheBriefingEnglish()
    {
        const ManualClock clock(fixedNow);
        const QList<NewsItem> items{
            story(NewsCategory::malware, u"Loader & stealer \u2014 analysis\u2026"_qs,
                  u"Securelist"_qs),
            story(NewsCategory::cybersecurity, u"$3.5B fine"_qs, u"The Record"_qs),
        };
        const Instant since = fixedNow - days(3) - 5h;
        const QString english = composeBriefing(items, since, clock);
        setLocaleEnvironment("de_DE.UTF-8");
        const QString german = composeBriefing(items, since, clock);

        QVERIFY(english.contains(u" since 3 days ago. "_qs));
        QCOMPARE(german, english);
        QVERIFY(german.endsWith(
            u"In cyber security, 1 story. From The Record. 3.5 billion dollars fine. "
            "In malware, 1 story. From Securelist. Loader and stealer, analysis. "
            "That is everything new since the last check."_qs));
    }

    void anyThread()
    {
        const ManualClock clock(fixedNow);
        const QList<NewsItem> items{
            story(NewsCategory::malware, u"**Worm** spreads"_qs, u"Talos"_qs),
            story(NewsCategory::threatIntel, u"APT report"_qs, u"Unit 42"_qs),
        };
        const QString expected = composeBriefing(items, fixedNow - 2h, clock);
        QList<int> runs(64);
        std::iota(runs.begin(), runs.end(), 0);
        const QList<QString> texts = QtConcurrent::blockingMapped(
            runs, [&](int) { return composeBriefing(items, fixedNow - 2h, clock); });
        for (const QString& text : texts)
            QCOMPARE(text, expected);
    }
};

QTEST_GUILESS_MAIN(BriefingTextTest)
#include "tst_briefingtext.moc"
