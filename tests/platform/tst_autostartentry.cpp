#include "linux/desktop/AutostartEntry.h"
#include "support/TestData.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace vardelle;

namespace {

// A program that exists: an empty file at `path`.
QString makeProgram(const QString& path)
{
    test::writeFile(path, "#!/bin/sh\n");
    return path;
}

QByteArray execLine(const QByteArray& entry)
{
    for (const QByteArray& line : entry.split('\n')) {
        if (line.startsWith("Exec="))
            return line.mid(5);
    }
    return {};
}

ino_t inode(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

} // namespace

class AutostartEntryTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        test::useUserFolders(m_home.path());
    }

    void defaultFolderIsTheUsersConfiguration()
    {
        AutostartEntry entry;
        QCOMPARE(entry.filePath(),
                 m_home.filePath(u"XDG_CONFIG_HOME/autostart/vardelle.desktop"_qs));
    }

    // The program path in the Exec key survives every character a shell or the launcher would
    // otherwise read, and reads back as the same program.
    void enableWritesTheEntry_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("exec");

        QTest::newRow("plain") << u"vardelle"_qs << QByteArray("\"<dir>/vardelle\"");
        QTest::newRow("space") << u"my apps/vardelle"_qs
                               << QByteArray("\"<dir>/my apps/vardelle\"");
        QTest::newRow("dollar, quote, backtick")
            << u"a$b\"c`d"_qs << QByteArray("\"<dir>/a\\\\$b\\\\\"c\\\\`d\"");
        QTest::newRow("backslash") << u"a\\b"_qs << QByteArray("\"<dir>/a\\\\\\\\b\"");
        QTest::newRow("percent, not a field code") << u"100%f"_qs << QByteArray("\"<dir>/100%%f\"");
        QTest::newRow("non-ASCII")
            << u"Programme/vardellé"_qs << QByteArray("\"<dir>/Programme/vardellé\"");
    }
    void enableWritesTheEntry()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, exec);
        QTemporaryDir dir;
        const QString program = makeProgram(dir.filePath(u"bin/"_qs + name));
        AutostartEntry entry(dir.filePath(u"config"_qs), program);

        QCOMPARE(entry.status(), LoginItemStatus::disabled);
        QCOMPARE(entry.setEnabled(true), std::nullopt);

        const QByteArray text =
            test::readFile(dir.filePath(u"config/autostart/vardelle.desktop"_qs));
        QCOMPARE(execLine(text), exec.replace("<dir>", dir.filePath(u"bin"_qs).toUtf8()));
        QVERIFY(text.startsWith("[Desktop Entry]\n"));
        for (const char* line :
             {"Type=Application", "Name=Vardelle", "Icon=vardelle", "Terminal=false",
              "NoDisplay=false", "X-GNOME-Autostart-enabled=true",
              "X-GNOME-Autostart-Phase=Applications", "X-KDE-autostart-after=panel"})
            QVERIFY2(text.split('\n').contains(line), line);
        QCOMPARE(entry.status(), LoginItemStatus::enabled);
    }

    void enablingTwiceLeavesTheEntryAlone()
    {
        QTemporaryDir dir;
        AutostartEntry entry(dir.path(), makeProgram(dir.filePath(u"vardelle"_qs)));
        QCOMPARE(entry.setEnabled(true), std::nullopt);
        const ino_t written = inode(entry.filePath());
        QVERIFY(written != 0);
        QCOMPARE(entry.setEnabled(true), std::nullopt);
        QCOMPARE(inode(entry.filePath()), written);
    }

    // Entries written by hand, by the desktop's own startup settings or by an older copy.
    void status_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<LoginItemStatus>("status");
        QTest::addColumn<bool>("kept"); // by switching on

        const auto entry = [](const QByteArray& rest) {
            return "[Desktop Entry]\nType=Application\nName=Vardelle\n" + rest + "\n";
        };
        QTest::newRow("ours") << entry("Exec=\"<program>\"") << LoginItemStatus::enabled << true;
        QTest::newRow("unquoted, with arguments")
            << entry("Exec=<program> --quiet %U") << LoginItemStatus::enabled << true;
        QTest::newRow("another program on the PATH")
            << entry("Exec=sh -c true") << LoginItemStatus::enabled << false;
        QTest::newRow("switched off in the desktop's settings")
            << entry("Exec=\"<program>\"\nX-GNOME-Autostart-enabled=false")
            << LoginItemStatus::disabled << false;
        QTest::newRow("hidden") << entry("Exec=\"<program>\"\nHidden=true")
                                << LoginItemStatus::disabled << false;
        QTest::newRow("program moved away") << entry("Exec=\"/nonexistent/old place/vardelle\"")
                                            << LoginItemStatus::programMissing << false;
        QTest::newRow("program name not on the PATH")
            << entry("Exec=vardelle-not-installed-anywhere") << LoginItemStatus::programMissing
            << false;
        QTest::newRow("no Exec key")
            << entry("Icon=vardelle") << LoginItemStatus::programMissing << false;
        QTest::newRow("keys of another group only")
            << QByteArray("[Desktop Action x]\nExec=\"<program>\"\n")
            << LoginItemStatus::programMissing << false;
    }
    void status()
    {
        QFETCH(QByteArray, text);
        QFETCH(LoginItemStatus, status);
        QFETCH(bool, kept);
        QTemporaryDir dir;
        const QString program = makeProgram(dir.filePath(u"vardelle"_qs));
        AutostartEntry entry(dir.path(), program);
        test::writeFile(entry.filePath(), text.replace("<program>", program.toUtf8()));

        QCOMPARE(entry.status(), status);

        // Switching on leaves an entry that starts this program: the one there when it already
        // does, else a new one.
        QCOMPARE(entry.setEnabled(true), std::nullopt);
        QCOMPARE(entry.status(), LoginItemStatus::enabled);
        QCOMPARE(test::readFile(entry.filePath()),
                 kept ? text : AutostartEntry::entryText(program));
    }

    void disableRemovesTheEntry()
    {
        QTemporaryDir dir;
        AutostartEntry entry(dir.path(), makeProgram(dir.filePath(u"vardelle"_qs)));
        QCOMPARE(entry.setEnabled(true), std::nullopt);
        QCOMPARE(entry.setEnabled(false), std::nullopt);
        QVERIFY(!QFile::exists(entry.filePath()));
        QCOMPARE(entry.status(), LoginItemStatus::disabled);
        // Nothing there: still done.
        QCOMPARE(entry.setEnabled(false), std::nullopt);
    }

    void unwritableFolderIsReported()
    {
        QTemporaryDir dir;
        AutostartEntry entry(dir.path(), makeProgram(dir.filePath(u"vardelle"_qs)));
        // A plain file where the autostart folder must go.
        test::writeFile(dir.filePath(u"autostart"_qs), "not a folder");

        const std::optional<QString> error = entry.setEnabled(true);
        QVERIFY(error);
        QVERIFY2(error->endsWith(u" Start at login needs a writable ~/.config/autostart folder."),
                 qPrintable(*error));
        QVERIFY2(error->contains(u"Not a directory"), qPrintable(*error));
        QCOMPARE(test::readFile(dir.filePath(u"autostart"_qs)), QByteArray("not a folder"));
        QCOMPARE(entry.status(), LoginItemStatus::disabled);
    }

    void removalThatFailsIsReported()
    {
        QTemporaryDir dir;
        AutostartEntry entry(dir.path(), makeProgram(dir.filePath(u"vardelle"_qs)));
        // A non-empty folder where the entry's file is: it cannot be removed as a file.
        test::writeFile(entry.filePath() + u"/inside"_qs, "x");

        const std::optional<QString> error = entry.setEnabled(false);
        QVERIFY(error);
        QVERIFY(error->startsWith(u"Could not remove"));
        QVERIFY(error->endsWith(AutostartEntry::hint()));
        QVERIFY(QFile::exists(entry.filePath() + u"/inside"_qs));
    }

    void statusText_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << u"Not enabled"_qs;
        QTest::newRow("1") << 1 << u"Enabled"_qs;
        QTest::newRow("2") << 2
                           << u"Not found — the program has moved; switch this off and on again"_qs;
        QTest::newRow("other") << 3 << u"Unknown"_qs;
        QTest::newRow("negative") << -1 << u"Unknown"_qs;
    }
    void statusText()
    {
        QFETCH(int, status);
        QFETCH(QString, text);
        QCOMPARE(AutostartEntry::statusText(status), text);
    }
};

QTEST_GUILESS_MAIN(AutostartEntryTest)
#include "tst_autostartentry.moc"
