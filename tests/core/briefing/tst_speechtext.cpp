#include "briefing/SpeechText.h"

#include <QStringList>
#include <QtConcurrent>
#include <QtTest>

using namespace vardelle;

namespace {
// Builds a string from UTF-32 code points, so that rows can hold any code point readably.
QString cps(std::initializer_list<char32_t> codePoints)
{
    QString text;
    for (char32_t c : codePoints)
        text += QString::fromUcs4(&c, 1);
    return text;
}
} // namespace

class SpeechTextTest : public QObject {
    Q_OBJECT

private slots:
    void cleanForSpeech_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");

        // The behaviours that matter most, each with its exact result.
        QTest::newRow("CVE") << u"CVE-2024-3400 exploited"_qs << u"C V E, 2024, 3400 exploited"_qs;
        QTest::newRow("cve en dashes")
            << u"cve\u20132023\u2013123456"_qs << u"C V E, 2023, 123456"_qs;
        QTest::newRow("CVE no first separator") << u"CVE2024-1234"_qs << u"C V E, 2024, 1234"_qs;
        QTest::newRow("CVE space after prefix") << u"CVE 2024-1234"_qs << u"CVE 2024-1234"_qs;
        QTest::newRow("CVE eight digits") << u"CVE-2024-12345678"_qs << u"CVE-2024-12345678"_qs;
        QTest::newRow("$3.5B") << u"$3.5B"_qs << u"3.5 billion dollars"_qs;
        QTest::newRow("$3.5 billion") << u"$3.5 billion"_qs << u"3.5 billion dollars"_qs;
        QTest::newRow("$2 Million") << u"$2 Million"_qs << u"2 Million dollars"_qs;
        QTest::newRow("$12M") << u"$12M"_qs << u"12 million dollars"_qs;
        QTest::newRow("$10k") << u"$10k"_qs << u"10 thousand dollars"_qs;
        QTest::newRow("$1.2T") << u"$1.2T"_qs << u"1.2 trillion dollars"_qs;
        QTest::newRow("$1,500") << u"$1,500"_qs << u"1,500 dollars"_qs;
        QTest::newRow("$5 to $10") << u"$5 to $10"_qs << u"5 dollars to 10 dollars"_qs;
        QTest::newRow("R&D") << u"R&D"_qs << u"R and D"_qs;
        QTest::newRow("OT / ICS") << u"Industrial Cyber (OT / ICS)"_qs
                                  << u"Industrial Cyber (OT ICS)"_qs;
        QTest::newRow("News & Alerts") << u"CISA News & Alerts"_qs << u"CISA News and Alerts"_qs;
        QTest::newRow("dash and ellipsis")
            << u"Patch Tuesday \u2014 what is new\u2026"_qs << u"Patch Tuesday, what is new"_qs;
        QTest::newRow("bold") << u"**Alert** from the SOC"_qs << u"Alert from the SOC"_qs;
        QTest::newRow("leading emoji")
            << cps({0x1F6A8}) + u" Ransomware gang arrested"_qs << u"Ransomware gang arrested"_qs;
        QTest::newRow("warning sign with selector")
            << u"\u26A0\uFE0F Patch now"_qs << u"Patch now"_qs;
        QTest::newRow("Wait...") << u"Wait..."_qs << u"Wait"_qs;
        QTest::newRow("...") << u"..."_qs << QString();
        QTest::newRow("Breaking:") << u"Breaking:"_qs << u"Breaking"_qs;
        QTest::newRow("Update -") << u"Update -"_qs << u"Update"_qs;
        QTest::newRow("Really?!") << u"Really?!"_qs << u"Really?"_qs;
        QTest::newRow("ends with link")
            << u"Read the advisory https://example.com/a?b=1"_qs << u"Read the advisory"_qs;
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("curly quotes pass") << u"\u201CIt\u2019s \u2018fine\u2019\u201D"_qs
                                           << u"\u201CIt\u2019s \u2018fine\u2019\u201D"_qs;

        // 1. Links
        QTest::newRow("1: link in the middle")
            << u"See https://x.io/a?b=c#d now"_qs << u"See now"_qs;
        QTest::newRow("1: http") << u"See http://x.io/ first"_qs << u"See first"_qs;
        QTest::newRow("1: link swallows punctuation") << u"At https://x.io/(a), b"_qs << u"At b"_qs;
        QTest::newRow("1: link ends at a line break") << u"A https://x.io\nB"_qs << u"A B"_qs;
        QTest::newRow("1: upper-case scheme stays") << u"HTTPS://X.IO z"_qs << u"HTTPS: X.IO z"_qs;
        QTest::newRow("1: other scheme stays") << u"ftp://host file"_qs << u"ftp: host file"_qs;
        QTest::newRow("1: only a link") << u"https://x.io"_qs << QString();

        // 2. Vulnerability identifiers
        QTest::newRow("2: two identifiers") << u"CVE-2024-1111 and cve-2023-22222"_qs
                                            << u"C V E, 2024, 1111 and C V E, 2023, 22222"_qs;
        QTest::newRow("2: mixed case prefix") << u"Cve-2024-1234"_qs << u"C V E, 2024, 1234"_qs;
        QTest::newRow("2: seven digits") << u"CVE-2024-1234567"_qs << u"C V E, 2024, 1234567"_qs;
        QTest::newRow("2: three digits") << u"CVE-2024-123"_qs << u"CVE-2024-123"_qs;
        QTest::newRow("2: word before prefix") << u"XCVE-2024-1234"_qs << u"XCVE-2024-1234"_qs;
        QTest::newRow("2: letter after number") << u"CVE-2024-1234x"_qs << u"CVE-2024-1234x"_qs;
        QTest::newRow("2: full stop after number")
            << u"Fix for CVE-2024-1234."_qs << u"Fix for C V E, 2024, 1234"_qs;
        QTest::newRow("2: em dash is no separator")
            << u"CVE\u20142024-1234"_qs << u"CVE, 2024-1234"_qs;
        QTest::newRow("2: any decimal digits")
            << u"CVE-\u0662\u0660\u0662\u0664-\u0661\u0662\u0663\u0664"_qs
            << u"C V E, \u0662\u0660\u0662\u0664, \u0661\u0662\u0663\u0664"_qs;

        // 3. Money with a scale word
        QTest::newRow("3: upper-case word")
            << u"$4 TRILLION fine"_qs << u"4 TRILLION dollars fine"_qs;
        QTest::newRow("3: thousand") << u"$7 thousand"_qs << u"7 thousand dollars"_qs;
        QTest::newRow("3: line break before word") << u"$5\nmillion"_qs << u"5 million dollars"_qs;
        QTest::newRow("3: word must end") << u"$3 billions"_qs << u"3 dollars billions"_qs;
        QTest::newRow("3: no space") << u"$3million"_qs << u"3 dollarsmillion"_qs;

        // 4 to 7. Money with a one-letter suffix
        QTest::newRow("4: lower t with space") << u"$2 t"_qs << u"2 trillion dollars"_qs;
        QTest::newRow("5: lower b") << u"$8b loss"_qs << u"8 billion dollars loss"_qs;
        QTest::newRow("6: space then M") << u"$7 M"_qs << u"7 million dollars"_qs;
        QTest::newRow("6: two spaces are too many") << u"$7  M"_qs << u"7 dollars M"_qs;
        QTest::newRow("7: upper K") << u"$25K bounty"_qs << u"25 thousand dollars bounty"_qs;
        QTest::newRow("5: bn is no suffix") << u"$3.5bn"_qs << u"3.5 dollarsbn"_qs;

        // 8. Other dollar amounts
        QTest::newRow("8: groups") << u"$1.500.000,25 paid"_qs << u"1.500.000,25 dollars paid"_qs;
        QTest::newRow("8: trailing comma stays outside")
            << u"$10, then $20"_qs << u"10 dollars, then 20 dollars"_qs;
        QTest::newRow("8: lone dollar sign") << u"costs $ 5"_qs << u"costs $ 5"_qs;

        // 9. Markup characters
        QTest::newRow("9: each markup character") << u"a_b`c#d|e*f"_qs << u"a b c d e f"_qs;
        QTest::newRow("9: hashtag") << u"#ransomware hits C#"_qs << u"ransomware hits C"_qs;

        // 10. Symbols and emoji
        QTest::newRow("10: arrow") << u"a\u2192b"_qs << u"ab"_qs;
        QTest::newRow("10: range ends") << u"a\u218F\u2190\u2BFF\u2C00b"_qs << u"a\u218F\u2C00b"_qs;
        QTest::newRow("10: emoji-only property passes")
            << u"\u00A9 2024 \u2122 #1"_qs << u"\u00A9 2024 \u2122 1"_qs;
        QTest::newRow("10: joiner stays")
            << cps({0x1F468, 0x200D, 0x1F4BB}) + u" hacker"_qs << u"\u200D hacker"_qs;
        QTest::newRow("10: flag and skin tone")
            << cps({'U', 'S', 0x1F1FA, 0x1F1F8, ' ', 0x1F44D, 0x1F3FD, ' ', 'o', 'k'})
            << u"US ok"_qs;
        QTest::newRow("10: keycap keeps its mark") << u"Top 1\uFE0F\u20E3"_qs << u"Top 1\u20E3"_qs;

        // 11 to 16. Plain replacements
        QTest::newRow("11: ampersands") << u"A&&B"_qs << u"A and and B"_qs;
        QTest::newRow("12: path") << u"and/or"_qs << u"and or"_qs;
        QTest::newRow("14: en dash range") << u"2019\u20132024 data"_qs << u"2019, 2024 data"_qs;
        QTest::newRow("15: ellipsis mid-text") << u"So\u2026 it begins"_qs << u"So. it begins"_qs;
        QTest::newRow("16: straight quotes")
            << u"He said \"hi\" twice"_qs << u"He said hi twice"_qs;

        // 17. White space
        QTest::newRow("17: tabs and line breaks") << u"a \t\r\n b"_qs << u"a b"_qs;
        QTest::newRow("17: no-break and thin space") << u"a\u00A0b\u2009c"_qs << u"a b c"_qs;
        QTest::newRow("17: line separator and NEL") << u"a\u2028b\u0085c"_qs << u"a b c"_qs;
        QTest::newRow("17: zero-width space is no space") << u"a\u200Bb"_qs << u"a\u200Bb"_qs;

        // 18. Space before punctuation
        QTest::newRow("18: before comma and mark") << u"Hello , world !"_qs << u"Hello, world"_qs;
        QTest::newRow("18: before question mark") << u"What ?"_qs << u"What"_qs;
        QTest::newRow("18: before an exclamation mark alone")
            << u"Patch now ! Then reboot"_qs << u"Patch now! Then reboot"_qs;
        QTest::newRow("18: not before a colon") << u"Note : fixed"_qs << u"Note : fixed"_qs;

        // 19. Doubled punctuation
        QTest::newRow("19: commas") << u"a,,, b"_qs << u"a, b"_qs;
        QTest::newRow("19: after 18") << u"a , , b"_qs << u"a, b"_qs;
        QTest::newRow("19: mixed run stays") << u"a.,b"_qs << u"a.,b"_qs;
        QTest::newRow("19: question marks are not folded") << u"Why??"_qs << u"Why?"_qs;

        // 20 to 23. The ends
        QTest::newRow("20: outer white space") << u"\u3000 Hi \u00A0"_qs << u"Hi"_qs;
        QTest::newRow("21: several separators") << u"end,;:-"_qs << u"end"_qs;
        QTest::newRow("21: space stops the loop") << u"Breaking: -"_qs << u"Breaking:"_qs;
        QTest::newRow("21: before 22") << u"x -."_qs << u"x -"_qs;
        QTest::newRow("22: once only") << u"Done.!"_qs << u"Done."_qs;
        QTest::newRow("22: lone mark") << u"?"_qs << QString();
        QTest::newRow("21: stops at a space, 23 trims it") << u", ; -"_qs << u", ;"_qs;
        QTest::newRow("21: after a combining mark") << u"Cafe\u0301,"_qs << u"Cafe\u0301"_qs;
        QTest::newRow("21: comma with combining mark") << u"Odd,\u0301"_qs << u"Odd,\u0301"_qs;
        QTest::newRow("22: mark with combining mark") << u"Odd?\u0308"_qs << u"Odd?\u0308"_qs;
        QTest::newRow("22: mark then joiner") << u"Odd!\u200D"_qs << u"Odd!\u200D"_qs;
        QTest::newRow("21: prepended character") << u"Odd\u0600,"_qs << u"Odd\u0600,"_qs;
        QTest::newRow("21: after non-ASCII") << u"\u00DCber-"_qs << u"\u00DCber"_qs;
        QTest::newRow("21: Greek question mark is a semicolon") << u"Ti\u037E"_qs << u"Ti"_qs;
        QTest::newRow("22: after an emoji dropped") << cps({'G', 'o', '!', 0x1F389}) << u"Go"_qs;
        QTest::newRow("18: ideographic space before mark") << u"Odd\u3000."_qs << u"Odd"_qs;
        QTest::newRow("23: white space left by 21") << u"Odd, -"_qs << u"Odd,"_qs;
    }
    void cleanForSpeech()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(vardelle::cleanForSpeech(input), expected);
    }

    void unpairedSurrogatesPass()
    {
        const QString text = u"a"_qs + QChar(0xD83D) + u" b"_qs + QChar(0xDC00);
        QCOMPARE(vardelle::cleanForSpeech(text), text);
        QCOMPARE(vardelle::stripSymbols(text), text);
    }

    void stripSymbols_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("nothing to drop") << u"Plain *text* & more"_qs << u"Plain *text* & more"_qs;
        QTest::newRow("no space left behind") << cps({'a', 0x1F6A8, 'b'}) << u"ab"_qs;
        QTest::newRow("emoji presentation") << cps({0x231A, 0x1F600, 0x1F9E8}) << QString();
        QTest::newRow("emoji property only") << u"#*0123456789\u00A9\u00AE\u2122\u2139"_qs
                                             << u"#*0123456789\u00A9\u00AE\u2122\u2139"_qs;
        QTest::newRow("blocks")
            << u"\u2190\u2200\u2300\u2460\u2500\u25A0\u2600\u2700\u2800\u2B50"_qs << QString();
        QTest::newRow("variation selectors") << u"x\uFE00\uFE0E\uFE0Fy\uFE10"_qs << u"xy\uFE10"_qs;
        QTest::newRow("text-style pictograph outside the blocks")
            << cps({0x1F321}) << cps({0x1F321}); // thermometer: Emoji, not Emoji_Presentation
        QTest::newRow("combining marks and joiners stay")
            << u"e\u0301\u200D\u20E3"_qs << u"e\u0301\u200D\u20E3"_qs;
        QTest::newRow("white space untouched") << cps({' ', 0x1F6A8, ' '}) << u"  "_qs;
    }
    void stripSymbols()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(vardelle::stripSymbols(input), expected);
    }

    void unchangedTextIsShared()
    {
        const QString title = u"Plain headline without anything to clean"_qs;
        const QString cleaned = vardelle::cleanForSpeech(title);
        QCOMPARE(cleaned, title);
        QVERIFY(cleaned.isSharedWith(title));
    }

    void longInput()
    {
        QString text;
        for (int i = 0; i < 20000; ++i)
            text += u"$5M & R/D \u2014 CVE-2024-1234 https://x.io/a  "_qs;
        const QString cleaned = vardelle::cleanForSpeech(text);
        QVERIFY(cleaned.startsWith(u"5 million dollars and R D, C V E, 2024, 1234 5 million"_qs));
        QVERIFY(cleaned.endsWith(u"C V E, 2024, 1234"_qs));
    }

    void sameResultOnManyThreads()
    {
        QStringList inputs;
        for (int i = 0; i < 2000; ++i)
            inputs << u"**%1** CVE-2024-%2 costs $%1M \u2014 see https://x.io/%1 ,, ok?!"_qs.arg(i)
                          .arg(1000 + i)
                   << cps({0x1F6A8, ' ', 'O', 'd', 'd', ',', 0x0301}) << u"Tab\u0600,"_qs;
        QStringList expected;
        for (const QString& input : inputs)
            expected << vardelle::cleanForSpeech(input);
        QCOMPARE(expected.first(), u"0 C V E, 2024, 1000 costs 0 million dollars, see, ok?"_qs);
        const QStringList parallel = QtConcurrent::blockingMapped(
            inputs, [](const QString& input) { return vardelle::cleanForSpeech(input); });
        QCOMPARE(parallel, expected);
    }
};

QTEST_GUILESS_MAIN(SpeechTextTest)
#include "tst_speechtext.moc"
