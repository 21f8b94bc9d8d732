#include "files/UserFile.h"

#include "support/TestData.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

using namespace vardelle;

// Files the user names: what is at the path keeps its kind, whatever it is.
class UserFileTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    static QByteArray name(const QString& path) { return QFile::encodeName(path); }

    static mode_t fileKind(const QString& path)
    {
        struct stat status {};
        return ::lstat(name(path).constData(), &status) == 0 ? status.st_mode & S_IFMT : 0;
    }

    // Everything a reader gets from the pipe at `fifo` until the writer closes it.
    static QByteArray drain(const QString& fifo)
    {
        const int fd = ::open(name(fifo).constData(), O_RDONLY);
        QByteArray got;
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
            got.append(buffer, n);
        ::close(fd);
        return got;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void writeKeepsWhatIsThere_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a new file") << u"new"_qs;
        QTest::newRow("a regular file, its permissions kept") << u"regular"_qs;
        QTest::newRow("a link to a file: the file is written, the link stays") << u"link"_qs;
        QTest::newRow("a link to nothing yet: its target is made") << u"dangling"_qs;
        QTest::newRow("a pipe with a reader") << u"fifo"_qs;
        QTest::newRow("a character device") << u"device"_qs;
    }
    void writeKeepsWhatIsThere()
    {
        QFETCH(QString, kind);
        const QByteArray document = "<opml/>\n";
        const QString target = m_dir.filePath(kind);
        QString written = target;
        if (kind == u"regular") {
            test::writeFile(target, "old contents, longer than the new");
            QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner));
        } else if (kind == u"link" || kind == u"dangling") {
            written = target + u".target"_qs;
            if (kind == u"link")
                test::writeFile(written, "old");
            QVERIFY(QFile::link(written, target));
        } else if (kind == u"fifo") {
            QCOMPARE(::mkfifo(name(target).constData(), 0600), 0);
            QByteArray got;
            std::thread reader([&] { got = drain(target); });
            QCOMPARE(writeUserFile(target, document), std::nullopt);
            reader.join();
            QCOMPARE(got, document);
            QCOMPARE(fileKind(target), mode_t(S_IFIFO));
            return;
        } else if (kind == u"device") {
            // A node of its own, like /dev/null, so that a fault replaces only this one.
            if (::mknod(name(target).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
                QSKIP("making a device node needs root");
            QCOMPARE(writeUserFile(target, document), std::nullopt);
            QCOMPARE(fileKind(target), mode_t(S_IFCHR));
            return;
        }

        QCOMPARE(writeUserFile(target, document), std::nullopt);
        QCOMPARE(test::readFile(written), document);
        struct stat status {};
        if (kind == u"regular")
            QCOMPARE(::stat(name(target).constData(), &status) == 0 ? status.st_mode & 0777 : 0,
                     0600u);
        if (kind == u"link" || kind == u"dangling")
            QCOMPARE(fileKind(target), mode_t(S_IFLNK));
    }

    void writeRefusesWhatItCannotWrite_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a folder") << u"folder"_qs << u"is a folder"_qs;
        QTest::newRow("a missing folder") << u"missing"_qs << u"its folder does not exist"_qs;
        QTest::newRow("a pipe nobody reads") << u"unread"_qs << u"nothing read"_qs;
        QTest::newRow("a link loop") << u"loop"_qs << u"too many symbolic links"_qs;
    }
    void writeRefusesWhatItCannotWrite()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QString target = m_dir.filePath(kind);
        if (kind == u"folder")
            QVERIFY(QDir().mkpath(target));
        else if (kind == u"missing")
            target += u"/no/such/out.opml"_qs;
        else if (kind == u"unread")
            QCOMPARE(::mkfifo(name(target).constData(), 0600), 0);
        else if (kind == u"loop")
            QVERIFY(QFile::link(target, target));
        const std::optional<QString> error =
            writeUserFile(target, "<opml/>", std::chrono::milliseconds(50));
        QVERIFY(error);
        QVERIFY2(error->contains(reason), qPrintable(*error));
        QVERIFY(!QFileInfo::exists(m_dir.filePath(u"no"_qs)));
    }

    void readTakesOnlyBoundedRegularFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason"); // empty: read
        QTest::newRow("a regular file") << u"regular"_qs << QString();
        QTest::newRow("at the limit") << u"at limit"_qs << QString();
        QTest::newRow("past the limit") << u"past limit"_qs << u"larger than 1 MiB"_qs;
        QTest::newRow("a folder") << u"folder"_qs << u"is a folder"_qs;
        QTest::newRow("a pipe nobody writes to") << u"fifo"_qs << u"not a regular file"_qs;
        QTest::newRow("an endless device") << u"/dev/zero"_qs << u"not a regular file"_qs;
        QTest::newRow("missing") << u"missing"_qs << u"cannot be read"_qs;
    }
    void readTakesOnlyBoundedRegularFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        const qint64 limit = 1024 * 1024;
        QString target = kind.startsWith(u'/') ? kind : m_dir.filePath(u"read-"_qs + kind);
        QByteArray contents = "<opml/>";
        if (kind == u"regular") {
            test::writeFile(target, contents);
        } else if (kind == u"at limit" || kind == u"past limit") {
            contents = QByteArray(limit + (kind == u"past limit"), 'x');
            test::writeFile(target, contents);
        } else if (kind == u"folder") {
            QVERIFY(QDir().mkpath(target));
        } else if (kind == u"fifo") {
            QCOMPARE(::mkfifo(name(target).constData(), 0600), 0);
        }
        const UserFileRead read = readUserFile(target, limit);
        if (reason.isEmpty()) {
            QCOMPARE(read.bytes, std::optional(contents));
        } else {
            QVERIFY(!read.bytes);
            QVERIFY2(read.error.contains(reason), qPrintable(read.error));
        }
    }
};

QTEST_GUILESS_MAIN(UserFileTest)
#include "tst_userfile.moc"
