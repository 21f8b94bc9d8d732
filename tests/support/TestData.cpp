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

} // namespace vardelle::test
