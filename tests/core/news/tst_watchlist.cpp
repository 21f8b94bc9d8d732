#include "news/GatherMerge.h"
#include "news/WatchList.h"

#include "support/ManualClock.h"

#include <QtTest>

using namespace vardelle;

namespace {

const Instant since = test::utc(2024, 6, 4, 9, 0);

// "c1", "t2", "m3"...: the first letter is the category; `minutes` after since.
NewsItem story(const QString& id, int minutes, const QString& title = {})
{
    const NewsCategory category = id.startsWith(u't')   ? NewsCategory::threatIntel
                                  : id.startsWith(u'm') ? NewsCategory::malware
                                                        : NewsCategory::cybersecurity;
    return NewsItem{id,       title.isEmpty() ? id : title,          {}, u"Feed"_qs,
                    category, since + std::chrono::minutes(minutes), {}};
}

QStringList ids(const QList<NewsItem>& items)
{
    QStringList list;
    for (const NewsItem& item : items)
        list.append(item.id);
    return list;
}

} // namespace

class WatchListTest : public QObject {
    Q_OBJECT

private slots:
    void matching_data()
    {
        QTest::addColumn<QString>("term");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("matches");

        QTest::newRow("same word") << u"Ivanti"_qs << u"Ivanti patches VPN"_qs << true;
        QTest::newRow("other case") << u"Ivanti"_qs << u"IVANTI and ivanti"_qs << true;
        QTest::newRow("possessive") << u"Ivanti"_qs << u"Ivanti's gateway"_qs << true;
        QTest::newRow("curly possessive") << u"Ivanti"_qs << u"Ivanti\u2019s gateway"_qs << true;
        QTest::newRow("term with apostrophe, text curly")
            << u"Ivanti's"_qs << u"In Ivanti\u2019s gateway"_qs << true;
        QTest::newRow("inside a longer word") << u"Ivanti"_qs << u"Ivantis are not"_qs << false;
        QTest::newRow("end of a longer word") << u"Ivanti"_qs << u"NotIvanti"_qs << false;
        QTest::newRow("digit after") << u"Log4j"_qs << u"Log4j2 flaw"_qs << false;
        QTest::newRow("punctuation around") << u"FortiOS"_qs << u"(FortiOS)."_qs << true;
        QTest::newRow("cve id") << u"CVE-2024-3400"_qs << u"Exploits of CVE-2024-3400 rise"_qs
                                << true;
        QTest::newRow("cve id lower case") << u"CVE-2024-3400"_qs << u"cve-2024-3400:"_qs << true;
        QTest::newRow("longer cve id") << u"CVE-2024-3400"_qs << u"CVE-2024-34001"_qs << false;
        QTest::newRow("cve id apart") << u"CVE-2024-3400"_qs << u"CVE 2024 3400"_qs << false;
        QTest::newRow("non-breaking hyphen")
            << u"CVE-2024-3400"_qs << u"CVE\u20112024\u20113400"_qs << true;
        QTest::newRow("phrase") << u"Palo Alto"_qs << u"Palo Alto Networks"_qs << true;
        QTest::newRow("phrase, other spacing")
            << u"Palo Alto"_qs << u"Palo\u00a0 Alto Networks"_qs << true;
        QTest::newRow("phrase, words apart") << u"Palo Alto"_qs << u"Palo, Alto"_qs << false;
        QTest::newRow("phrase, longer last word") << u"Palo Alto"_qs << u"Palo Altos"_qs << false;
        QTest::newRow("ends in punctuation") << u"C++"_qs << u"a C++ library"_qs << true;
        QTest::newRow("ends in punctuation, letter after") << u"C++"_qs << u"C++x"_qs << false;
        QTest::newRow("starts with punctuation") << u".NET"_qs << u"the .NET runtime"_qs << true;
        QTest::newRow("starts with punctuation, letter before")
            << u".NET"_qs << u"ASP.NET"_qs << false;
        QTest::newRow("typed with spaces around") << u"  Citrix "_qs << u"Citrix Bleed"_qs << true;
        QTest::newRow("blank term") << u"   "_qs << u"anything at all"_qs << false;
        QTest::newRow("non-Latin letters") << u"Straße"_qs << u"STRASSE straße"_qs << true;
        QTest::newRow("accented letter after") << u"Cafe"_qs << u"Caf\u00e9 owners"_qs << false;
    }
    void matching()
    {
        QFETCH(QString, term);
        QFETCH(QString, text);
        QFETCH(bool, matches);
        const WatchList watch({term});
        QCOMPARE(watch.match(text).has_value(), matches);
        // The summary counts as the title does.
        NewsItem item = story(u"c1"_qs, 0, u"Unrelated headline"_qs);
        item.summary = text;
        QCOMPARE(watch.match(item).has_value(), matches);
    }

    // The term named is the first of the list that matches, as typed.
    void namesTheFirstMatchingTermAsTyped()
    {
        const WatchList watch({u"Fortinet"_qs, u" fortios "_qs, u"VPN"_qs});
        QCOMPARE(watch.match(u"FortiOS VPN bug"_qs), std::optional(u" fortios "_qs));
        NewsItem item = story(u"c1"_qs, 0, u"New VPN flaw"_qs);
        item.summary = u"Fortinet says..."_qs;
        QCOMPARE(watch.match(item), std::optional(u"Fortinet"_qs));
        QVERIFY(!WatchList().match(item));
    }

    void briefingSelection_data()
    {
        QTest::addColumn<QStringList>("terms");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QStringList>("expected");

        // Newest first: c9 ... m1; the watched ones carry "Ivanti" in their title.
        QTest::newRow("no watch list: balanced")
            << QStringList() << 4 << QStringList{u"c9"_qs, u"t8"_qs, u"m7"_qs, u"c6"_qs};
        QTest::newRow("watched first, the rest balanced")
            << QStringList{u"ivanti"_qs} << 5
            << QStringList{u"t5"_qs, u"c3"_qs, u"c9"_qs, u"t8"_qs, u"m7"_qs};
        QTest::newRow("more watched than places: the newest")
            << QStringList{u"ivanti"_qs} << 1 << QStringList{u"t5"_qs};
        QTest::newRow("term matching nothing")
            << QStringList{u"Citrix"_qs} << 3 << QStringList{u"c9"_qs, u"t8"_qs, u"m7"_qs};
        QTest::newRow("no places") << QStringList{u"ivanti"_qs} << 0 << QStringList();
    }
    void briefingSelection()
    {
        QFETCH(QStringList, terms);
        QFETCH(int, limit);
        QFETCH(QStringList, expected);
        const QList<NewsItem> newestFirst{
            story(u"c9"_qs, 9),
            story(u"t8"_qs, 8),
            story(u"m7"_qs, 7),
            story(u"c6"_qs, 6),
            story(u"t5"_qs, 5, u"Ivanti flaw"_qs),
            story(u"m4"_qs, 4),
            story(u"c3"_qs, 3, u"More on IVANTI"_qs),
            story(u"t2"_qs, 2),
            story(u"m1"_qs, 1),
        };
        QCOMPARE(ids(selectForBriefing(newestFirst, limit, WatchList(terms))), expected);
    }

    // With a cap of 12 and 3 watched stories, 9 places remain for the balanced rest.
    void watchedStoriesTakeTheirPlacesBeforeBalancing()
    {
        QList<NewsItem> newestFirst;
        for (int i = 30; i > 0; --i) {
            const QString id = QString(u"ctm"_qs[i % 3]) + QString::number(i);
            newestFirst.append(story(id, i, i % 10 == 0 ? u"CVE-2024-3400 "_qs + id : QString()));
        }
        QCOMPARE(ids(selectForBriefing(newestFirst, 12, WatchList({u"cve-2024-3400"_qs}))),
                 (QStringList{u"c30"_qs, u"m20"_qs, u"t10"_qs, u"c27"_qs, u"t28"_qs, u"m29"_qs,
                              u"c24"_qs, u"t25"_qs, u"m26"_qs, u"c21"_qs, u"t22"_qs, u"m23"_qs}));
    }
};

QTEST_GUILESS_MAIN(WatchListTest)
#include "tst_watchlist.moc"
