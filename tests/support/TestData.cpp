#include "TestData.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace vardelle::test {

QString corpusDir()
{
    QString dir = qEnvironmentVariable("VARDELLE_CORPUS");
    if (dir.isEmpty())
        dir = QStringLiteral(VARDELLE_CORPUS_DIR);
    return QDir(dir).exists() ? QDir(dir).canonicalPath() : QString();
}

QByteArray readTestData(const QString& relativePath)
{
    QFile file(QStringLiteral(VARDELLE_TEST_DATA_DIR "/") + relativePath);
    if (!file.open(QIODevice::ReadOnly)) {
        QTest::qFail(qPrintable(u"missing fixture "_qs + file.fileName()), __FILE__, __LINE__);
        return {};
    }
    return file.readAll();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

void useUserFolders(const QString& home)
{
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME",
                             "XDG_RUNTIME_DIR"}) {
        const QString folder = home + u'/' + QString::fromLatin1(name);
        QVERIFY(QDir().mkpath(folder));
        qputenv(name, QFile::encodeName(folder));
    }
    QFile::setPermissions(home + u"/XDG_RUNTIME_DIR"_qs,
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace vardelle::test
