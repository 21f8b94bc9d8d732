#include "settings/PreferenceFile.h"

#include "support/FileSizeLimit.h"
#include "support/TestData.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <QTemporaryDir>
#include <QtTest>

#include <limits>
#include <unistd.h>

using namespace vardelle;
using namespace Qt::StringLiterals;

namespace {

using test::readFile;
using test::writeFile;

QJsonObject readObject(const QString& path)
{
    return QJsonDocument::fromJson(readFile(path)).object();
}

using test::FileSizeLimit;

} // namespace

class PreferenceFileTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    std::optional<QTemporaryDir> m_dir;
    QString path() const { return m_dir->filePath(u"Vardelle/preferences.json"_qs); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(u"config"_qs)));
    }

    void init()
    {
        m_dir.emplace();
        QVERIFY(m_dir->isValid());
    }

    void defaultPathFollowsXdg()
    {
        QCOMPARE(PreferenceFile::defaultPath(),
                 m_home.filePath(u"config/Vardelle/preferences.json"_qs));

        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(PreferenceFile::defaultPath(),
                 m_home.filePath(u".config/Vardelle/preferences.json"_qs));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(u"config"_qs)));
    }

    // Each stored JSON value against every typed reader; an invalid QVariant means "no value".
    void readingRules_data()
    {
        QTest::addColumn<QByteArray>("json"); // empty: the key is missing
        QTest::addColumn<QVariant>("integer");
        QTest::addColumn<QVariant>("number");
        QTest::addColumn<QVariant>("boolean");
        QTest::addColumn<QVariant>("string");
        QTest::addColumn<QVariant>("array");
        const QVariant none;
        const auto i = [](qint64 v) { return QVariant::fromValue(v); };
        const auto d = [](double v) { return QVariant(v); };
        const auto s = [](const char16_t* v) { return QVariant(QString::fromUtf16(v)); };

        QTest::newRow("missing") << QByteArray() << none << none << none << none << none;
        QTest::newRow("whole") << "20"_ba << i(20) << d(20) << none << none << none;
        QTest::newRow("whole, decimal form") << "20.0"_ba << i(20) << d(20) << none << none << none;
        QTest::newRow("whole, exponent") << "1e2"_ba << i(100) << d(100) << none << none << none;
        QTest::newRow("negative") << "-5"_ba << i(-5) << d(-5) << none << none << none;
        QTest::newRow("fraction") << "20.5"_ba << none << d(20.5) << none << none << none;
        QTest::newRow("largest integer")
            << "9223372036854775807"_ba << i(std::numeric_limits<qint64>::max())
            << d(9223372036854775807.0) << none << none << none;
        QTest::newRow("past 64 bits")
            << "9223372036854775808"_ba << none << d(9223372036854775808.0) << none << none << none;
        QTest::newRow("huge") << "1e300"_ba << none << d(1e300) << none << none << none;
        QTest::newRow("true") << "true"_ba << none << none << QVariant(true) << none << none;
        QTest::newRow("false") << "false"_ba << none << none << QVariant(false) << none << none;
        QTest::newRow("zero is no Boolean") << "0"_ba << i(0) << d(0) << none << none << none;
        QTest::newRow("text of a number")
            << "\"20\""_ba << none << none << none << s(u"20") << none;
        QTest::newRow("text true") << "\"true\""_ba << none << none << none << s(u"true") << none;
        QTest::newRow("empty text") << "\"\""_ba << none << none << none << s(u"") << none;
        QTest::newRow("null") << "null"_ba << none << none << none << none << none;
        QTest::newRow("strings") << "[\"a\", \"b\"]"_ba << none << none << none << none
                                 << QVariant(QStringList{u"a"_qs, u"b"_qs});
        QTest::newRow("empty array")
            << "[]"_ba << none << none << none << none << QVariant(QStringList());
        QTest::newRow("array with a number")
            << "[\"a\", 7]"_ba << none << none << none << none << none;
        QTest::newRow("object") << "{\"a\": 1}"_ba << none << none << none << none << none;
    }
    void readingRules()
    {
        QFETCH(QByteArray, json);
        QFETCH(QVariant, integer);
        QFETCH(QVariant, number);
        QFETCH(QVariant, boolean);
        QFETCH(QVariant, string);
        QFETCH(QVariant, array);
        writeFile(path(), json.isEmpty() ? "{}"_ba : "{\"k\": " + json + "}");

        const PreferenceFile file(path());
        QCOMPARE(file.contains(u"k"), !json.isEmpty());

        const auto check = [](const auto& got, const QVariant& expected, const char* what) {
            QVERIFY2(got.has_value() == expected.isValid(), what);
            if (got)
                QCOMPARE(QVariant::fromValue(*got), expected);
        };
        check(file.integer(u"k"), integer, "integer");
        check(file.number(u"k"), number, "number");
        check(file.boolean(u"k"), boolean, "boolean");
        check(file.string(u"k"), string, "string");
        check(file.stringArray(u"k"), array, "string array");
    }

    void missingFileGivesNothingAndCreatesNothing()
    {
        const PreferenceFile file(path());
        QVERIFY(!file.contains(u"maxHeadlines"));
        QVERIFY(!QFileInfo::exists(QFileInfo(path()).absolutePath()));
    }

    void writeCreatesFolderAndKeepsOtherKeys()
    {
        {
            PreferenceFile file(path());
            QVERIFY(file.setString(u"voice", u"en"_qs));
            QVERIFY(file.setInteger(u"count", 7));
        }
        // A key written by someone else before this object read the file survives its writes.
        QJsonObject object = readObject(path());
        object.insert(u"foreign"_qs, u"kept"_qs);
        writeFile(path(), QJsonDocument(object).toJson());

        PreferenceFile file(path());
        QVERIFY(file.setNumberPair(u"x", 10.5, u"y", -3));
        QVERIFY(file.remove(u"count"));

        const QJsonObject stored = readObject(path());
        QCOMPARE(stored.keys(), (QStringList{u"foreign"_qs, u"voice"_qs, u"x"_qs, u"y"_qs}));
        QCOMPARE(stored.value(u"x").toDouble(), 10.5);
        QCOMPARE(stored.value(u"y").toDouble(), -3.0);
        QCOMPARE(PreferenceFile(path()).string(u"foreign"), u"kept"_qs);
        QCOMPARE(QDir(QFileInfo(path()).absolutePath()).entryList(QDir::Files),
                 (QStringList{u"preferences.json"_qs, u"preferences.json.lock"_qs}));
    }

    void unreadableFileIsKeptAside_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not JSON") << "maxHeadlines=20"_ba;
        QTest::newRow("array") << "[1, 2]"_ba;
        QTest::newRow("string") << "\"text\""_ba;
        QTest::newRow("cut short") << "{\"maxHeadlines\": 20"_ba;
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("binary") << QByteArray("\xff\xfe{\0}", 5);
    }
    void unreadableFileIsKeptAside()
    {
        QFETCH(QByteArray, content);
        writeFile(path(), content);
        writeFile(path() + u".corrupt"_qs, "an older copy"_ba);

        PreferenceFile file(path());
        QVERIFY(!file.contains(u"maxHeadlines"));
        QCOMPARE(readFile(path()), content); // reading changes nothing

        QVERIFY(file.setInteger(u"maxHeadlines", 20));
        QCOMPARE(readFile(file.corruptPath()), content);
        QCOMPARE(readObject(path()), (QJsonObject{{u"maxHeadlines"_qs, 20}}));

        // Only the file that was there at the start is moved aside.
        QVERIFY(file.setInteger(u"quietMinutes", 5));
        QCOMPARE(readFile(file.corruptPath()), content);
        QCOMPARE(readObject(path()).size(), 2);

        // Deleted by the user meanwhile, the file is written anew with all this process holds,
        // and the copy set aside stays.
        QVERIFY(QFile::remove(path()));
        QVERIFY(file.setInteger(u"lookbackHours", 48));
        QCOMPARE(readObject(path()), (QJsonObject{{u"maxHeadlines"_qs, 20},
                                                  {u"quietMinutes"_qs, 5},
                                                  {u"lookbackHours"_qs, 48}}));
        QCOMPARE(readFile(file.corruptPath()), content);

        // Unreadable, then deleted before the first write: nothing to set aside, and the write
        // succeeds.
        writeFile(path(), content);
        PreferenceFile later(path());
        QVERIFY(QFile::remove(path()));
        QVERIFY(later.setInteger(u"maxHeadlines", 7));
        QCOMPARE(readObject(path()), (QJsonObject{{u"maxHeadlines"_qs, 7}}));
    }

    void keepingAsideFailsWritesNothing()
    {
        writeFile(path(), "garbage"_ba);
        writeFile(path() + u".corrupt/blocker"_qs, "x"_ba); // a non-empty folder in the way

        PreferenceFile file(path());
        QVERIFY(!file.setInteger(u"maxHeadlines", 20));
        QCOMPARE(readFile(path()), "garbage"_ba);
    }

    void failedWriteReportsFailure_data()
    {
        QTest::addColumn<QString>("where"); // relative to the temporary folder
        QTest::addColumn<bool>("readOnlyFolder");
        QTest::newRow("folder under a file") << u"file/Vardelle/preferences.json"_qs << false;
        QTest::newRow("read-only folder") << u"ro/preferences.json"_qs << true;
        QTest::newRow("no path") << QString() << false;
    }
    void failedWriteReportsFailure()
    {
        QFETCH(QString, where);
        QFETCH(bool, readOnlyFolder);
        const QString target = where.isEmpty() ? QString() : m_dir->filePath(where);
        writeFile(m_dir->filePath(u"file"_qs), "a file, not a folder"_ba);
        if (readOnlyFolder) {
            if (geteuid() == 0)
                QSKIP("permissions do not stop root");
            writeFile(target, "{\"maxHeadlines\": 3}"_ba);
            QVERIFY(QFile::setPermissions(QFileInfo(target).absolutePath(),
                                          QFile::ReadOwner | QFile::ExeOwner));
        }

        PreferenceFile file(target);
        QVERIFY(!file.setInteger(u"maxHeadlines", 20));
        QVERIFY(!file.setNumberPair(u"x", 1, u"y", 2));
        QCOMPARE(file.integer(u"maxHeadlines"), 20); // kept in memory all the same
        if (readOnlyFolder) {
            QCOMPARE(readFile(target), "{\"maxHeadlines\": 3}"_ba);
            QFile::setPermissions(QFileInfo(target).absolutePath(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }

    void writeCutShortKeepsPreviousFile()
    {
        const QByteArray previous = "{\"voiceIdentifier\": \"before\"}"_ba;
        writeFile(path(), previous);
        PreferenceFile file(path());
        {
            FileSizeLimit limit(64);
            if (!limit.active())
                QSKIP("cannot lower the file size limit");
            QVERIFY(!file.setString(u"voiceIdentifier", QString(4096, u'v')));
        }
        QCOMPARE(readFile(path()), previous);
        QCOMPARE(QDir(QFileInfo(path()).absolutePath()).entryList(QDir::Files),
                 (QStringList{u"preferences.json"_qs, u"preferences.json.lock"_qs}));

        // Once writes work again, the value kept in memory reaches the file.
        QVERIFY(file.setInteger(u"maxHeadlines", 20));
        QCOMPARE(PreferenceFile(path()).string(u"voiceIdentifier"), QString(4096, u'v'));
    }
};

QTEST_GUILESS_MAIN(PreferenceFileTest)
#include "tst_preferencefile.moc"
