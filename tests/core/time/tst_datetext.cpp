#include "time/DateText.h"

#include "support/ManualClock.h"

#include <QtTest>

#include <ctime>

using namespace vardelle;
using test::utc;

class DateTextTest : public QObject {
    Q_OBJECT

private slots:
    void abbreviatedDateTime_data()
    {
        QTest::addColumn<QByteArray>("locale");
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("text");

        QTest::newRow("C is English")
            << QByteArray("C.UTF-8") << QByteArray("UTC") << u"Dec 10, 2026, 12:00\u202FPM"_qs;
        QTest::newRow("German") << QByteArray("de_DE.UTF-8") << QByteArray("UTC")
                                << u"10.12.2026, 12:00"_qs;
        QTest::newRow("local zone, across midnight")
            << QByteArray("en_GB.UTF-8") << QByteArray("Pacific/Auckland")
            << u"11 Dec 2026, 01:00"_qs;
        QTest::newRow("not a locale name")
            << QByteArray("??") << QByteArray("UTC") << u"Dec 10, 2026, 12:00\u202FPM"_qs;
    }
    void abbreviatedDateTime()
    {
        QFETCH(QByteArray, locale);
        QFETCH(QByteArray, zone);
        QFETCH(QString, text);
        qputenv("LC_ALL", locale);
        qputenv("TZ", zone);
        tzset();
        QCOMPARE(vardelle::abbreviatedDateTime(utc(2026, 12, 10, 12, 0)), text);
    }
};

QTEST_GUILESS_MAIN(DateTextTest)
#include "tst_datetext.moc"
