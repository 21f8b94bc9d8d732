#include "news/GatherMerge.h"

#include "support/ManualClock.h"

#include <QtTest>

using namespace vardelle;

namespace {

const Instant since = test::utc(2024, 6, 4, 9, 0);

NewsCategory categoryOf(QChar letter)
{
    switch (letter.unicode()) {
    case u't':
        return NewsCategory::threatIntel;
    case u'm':
        return NewsCategory::malware;
    default:
        return NewsCategory::cybersecurity;
    }
}

// "id;title;seconds after since;c|t|m"
NewsItem story(const QString& line)
{
    const QStringList f = line.split(u';');
    return NewsItem{f[0],
                    f[1],
                    QString(),
                    u"Feed"_qs,
                    categoryOf(f[3].at(0)),
                    since + std::chrono::seconds(f[2].toInt()),
                    QString()};
}

// "c1", "t2", ...: the first letter is the category, the whole text the id.
NewsItem tagged(const QString& id)
{
    return NewsItem{id, id, QString(), u"Feed"_qs, categoryOf(id.at(0)), since, QString()};
}

QStringList ids(const QList<NewsItem>& items)
{
    QStringList list;
    for (const NewsItem& item : items)
        list.append(item.id);
    return list;
}

QStringList ids(const QList<StoryGroup>& groups)
{
    return ids(storiesOf(groups));
}

// The groups as their stories' ids: "c9 t8|m7".
QString shape(const QList<StoryGroup>& groups)
{
    QStringList parts;
    for (const StoryGroup& group : groups)
        parts.append(ids(group.stories).join(u' '));
    return parts.join(u'|');
}

} // namespace

class GatherMergeTest : public QObject {
    Q_OBJECT

private slots:
    void titleKeys_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("key");
        QTest::newRow("case and trailing mark") << u"Big Breach!"_qs << u"big breach"_qs;
        QTest::newRow("hyphen removed, not spaced") << u"Zero-Day Flaw"_qs << u"zeroday flaw"_qs;
        QTest::newRow("spaces kept as they are") << u" two  spaces "_qs << u" two  spaces "_qs;
        QTest::newRow("digits stay") << u"CVE-2024-3094: xz"_qs << u"cve20243094 xz"_qs;
        QTest::newRow("other letters and spaces go") << u"Café\tdéjà\u00a0vu"_qs << u"cafdjvu"_qs;
        QTest::newRow("quotes") << u"\"Quoted\" 'title'"_qs << u"quoted title"_qs;
    }
    void titleKeys()
    {
        QFETCH(QString, title);
        QFETCH(QString, key);
        QCOMPARE(titleKey(title), key);
    }

    void merge_data()
    {
        QTest::addColumn<QStringList>("stories");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("newest first across feeds")
            << QStringList{u"a;A;10;c"_qs, u"b;B;30;t"_qs, u"c;C;20;m"_qs}
            << QStringList{u"b"_qs, u"c"_qs, u"a"_qs};
        QTest::newRow("same story, other id, case and punctuation differ: newer copy")
            << QStringList{u"old;Big Breach at Acme;5;c"_qs, u"new;big breach at acme!;50;t"_qs}
            << QStringList{u"new"_qs};
        QTest::newRow("hyphen inside a word makes another key")
            << QStringList{u"a;Zero-day in Router;5;c"_qs, u"b;Zero day in Router;6;c"_qs}
            << QStringList{u"b"_qs, u"a"_qs};
        QTest::newRow("spaces are not collapsed")
            << QStringList{u"a;Two  Spaces;5;c"_qs, u"b;Two Spaces;6;c"_qs}
            << QStringList{u"b"_qs, u"a"_qs};
        QTest::newRow("same id in two categories survives once, newest copy")
            << QStringList{u"adv;ICS Advisory One;5;c"_qs, u"adv;ICS advisory one (update);9;t"_qs}
            << QStringList{u"adv"_qs};
        QTest::newRow("an older copy outside the window leaves the newer one")
            << QStringList{u"out;Patch now;-100;m"_qs, u"in;Patch Now;10;c"_qs}
            << QStringList{u"in"_qs};
        QTest::newRow("window edge: at since stays, a second before goes")
            << QStringList{u"at;At;0;c"_qs, u"before;Before;-1;c"_qs, u"after;After;1;c"_qs}
            << QStringList{u"after"_qs, u"at"_qs};
        QTest::newRow("titles with no ASCII letter or digit compare by id only")
            << QStringList{u"ru1;Новая уязвимость;5;c"_qs, u"ru2;Атака банка;6;c"_qs,
                           u"sym;⚠️ !!;7;m"_qs, u"ru1;Другой заголовок;1;t"_qs}
            << QStringList{u"sym"_qs, u"ru2"_qs, u"ru1"_qs};
        QTest::newRow("nothing") << QStringList{} << QStringList{};
    }
    void merge()
    {
        QFETCH(QStringList, stories);
        QFETCH(QStringList, expected);
        QList<NewsItem> combined;
        for (const QString& line : stories)
            combined.append(story(line));
        const QList<NewsItem> merged = mergeGathered(combined, since);
        QCOMPARE(ids(merged), expected);
        // Where one of two copies survives, it is the whole newer one, category included.
        if (expected.size() == 1 && stories.size() == 2)
            QCOMPARE(merged.first(), story(stories[1]));
    }

    void balancing_data()
    {
        QTest::addColumn<QStringList>("input");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QStringList>("expected");

        const QStringList threeEach{u"c1"_qs, u"c2"_qs, u"c3"_qs, u"t1"_qs, u"t2"_qs,
                                    u"t3"_qs, u"m1"_qs, u"m2"_qs, u"m3"_qs};
        QTest::newRow("round robin, cut at the limit")
            << threeEach << 4 << QStringList{u"c1"_qs, u"t1"_qs, u"m1"_qs, u"c2"_qs};
        QTest::newRow("missing category skipped, rest fills up")
            << QStringList{u"c1"_qs, u"c2"_qs, u"c3"_qs, u"t1"_qs} << 5
            << QStringList{u"c1"_qs, u"t1"_qs, u"c2"_qs, u"c3"_qs};
        QTest::newRow("limit beyond supply") << QStringList{u"m1"_qs, u"c1"_qs, u"c2"_qs} << 20
                                             << QStringList{u"c1"_qs, u"m1"_qs, u"c2"_qs};
        QTest::newRow("input order within a category kept")
            << QStringList{u"t2"_qs, u"c9"_qs, u"t1"_qs} << 3
            << QStringList{u"c9"_qs, u"t2"_qs, u"t1"_qs};
        QTest::newRow("limit one") << threeEach << 1 << QStringList{u"c1"_qs};
        QTest::newRow("limit zero") << threeEach << 0 << QStringList{};
        QTest::newRow("negative limit") << threeEach << -3 << QStringList{};
        QTest::newRow("no items") << QStringList{} << 5 << QStringList{};
    }
    void balancing()
    {
        QFETCH(QStringList, input);
        QFETCH(int, limit);
        QFETCH(QStringList, expected);
        QList<NewsItem> items;
        for (const QString& id : input)
            items.append(tagged(id));
        QCOMPARE(ids(balance(items, limit)), expected);
    }

    void briefingSelection_data()
    {
        QTest::addColumn<QStringList>("terms");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QStringList>("expected");

        // Newest first: c9 ... m1; t5 and c3 name Ivanti.
        QTest::newRow("no watch list: balanced")
            << QStringList() << 4 << QStringList{u"c9"_qs, u"t8"_qs, u"m7"_qs, u"c6"_qs};
        QTest::newRow("watched first, newest first, the rest balanced")
            << QStringList{u"ivanti"_qs} << 5
            << QStringList{u"t5"_qs, u"c3"_qs, u"c9"_qs, u"t8"_qs, u"m7"_qs};
        QTest::newRow("more watched than places: the newest")
            << QStringList{u"ivanti"_qs} << 1 << QStringList{u"t5"_qs};
        QTest::newRow("a term matching nothing")
            << QStringList{u"Citrix"_qs} << 3 << QStringList{u"c9"_qs, u"t8"_qs, u"m7"_qs};
        QTest::newRow("no places") << QStringList{u"ivanti"_qs} << 0 << QStringList();
    }
    void briefingSelection()
    {
        QFETCH(QStringList, terms);
        QFETCH(int, limit);
        QFETCH(QStringList, expected);
        QList<NewsItem> newestFirst;
        for (const QString& line : {u"c9;c9;9;c"_qs, u"t8;t8;8;t"_qs, u"m7;m7;7;m"_qs,
                                    u"c6;c6;6;c"_qs, u"t5;Ivanti flaw;5;t"_qs, u"m4;m4;4;m"_qs,
                                    u"c3;More on IVANTI;3;c"_qs, u"t2;t2;2;t"_qs, u"m1;m1;1;m"_qs})
            newestFirst.append(story(line));
        QCOMPARE(ids(selectForBriefing(newestFirst, limit, WatchList(terms))), expected);
    }

    // With a cap of 12 and 3 watched stories, 9 places remain for the balanced rest.
    void watchedStoriesTakeTheirPlacesBeforeBalancing()
    {
        QList<NewsItem> newestFirst;
        for (int i = 30; i > 0; --i) {
            const QString id = QString(u"ctm"_qs[i % 3]) + QString::number(i);
            const QString title = i % 10 == 0 ? u"CVE-2024-3400 "_qs + id : id;
            newestFirst.append(story(id + u';' + title + u';' + QString::number(i) + u';' + id[0]));
        }
        QCOMPARE(ids(selectForBriefing(newestFirst, 12, WatchList({u"cve-2024-3400"_qs}))),
                 (QStringList{u"c30"_qs, u"m20"_qs, u"t10"_qs, u"c27"_qs, u"t28"_qs, u"m29"_qs,
                              u"c24"_qs, u"t25"_qs, u"m26"_qs, u"c21"_qs, u"t22"_qs, u"m23"_qs}));
    }

    // Reports of one event are one group, earliest first: they take one place, come where the
    // newest of them is, belong to the category of the earliest (here malware, leaving
    // cyber security empty), and are watched when any of them is.
    void groupsOfOneEvent_data()
    {
        QTest::addColumn<QStringList>("terms");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("expected");
        QTest::newRow("the cap counts groups") << QStringList() << 3 << u"t8|m4 c6 c9|t2"_qs;
        QTest::newRow("a group in its earliest story's category")
            << QStringList() << 5 << u"t8|m4 c6 c9|t2|m7|m1"_qs;
        QTest::newRow("watched through any of its stories")
            << QStringList{u"Cognizant"_qs} << 2 << u"m4 c6 c9|t8"_qs;
        QTest::newRow("a single watched story first")
            << QStringList{u"Ivanti"_qs} << 2 << u"t2|t8"_qs;
    }
    void groupsOfOneEvent()
    {
        QFETCH(QStringList, terms);
        QFETCH(int, limit);
        QFETCH(QString, expected);
        // m4, c6 and c9 report one event, from three feeds; m4 is the earliest.
        QList<NewsItem> newestFirst;
        for (const QString& line :
             {u"c9;Clorox sues Cognizant for $380 Million;9;c"_qs, u"t8;t8;8;t"_qs, u"m7;m7;7;m"_qs,
              u"c6;Clorox in $380M lawsuit against Cognizant;6;c"_qs,
              u"m4;Cognizant sued by Clorox over $380M;4;m"_qs, u"t2;Ivanti flaw;2;t"_qs,
              u"m1;m1;1;m"_qs}) {
            NewsItem item = story(line);
            item.source = u"Feed "_qs + item.id;
            newestFirst.append(item);
        }
        QCOMPARE(shape(selectForBriefing(newestFirst, limit, WatchList(terms))), expected);
    }
};

QTEST_GUILESS_MAIN(GatherMergeTest)
#include "tst_gathermerge.moc"
