#include "orb/OrbView.h"

#include <QTest>

using namespace vardelle;

class TestOrbView : public QObject {
    Q_OBJECT

private slots:
    void keepsTheState();
    void diameterLeavesRoomForGlowAndRipples_data();
    void diameterLeavesRoomForGlowAndRipples();
    void framesOnlyWhileOnScreen();
    void paintsOnlyTheOrb();
};

void TestOrbView::keepsTheState()
{
    OrbView orb;
    QCOMPARE(orb.state(), AnnouncerState::idle());
    QVERIFY(orb.testAttribute(Qt::WA_TransparentForMouseEvents));
    orb.setState(AnnouncerState::speaking());
    QCOMPARE(orb.state(), AnnouncerState::speaking());
    orb.setState(AnnouncerState::failed("offline"));
    orb.setState(AnnouncerState::failed("timed out"));
    QCOMPARE(orb.state(), AnnouncerState::failed("timed out"));
}

void TestOrbView::diameterLeavesRoomForGlowAndRipples_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("diameter");
    QTest::newRow("normal panel") << QSize(190, 190) << 100.0;
    QTest::newRow("wide: the smaller side counts") << QSize(400, 95) << 50.0;
    QTest::newRow("tall") << QSize(57, 300) << 30.0;
}

void TestOrbView::diameterLeavesRoomForGlowAndRipples()
{
    QFETCH(QSize, size);
    QFETCH(double, diameter);
    OrbView orb;
    orb.resize(size);
    QCOMPARE(orb.diameter(), diameter);
}

void TestOrbView::framesOnlyWhileOnScreen()
{
    QWidget window;
    window.resize(190, 190);
    auto* orb = new OrbView(&window);
    orb->resize(190, 190);
    QVERIFY(!orb->isAnimating());

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(orb->isAnimating());

    orb->setState(AnnouncerState::gathering());
    window.hide();
    QVERIFY(!orb->isAnimating());
    orb->setState(AnnouncerState::speaking());
    QVERIFY(!orb->isAnimating());

    window.show();
    QVERIFY(orb->isAnimating());
    orb->hide();
    QVERIFY(!orb->isAnimating());
    orb->show();
    QVERIFY(orb->isAnimating());

    window.setWindowState(Qt::WindowMinimized);
    QVERIFY(!orb->isAnimating());
    window.setWindowState(Qt::WindowNoState);
    QVERIFY(orb->isAnimating());
}

void TestOrbView::paintsOnlyTheOrb()
{
    OrbView orb;
    orb.resize(190, 190);
    orb.setState(AnnouncerState::failed("x"));
    const QImage image = orb.grab().toImage();
    QCOMPARE(qAlpha(image.pixel(1, 1)), 0);
    QCOMPARE(qAlpha(image.pixel(188, 188)), 0);
    QVERIFY(qAlpha(image.pixel(95, 95)) > 200);
}

QTEST_MAIN(TestOrbView)
#include "tst_orbview.moc"
