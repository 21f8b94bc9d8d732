// Every input that once made a fuzz target fail, run through that target again: a crash that
// was fixed stays fixed, without clang or libFuzzer. The inputs live in
// tests/data/fuzz/<target>/, one file each.
#include "FuzzTargets.h"
#include "support/TestData.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QtTest>

using namespace vardelle;

class TestFuzzReplay : public QObject {
    Q_OBJECT

private slots:
    void replay_data();
    void replay();
    void everyFolderNamesATarget();
};

namespace {

QString inputsFolder()
{
    return QStringLiteral(VARDELLE_TEST_DATA_DIR "/fuzz");
}

} // namespace

void TestFuzzReplay::replay_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("path");
    QDirIterator it(inputsFolder(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = QFileInfo(path).dir().dirName();
        QTest::newRow(qPrintable(target + u'/' + it.fileName())) << target << path;
    }
}

void TestFuzzReplay::replay()
{
    QFETCH(QString, target);
    QFETCH(QString, path);
    const fuzz::Target* found = fuzz::findTarget(target.toStdString());
    QVERIFY2(found, qPrintable(u"no fuzz target "_qs + target));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray input = file.readAll();
    // A failure aborts or trips a sanitizer, and the test with it.
    found->entry(input);
}

void TestFuzzReplay::everyFolderNamesATarget()
{
    const QStringList folders = QDir(inputsFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& folder : folders)
        QVERIFY2(fuzz::findTarget(folder.toStdString()), qPrintable(folder));
}

QTEST_GUILESS_MAIN(TestFuzzReplay)
#include "tst_fuzzreplay.moc"
