#include "news/WatchList.h"

#include <QtTest>

using namespace vardelle;

namespace {

NewsItem story(const QString& title, const QString& summary = {})
{
    return NewsItem{u"id"_qs, title, {}, u"Feed"_qs, NewsCategory::cybersecurity, {}, summary};
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
        QTest::newRow("modifier apostrophe") << u"Ivanti"_qs << u"Ivanti\u02BCs gateway"_qs << true;
        QTest::newRow("combining accent after") << u"Cafe"_qs << u"Cafe\u0301 owners"_qs << false;
        QTest::newRow("combining accent inside the term")
            << u"Cafe\u0301"_qs << u"CAFE\u0301 owners"_qs << true;
        QTest::newRow("a mark that folds to a letter, after")
            << u"Ivanti"_qs << u"Ivanti\u0345 gateway"_qs << false;
        QTest::newRow("simple case folding: no sharp s to ss")
            << u"STRASSE"_qs << u"Stra\u00dfe"_qs << false;
        QTest::newRow("simple case folding: dotted capital I is not i")
            << u"istanbul"_qs << u"\u0130stanbul"_qs << false;
    }
    void matching()
    {
        QFETCH(QString, term);
        QFETCH(QString, text);
        QFETCH(bool, matches);
        const WatchList watch({term});
        QCOMPARE(watch.match(text).has_value(), matches);
        // The summary counts as the title does.
        QCOMPARE(watch.match(story(u"Unrelated headline"_qs, text)).has_value(), matches);
    }

    // The term named is the first of the list that matches, as typed.
    void namesTheFirstMatchingTermAsTyped()
    {
        const WatchList watch({u"Fortinet"_qs, u" fortios "_qs, u"VPN"_qs});
        QCOMPARE(watch.match(u"FortiOS VPN bug"_qs), std::optional(u" fortios "_qs));
        // The list's order decides, not the text's.
        QCOMPARE(watch.match(u"VPN flaw in FortiOS"_qs), std::optional(u" fortios "_qs));
        const NewsItem item = story(u"New VPN flaw"_qs, u"Fortinet says..."_qs);
        QCOMPARE(watch.match(item), std::optional(u"Fortinet"_qs));
        QVERIFY(!WatchList().match(item));
    }
};

QTEST_GUILESS_MAIN(WatchListTest)
#include "tst_watchlist.moc"
