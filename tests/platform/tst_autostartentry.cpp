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

        QCOMPARE(entry.status(), AutostartStatus::disabled);
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
        QCOMPARE(entry.status(), AutostartStatus::enabled);
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
        QTest::addColumn<AutostartStatus>("status");
        QTest::addColumn<bool>("kept"); // by switching on

        const auto entry = [](const QByteArray& rest) {
            return "[Desktop Entry]\nType=Application\nName=Vardelle\n" + rest + "\n";
        };
        QTest::newRow("ours") << entry("Exec=\"<program>\"") << AutostartStatus::enabled << true;
        QTest::newRow("unquoted, with arguments")
            << entry("Exec=<program> --quiet %U") << AutostartStatus::enabled << true;
        QTest::newRow("another program on the PATH")
            << entry("Exec=sh -c true") << AutostartStatus::enabled << false;
        QTest::newRow("switched off in the desktop's settings")
            << entry("Exec=\"<program>\"\nX-GNOME-Autostart-enabled=false")
            << AutostartStatus::disabled << false;
        QTest::newRow("hidden") << entry("Exec=\"<program>\"\nHidden=true")
                                << AutostartStatus::disabled << false;
        QTest::newRow("program moved away") << entry("Exec=\"/nonexistent/old place/vardelle\"")
                                            << AutostartStatus::programMissing << false;
        QTest::newRow("program name not on the PATH")
            << entry("Exec=vardelle-not-installed-anywhere") << AutostartStatus::programMissing
            << false;
        QTest::newRow("no Exec key")
            << entry("Icon=vardelle") << AutostartStatus::programMissing << false;
        QTest::newRow("keys of another group only")
            << QByteArray("[Desktop Action x]\nExec=\"<program>\"\n")
            << AutostartStatus::programMissing << false;
    }
    void status()
    {
        QFETCH(QByteArray, text);
        QFETCH(AutostartStatus, status);
        QFETCH(bool, kept);
        QTemporaryDir dir;
        const QString program = makeProgram(dir.filePath(u"vardelle"_qs));
        AutostartEntry entry(dir.path(), program);
        test::writeFile(entry.filePath(), text.replace("<program>", program.toUtf8()));

        QCOMPARE(entry.status(), status);

        // Switching on leaves an entry that starts this program: the one there when it already
        // does, else a new one.
        QCOMPARE(entry.setEnabled(true), std::nullopt);
        QCOMPARE(entry.status(), AutostartStatus::enabled);
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
        QCOMPARE(entry.status(), AutostartStatus::disabled);
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
        QCOMPARE(entry.status(), AutostartStatus::disabled);
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
        // In the words of the desktop's autostart, the folder as the user knows it.
        QTest::newRow("off") << 0 << u"Start at login: off"_qs;
        QTest::newRow("on") << 1 << u"Start at login: on, in ~/.config/autostart"_qs;
        QTest::newRow("moved") << 2
                               << u"Start at login: not found — the program has moved; switch "
                                  "this off and on again"_qs;
        QTest::newRow("other") << 3 << u"Start at login: unknown"_qs;
        QTest::newRow("negative") << -1 << u"Start at login: unknown"_qs;
    }
    void statusText()
    {
        QFETCH(int, status);
        QFETCH(QString, text);
        const AutostartEntry entry(QDir::homePath() + u"/.config"_qs, u"/usr/bin/vardelle"_qs);
        QCOMPARE(entry.statusText(static_cast<AutostartStatus>(status)), text);
    }
};

QTEST_GUILESS_MAIN(AutostartEntryTest)
#include "tst_autostartentry.moc"
