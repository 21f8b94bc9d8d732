#include "orb/OrbView.h"

#include "orb/OrbLook.h"
#include "orb/OrbPainter.h"

#include <QPainter>
#include <QTest>

#include <cmath>

using namespace vardelle;

class TestOrbView : public QObject {
    Q_OBJECT

private slots:
    void keepsTheState();
    void diameterLeavesRoomForGlowAndRipples_data();
    void diameterLeavesRoomForGlowAndRipples();
    void framesOnlyWhileOnScreen();
    void paintsOnlyTheOrb();
    void drawsOnlyWithinItsReach_data();
    void drawsOnlyWithinItsReach();
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

void TestOrbView::drawsOnlyWithinItsReach_data()
{
    QTest::addColumn<AnnouncerState>("state");
    QTest::addColumn<double>("diameter");
    QTest::addColumn<qreal>("dpr");
    for (const double d : {96.0, 44.0}) {
        for (const qreal dpr : {1.0, 1.5, 2.0}) {
            QTest::addRow("idle %g @%gx", d, dpr) << AnnouncerState::idle() << d << dpr;
            QTest::addRow("speaking %g @%gx", d, dpr) << AnnouncerState::speaking() << d << dpr;
            QTest::addRow("gathering %g @%gx", d, dpr) << AnnouncerState::gathering() << d << dpr;
        }
    }
}

// Animation frames flush only the reach: whatever a frame draws outside it would stay on the
// screen. Over a whole breathing cycle and the glow's, nothing shows outside it, while the reach
// leaves out the panel's far corners.
void TestOrbView::drawsOnlyWithinItsReach()
{
    QFETCH(AnnouncerState, state);
    QFETCH(double, diameter);
    QFETCH(qreal, dpr);
    const int side = int(std::lround(orblook::kPanelRatio * diameter));
    const QRectF square(0, 0, side, side);
    const QRegion reach = OrbView::reach(square, diameter);
    QVERIFY(!reach.contains(QPoint(0, 0)));
    QVERIFY(!reach.contains(QPoint(side - 1, side - 1)));
    QVERIFY(reach.rectCount() <= 8);

    OrbPainter painter;
    QImage image(QSize(side, side) * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    // The breathing's period is 2π / 1.6 radians of phase, the glow's 2π / 2.1; the phase runs
    // at 0.3 to 1.3 radians a second.
    for (double t = 0; t < 30; t += 0.37) {
        QVERIFY(painter.drawInto(image, square, state, state, diameter, t));
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                if (line[x] != 0 && !reach.contains(QPoint(int(x / dpr), int(y / dpr))))
                    QFAIL(qPrintable(QStringLiteral("%1,%2 at %3 s").arg(x).arg(y).arg(t)));
            }
        }
    }
}

QTEST_MAIN(TestOrbView)
#include "tst_orbview.moc"
