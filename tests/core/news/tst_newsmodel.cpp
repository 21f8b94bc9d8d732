#include "news/FeedSource.h"
#include "news/NewsItem.h"

#include "support/ManualClock.h"

#include <QJsonDocument>
#include <QSet>
#include <QtTest>

using namespace vardelle;

class NewsModelTest : public QObject {
    Q_OBJECT

private slots:
    void categoryRawValues_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<int>("expected"); // -1: no category
        QTest::newRow("cybersecurity") << u"cybersecurity"_qs << 0;
        QTest::newRow("threatIntel") << u"threatIntel"_qs << 1;
        QTest::newRow("malware") << u"malware"_qs << 2;
        QTest::newRow("wrong case") << u"threatintel"_qs << -1;
        QTest::newRow("words apart") << u"threat Intel"_qs << -1;
        QTest::newRow("upper") << u"MALWARE"_qs << -1;
        QTest::newRow("empty") << QString() << -1;
    }
    void categoryRawValues()
    {
        QFETCH(QString, raw);
        QFETCH(int, expected);
        const auto category = newsCategoryFromIdentifier(raw);
        QCOMPARE(category.has_value(), expected >= 0);
        if (category) {
            QCOMPARE(int(*category), expected);
            QCOMPARE(identifier(*category), raw);
        }
    }

    void categoryTexts()
    {
        QCOMPARE(spokenName(NewsCategory::cybersecurity), u"cyber security"_qs);
        QCOMPARE(spokenName(NewsCategory::threatIntel), u"threat intelligence"_qs);
        QCOMPARE(title(NewsCategory::threatIntel), u"ThreatIntel alerts"_qs);
        QSet<QString> symbols;
        for (NewsCategory category : allNewsCategories)
            symbols.insert(symbolName(category));
        QCOMPARE(symbols.size(), 3);
    }

    void catalogue()
    {
        const QList<FeedSource>& catalog = FeedSource::catalog();
        QCOMPARE(catalog.size(), 20);
        QVERIFY(&catalog == &FeedSource::catalog());

        QSet<QString> ids;
        const QRegularExpression idShape(u"^[a-z0-9-]+$"_qs);
        for (const FeedSource& source : catalog) {
            QVERIFY2(source.url.isValid() && source.url.scheme() == u"https" &&
                         !source.url.host().isEmpty(),
                     qPrintable(source.id));
            QVERIFY2(idShape.match(source.id).hasMatch(), qPrintable(source.id));
            ids.insert(source.id);
        }
        QCOMPARE(ids.size(), 20);

        QCOMPARE(catalog[2].url.path(), u"/TheHackersNews"_qs);
        QCOMPARE(catalog[7].url.path(), u"/feed"_qs);
        QCOMPARE(catalog[12].name, u"CISA News & Alerts"_qs);
        QCOMPARE(catalog[0].url.host(), catalog[10].url.host());
        QCOMPARE(catalog[0].url.host(), catalog[12].url.host());
    }

    void sourcesByCategory()
    {
        const QList<FeedSource>& catalog = FeedSource::catalog();
        QCOMPARE(FeedSource::sources(NewsCategory::malware), catalog.mid(14, 6));
        QCOMPARE(FeedSource::sources(NewsCategory::cybersecurity), catalog.mid(0, 7));
        QCOMPARE(FeedSource::sources(NewsCategory::threatIntel), catalog.mid(7, 7));
        QCOMPARE(FeedSource::find(u"talos"), &catalog[15]);
        QCOMPARE(FeedSource::find(u"nope"), nullptr);
    }

    void itemJsonRoundTrip()
    {
        const NewsItem item{
            u"id-1"_qs,         u"Title & more"_qs,        u"https://example.com/a"_qs,
            u"SecurityWeek"_qs, NewsCategory::threatIntel, test::utc(2024, 6, 4, 9, 15, 0, 123457),
            u"Summary…"_qs};
        const QJsonObject json = toJson(item);
        QCOMPARE(json.keys(), (QStringList{u"category"_qs, u"id"_qs, u"link"_qs, u"published"_qs,
                                           u"source"_qs, u"summary"_qs, u"title"_qs}));
        QCOMPARE(json.value(u"category").toString(), u"threatIntel"_qs);
        // 2024-06-04 09:15:00.123457 is 739185300.123457 seconds after 2001-01-01.
        QCOMPARE(json.value(u"published").toDouble(), 739185300.123457);

        // Through text, as it is stored.
        const QByteArray text = QJsonDocument(json).toJson();
        const auto back = newsItemFromJson(QJsonDocument::fromJson(text).object());
        QVERIFY(back.has_value());
        QCOMPARE(*back, item);
    }

    void itemJsonRejects_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QJsonValue>("value"); // Undefined: the key is removed
        QTest::newRow("no summary") << u"summary"_qs << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("no id") << u"id"_qs << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("unknown category") << u"category"_qs << QJsonValue(u"ransomware"_qs);
        QTest::newRow("category not a string") << u"category"_qs << QJsonValue(1);
        QTest::newRow("title not a string") << u"title"_qs << QJsonValue(42);
        QTest::newRow("date as text") << u"published"_qs << QJsonValue(u"2024-06-04"_qs);
        QTest::newRow("null link") << u"link"_qs << QJsonValue(QJsonValue::Null);
    }
    void itemJsonRejects()
    {
        QFETCH(QString, key);
        QFETCH(QJsonValue, value);
        QJsonObject json = toJson(NewsItem{
            u"a"_qs, u"b"_qs, {}, u"c"_qs, NewsCategory::malware, test::utc(2024, 1, 1), {}});
        QVERIFY(newsItemFromJson(json).has_value());
        if (value.isUndefined())
            json.remove(key);
        else
            json.insert(key, value);
        QVERIFY(!newsItemFromJson(json).has_value());
        QVERIFY(!newsItemFromJson(QJsonValue(u"not an object"_qs)).has_value());
    }

    void referenceSecondsRoundTrip_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::newRow("epoch") << 0.0;
        QTest::newRow("micro") << 739185300.000001;
        QTest::newRow("before 2001") << -31536000.5;
        QTest::newRow("far future") << 4102444800.999999;
    }
    void referenceSecondsRoundTrip()
    {
        QFETCH(double, seconds);
        const auto instant = instantFromReferenceSeconds(seconds);
        QVERIFY(instant.has_value());
        QCOMPARE(toReferenceSeconds(*instant), seconds);
        QCOMPARE(instantFromReferenceSeconds(toReferenceSeconds(*instant)), instant);
    }

    void referenceSecondsOutOfRange()
    {
        QVERIFY(!instantFromReferenceSeconds(std::numeric_limits<double>::quiet_NaN()));
        QVERIFY(!instantFromReferenceSeconds(std::numeric_limits<double>::infinity()));
        QVERIFY(!instantFromReferenceSeconds(1e300));
    }
};

QTEST_GUILESS_MAIN(NewsModelTest)
#include "tst_newsmodel.moc"
