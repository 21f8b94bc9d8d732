// The orb's half-resolution frames (OrbScene) against the full-resolution scene's, which compose
// every layer at full resolution, wherever the painter uses the half-resolution grid.

#include "orb/OrbLook.h"
#include "orb/OrbPainter.h"
#include "orb/OrbScene.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <array>
#include <cmath>
#include <functional>

using namespace vardelle;
using Renderer = OrbPainter::Renderer;

namespace {

constexpr double kPanel = orblook::kPanelRatio;

// How far the fast frame strays from the full-resolution one.
struct Difference {
    std::array<double, 4> mean{}; // per channel, in levels of 255
    int worst = 0;                // the largest difference away from the rim's edges
    QPoint worstAt;
};

using Draw = std::function<void(OrbPainter&, QPainter&, const QRectF&)>;

QImage draw(Renderer renderer, double d, qreal dpr, const Draw& paint)
{
    OrbPainter painter(renderer);
    const double side = kPanel * d;
    QImage image(QSize(int(std::ceil(side * dpr)), int(std::ceil(side * dpr))),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter p(&image);
    paint(painter, p, QRectF(0, 0, side, side));
    return image;
}

// Compares premultiplied pixels. The rim's two antialiased edges, at each breathing scale given,
// are left out of the worst difference: there the full-resolution scene resamples an edge drawn by
// QPainter and the fast frame computes it exactly, and both are right to within a pixel.
Difference compare(const QImage& fast, const QImage& full, double d, qreal dpr,
                   std::initializer_list<double> breathing)
{
    Difference diff;
    const double centre = kPanel * d * dpr / 2;
    auto onEdge = [&](double r) {
        for (const double s : breathing) {
            const double outer = d / 2 * dpr * s;
            const double inner = outer - std::max(0.018 * d, 1.0) * dpr * s;
            if (std::abs(r - outer) < 1.5 || std::abs(r - inner) < 1.5)
                return true;
        }
        return false;
    };
    for (int y = 0; y < fast.height(); ++y) {
        const auto* a = reinterpret_cast<const uchar*>(fast.constScanLine(y));
        const auto* b = reinterpret_cast<const uchar*>(full.constScanLine(y));
        for (int x = 0; x < fast.width(); ++x) {
            const bool edge = onEdge(std::hypot(x + 0.5 - centre, y + 0.5 - centre));
            for (int k = 0; k < 4; ++k) {
                const int delta = std::abs(int(a[x * 4 + k]) - int(b[x * 4 + k]));
                diff.mean[size_t(k)] += delta;
                if (!edge && delta > diff.worst) {
                    diff.worst = delta;
                    diff.worstAt = QPoint(x, y);
                }
            }
        }
    }
    for (double& m : diff.mean)
        m /= double(fast.width()) * double(fast.height());
    return diff;
}

void verifyClose(const Difference& diff, const QString& where)
{
    for (const double m : diff.mean)
        QVERIFY2(
            m <= 1.0,
            qPrintable(
                QStringLiteral("%1: mean difference %2 of 255 in a channel").arg(where).arg(m)));
    QVERIFY2(diff.worst <= 8, qPrintable(QStringLiteral("%1: %2 of 255 at %3,%4")
                                             .arg(where)
                                             .arg(diff.worst)
                                             .arg(diff.worstAt.x())
                                             .arg(diff.worstAt.y())));
}

double breathingAt(AnnouncerState::Kind kind, double seconds)
{
    return 1 + 0.035 * std::sin(1.6 * seconds * orblook::speed(kind));
}

} // namespace

class TestOrbLook : public QObject {
    Q_OBJECT

private slots:
    void matchesFullResolution_data();
    void matchesFullResolution();
    void crossFadeMatchesTheReference_data();
    void crossFadeMatchesTheReference();
};

void TestOrbLook::matchesFullResolution_data()
{
    QTest::addColumn<AnnouncerState>("state");
    QTest::addColumn<double>("diameter");
    QTest::addColumn<qreal>("dpr");
    const QList<std::pair<const char*, AnnouncerState>> states{
        {"idle", AnnouncerState::idle()},
        {"gathering", AnnouncerState::gathering()},
        {"speaking", AnnouncerState::speaking()},
        {"failed", AnnouncerState::failed("x")}};
    for (const auto& [name, state] : states) {
        for (const qreal dpr : {1.0, 1.5, 2.0})
            QTest::addRow("%s 96 @%gx", name, dpr) << state << 96.0 << dpr;
        // Below these ratios the compact orb is drawn at full resolution by either renderer.
        for (const qreal dpr : {2.25, 2.5, 3.0})
            QTest::addRow("%s 44 @%gx", name, dpr) << state << 44.0 << dpr;
    }
}

void TestOrbLook::matchesFullResolution()
{
    QFETCH(AnnouncerState, state);
    QFETCH(double, diameter);
    QFETCH(qreal, dpr);
    QVERIFY2(OrbScene::suits(diameter, dpr), "a row that compares a scene with itself");
    // Rest size, both ends of the breathing, blobs in several places, the symbol's pulse.
    for (const double t : {0.0, 0.7, 3.3, 17.25, 812345.6}) {
        const Draw paint = [&](OrbPainter& painter, QPainter& p, const QRectF& square) {
            painter.paint(p, square, state, diameter, t);
        };
        const QImage fast = draw(Renderer::fast, diameter, dpr, paint);
        const QImage full = draw(Renderer::fullResolution, diameter, dpr, paint);
        verifyClose(compare(fast, full, diameter, dpr, {breathingAt(state.kind, t)}),
                    QStringLiteral("t=%1").arg(t));
    }
}

void TestOrbLook::crossFadeMatchesTheReference_data()
{
    QTest::addColumn<double>("diameter");
    QTest::addColumn<qreal>("dpr");
    for (const qreal dpr : {1.0, 2.0})
        QTest::addRow("96 @%gx", dpr) << 96.0 << dpr;
    for (const qreal dpr : {2.5, 3.0})
        QTest::addRow("44 @%gx", dpr) << 44.0 << dpr;
}

void TestOrbLook::crossFadeMatchesTheReference()
{
    QFETCH(double, diameter);
    QFETCH(qreal, dpr);
    QVERIFY2(OrbScene::suits(diameter, dpr), "a row that compares a scene with itself");
    const AnnouncerState from = AnnouncerState::idle(), to = AnnouncerState::speaking();
    for (const double progress : {0.25, 0.5, 0.8}) {
        const double t = 5.5;
        const Draw paint = [&](OrbPainter& painter, QPainter& p, const QRectF& square) {
            painter.paintCrossFade(p, square, from, to, diameter, t, progress);
        };
        const QImage fast = draw(Renderer::fast, diameter, dpr, paint);
        const QImage full = draw(Renderer::fullResolution, diameter, dpr, paint);
        // Both looks breathe at their own pace: leave out the rim's edges of either.
        verifyClose(compare(fast, full, diameter, dpr,
                            {breathingAt(from.kind, t), breathingAt(to.kind, t)}),
                    QStringLiteral("progress %1").arg(progress));
    }
}

QTEST_MAIN(TestOrbLook)
#include "tst_orblook.moc"
