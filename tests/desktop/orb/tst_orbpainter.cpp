#include "orb/OrbPainter.h"

#include "orb/OrbLook.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <cmath>

using namespace vardelle;
using Kind = AnnouncerState::Kind;

namespace {

constexpr double kPanel = orblook::kPanelRatio;

struct Frame {
    QImage image;
    QPointF centre; // in device pixels
    double radius;  // the orb's radius in device pixels
    QRectF square;  // the panel's square in device pixels
};

// Draws one frame on a transparent canvas `canvasRatio` diameters wide, the panel's square in
// its middle.
Frame render(const AnnouncerState& state, double d, double seconds, qreal dpr = 1,
             double canvasRatio = kPanel)
{
    OrbPainter painter;
    const double side = canvasRatio * d;
    QImage image(QSize(int(std::ceil(side * dpr)), int(std::ceil(side * dpr))),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    const QRectF square((side - kPanel * d) / 2, (side - kPanel * d) / 2, kPanel * d, kPanel * d);
    {
        QPainter p(&image);
        painter.paint(p, square, state, d, seconds);
    }
    return {image, square.center() * dpr, d / 2 * dpr,
            QRectF(square.topLeft() * dpr, square.size() * dpr)};
}

double distance(QPointF a, QPointF b)
{
    return std::hypot(a.x() - b.x(), a.y() - b.y());
}

// Alpha-weighted colour totals over the orb's disc; the hue comes from their ratios.
struct Mean {
    double r = 0, g = 0, b = 0, a = 0;
    double hue() const
    {
        return QColor::fromRgbF(float(r / a), float(g / a), float(b / a)).hueF() * 360;
    }
};

Mean discMean(const Frame& f)
{
    Mean m;
    for (int y = 0; y < f.image.height(); ++y) {
        for (int x = 0; x < f.image.width(); ++x) {
            if (distance(QPointF(x + 0.5, y + 0.5), f.centre) > f.radius * 0.95)
                continue;
            const QRgb p = f.image.pixel(x, y); // unpremultiplied ARGB
            const double alpha = qAlpha(p) / 255.0;
            m.r += qRed(p) * alpha;
            m.g += qGreen(p) * alpha;
            m.b += qBlue(p) * alpha;
            m.a += alpha;
        }
    }
    m.r /= 255, m.g /= 255, m.b /= 255;
    m.a = std::max(m.a, 1e-9);
    return m;
}

double luminance(QRgb p)
{
    return 0.3 * qRed(p) + 0.59 * qGreen(p) + 0.11 * qBlue(p);
}

// The share of crisp edges in a box around the centre, 0.3 d wide: pixels whose brightness steps
// by more than 20 of 255 to a neighbour. Everything but the symbol is blurred or soft there.
double centreEdgeShare(const Frame& f)
{
    const double half = f.radius * 0.3;
    int edges = 0, all = 0;
    for (int y = int(f.centre.y() - half); y < int(f.centre.y() + half); ++y) {
        for (int x = int(f.centre.x() - half); x < int(f.centre.x() + half); ++x) {
            const double here = luminance(f.image.pixel(x, y));
            const double dx = std::abs(luminance(f.image.pixel(x + 1, y)) - here);
            const double dy = std::abs(luminance(f.image.pixel(x, y + 1)) - here);
            ++all;
            edges += std::max(dx, dy) > 20;
        }
    }
    return all ? double(edges) / all : 0;
}

// The mean alpha over each one-pixel ring around the centre, out to 1.8 radii and three rings
// beyond (the ridge below compares each ring with the third outside it).
std::vector<double> radialAlpha(const Frame& f)
{
    const int last = int(f.radius * 1.8) + 3;
    std::vector<double> sum(last + 1, 0), count(last + 1, 0);
    for (int y = 0; y < f.image.height(); ++y) {
        for (int x = 0; x < f.image.width(); ++x) {
            const int r = int(distance(QPointF(x + 0.5, y + 0.5), f.centre));
            if (r <= last) {
                sum[r] += qAlpha(f.image.pixel(x, y));
                count[r] += 1;
            }
        }
    }
    for (int r = 0; r <= last; ++r)
        sum[r] /= std::max(count[r], 1.0);
    return sum;
}

// The tallest narrow ridge in the alpha outside the orb (1.06 to 1.8 radii): how far a ring of
// pixels stands above the average of the rings three pixels inside and outside it. The glow
// alone fades smoothly outward; a ripple stands out as a ridge.
double outerRidge(const Frame& f)
{
    const std::vector<double> alpha = radialAlpha(f);
    double ridge = 0;
    for (int r = int(std::ceil(f.radius * 1.06)); r <= int(f.radius * 1.8); ++r)
        ridge = std::max(ridge, alpha[r] - (alpha[r - 3] + alpha[r + 3]) / 2);
    return ridge;
}

const QList<double> kTimes{0.0, 0.4, 3.3, 17.25, 812345.6};

} // namespace

class TestOrbPainter : public QObject {
    Q_OBJECT

private slots:
    void showsTheStatePalette_data();
    void showsTheStatePalette();
    void failureMessageChangesNothing();
    void symbolOnlyOnLargeOrbs_data();
    void symbolOnlyOnLargeOrbs();
    void symbolPulsesOnlyWhileGathering_data();
    void symbolPulsesOnlyWhileGathering();
    void ripplesOnlyWhileSpeaking_data();
    void ripplesOnlyWhileSpeaking();
    void nothingOutsideThePanel_data();
    void nothingOutsideThePanel();
    void crossFadeMixesBothLooks();
    void crossFadeEnds_data();
    void crossFadeEnds();
    void drawsIntoAnImageAsItPaints_data();
    void drawsIntoAnImageAsItPaints();
    void refusesWhatItCannotDrawInto_data();
    void refusesWhatItCannotDrawInto();
};

void TestOrbPainter::showsTheStatePalette_data()
{
    QTest::addColumn<AnnouncerState>("state");
    QTest::addColumn<double>("diameter");
    QTest::addColumn<double>("hueFrom");
    QTest::addColumn<double>("hueTo");
    // Hue ranges in degrees; the failure's red wraps around 0.
    QTest::newRow("idle is blue") << AnnouncerState::idle() << 96.0 << 190.0 << 235.0;
    QTest::newRow("gathering is blue") << AnnouncerState::gathering() << 96.0 << 190.0 << 235.0;
    QTest::newRow("speaking is green") << AnnouncerState::speaking() << 96.0 << 120.0 << 185.0;
    QTest::newRow("failed is red") << AnnouncerState::failed("offline") << 96.0 << 340.0 << 390.0;
    QTest::newRow("compact idle") << AnnouncerState::idle() << 44.0 << 190.0 << 235.0;
    QTest::newRow("compact speaking") << AnnouncerState::speaking() << 44.0 << 120.0 << 185.0;
    QTest::newRow("compact failed") << AnnouncerState::failed({}) << 44.0 << 340.0 << 390.0;
}

void TestOrbPainter::showsTheStatePalette()
{
    QFETCH(AnnouncerState, state);
    QFETCH(double, diameter);
    QFETCH(double, hueFrom);
    QFETCH(double, hueTo);
    for (const double t : kTimes) {
        double hue = discMean(render(state, diameter, t)).hue();
        if (hue < hueFrom)
            hue += 360;
        QVERIFY2(hue >= hueFrom && hue <= hueTo,
                 qPrintable(QStringLiteral("hue %1 at t=%2").arg(hue).arg(t)));
    }
}

void TestOrbPainter::failureMessageChangesNothing()
{
    QCOMPARE(render(AnnouncerState::failed({}), 96, 3.3).image,
             render(AnnouncerState::failed("The network is unreachable"), 96, 3.3).image);
}

void TestOrbPainter::symbolOnlyOnLargeOrbs_data()
{
    QTest::addColumn<AnnouncerState>("state");
    QTest::addColumn<double>("diameter");
    QTest::addColumn<qreal>("dpr");
    QTest::addColumn<bool>("shown");
    const QList<std::pair<const char*, AnnouncerState>> states{
        {"idle", AnnouncerState::idle()},
        {"gathering", AnnouncerState::gathering()},
        {"speaking", AnnouncerState::speaking()},
        {"failed", AnnouncerState::failed("x")}};
    for (const auto& [name, state] : states) {
        QTest::addRow("%s 96", name) << state << 96.0 << qreal(1) << true;
        QTest::addRow("%s 96 @2x", name) << state << 96.0 << qreal(2) << true;
        QTest::addRow("%s 44", name) << state << 44.0 << qreal(1) << false;
        QTest::addRow("%s 44 @2x", name) << state << 44.0 << qreal(2) << false;
    }
    QTest::newRow("smallest with a symbol") << AnnouncerState::idle() << 56.0 << qreal(1) << true;
    QTest::newRow("just too small") << AnnouncerState::idle() << 55.9 << qreal(1) << false;
}

void TestOrbPainter::symbolOnlyOnLargeOrbs()
{
    QFETCH(AnnouncerState, state);
    QFETCH(double, diameter);
    QFETCH(qreal, dpr);
    QFETCH(bool, shown);
    const double share = centreEdgeShare(render(state, diameter, 0, dpr));
    if (shown)
        QVERIFY2(share > 0.06, qPrintable(QString::number(share)));
    else
        QVERIFY2(share < 0.03, qPrintable(QString::number(share)));
}

void TestOrbPainter::symbolPulsesOnlyWhileGathering_data()
{
    QTest::addColumn<AnnouncerState>("state");
    QTest::addColumn<bool>("pulses");
    QTest::newRow("idle") << AnnouncerState::idle() << false;
    QTest::newRow("gathering") << AnnouncerState::gathering() << true;
    QTest::newRow("speaking") << AnnouncerState::speaking() << false;
    QTest::newRow("failed") << AnnouncerState::failed("x") << false;
}

void TestOrbPainter::symbolPulsesOnlyWhileGathering()
{
    QFETCH(AnnouncerState, state);
    QFETCH(bool, pulses);
    // The whole pulse takes 1.4 s: brightest at 0 s, faintest at 0.7 s. The blobs move under
    // the symbol meanwhile, so a steady symbol's edges change somewhat too.
    const double bright = centreEdgeShare(render(state, 96, 0));
    const double faint = centreEdgeShare(render(state, 96, 0.7));
    QVERIFY(bright > 0.04);
    if (pulses)
        QVERIFY2(faint < bright * 0.25, qPrintable(QStringLiteral("%1 %2").arg(faint).arg(bright)));
    else
        QVERIFY2(faint > bright * 0.4, qPrintable(QStringLiteral("%1 %2").arg(faint).arg(bright)));
}

void TestOrbPainter::ripplesOnlyWhileSpeaking_data()
{
    QTest::addColumn<AnnouncerState>("state");
    QTest::addColumn<double>("diameter");
    QTest::addColumn<bool>("ripples");
    for (const double d : {96.0, 44.0}) {
        QTest::addRow("idle %g", d) << AnnouncerState::idle() << d << false;
        QTest::addRow("gathering %g", d) << AnnouncerState::gathering() << d << false;
        QTest::addRow("speaking %g", d) << AnnouncerState::speaking() << d << true;
        QTest::addRow("failed %g", d) << AnnouncerState::failed("x") << d << false;
    }
}

void TestOrbPainter::ripplesOnlyWhileSpeaking()
{
    QFETCH(AnnouncerState, state);
    QFETCH(double, diameter);
    QFETCH(bool, ripples);
    for (const double t : kTimes) {
        const double ridge = outerRidge(render(state, diameter, t));
        const QString detail = QStringLiteral("ridge %1 at t=%2").arg(ridge).arg(t);
        if (ripples)
            QVERIFY2(ridge > 15, qPrintable(detail));
        else
            QVERIFY2(ridge < 3, qPrintable(detail));
    }
}

void TestOrbPainter::nothingOutsideThePanel_data()
{
    QTest::addColumn<AnnouncerState>("state");
    QTest::addColumn<double>("diameter");
    QTest::addColumn<qreal>("dpr");
    for (const double d : {96.0, 44.0}) {
        for (const qreal dpr : {1.0, 2.0}) {
            QTest::addRow("idle %g @%gx", d, dpr) << AnnouncerState::idle() << d << dpr;
            QTest::addRow("speaking %g @%gx", d, dpr) << AnnouncerState::speaking() << d << dpr;
            QTest::addRow("failed %g @%gx", d, dpr) << AnnouncerState::failed("x") << d << dpr;
        }
    }
}

void TestOrbPainter::nothingOutsideThePanel()
{
    QFETCH(AnnouncerState, state);
    QFETCH(double, diameter);
    QFETCH(qreal, dpr);
    for (const double t : kTimes) {
        const Frame f = render(state, diameter, t, dpr, 3.0);
        const QRectF allowed = f.square.adjusted(-1, -1, 1, 1);
        int inside = 0;
        for (int y = 0; y < f.image.height(); ++y) {
            for (int x = 0; x < f.image.width(); ++x) {
                const bool in = allowed.contains(QPointF(x + 0.5, y + 0.5));
                const int alpha = qAlpha(f.image.pixel(x, y));
                if (!in && alpha != 0)
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2 at t=%3").arg(x).arg(y).arg(t)));
                inside += in && alpha > 0;
            }
        }
        // The glow fills most of the square.
        QVERIFY(inside > f.square.width() * f.square.height() * 0.5);
    }
}

void TestOrbPainter::crossFadeMixesBothLooks()
{
    const double d = 96, t = 2.0;
    const Mean from = discMean(render(AnnouncerState::idle(), d, t));
    const Mean to = discMean(render(AnnouncerState::failed("x"), d, t));

    OrbPainter painter;
    QImage image(QSize(int(std::ceil(kPanel * d)), int(std::ceil(kPanel * d))),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        painter.paintCrossFade(p, QRectF(0, 0, kPanel * d, kPanel * d), AnnouncerState::idle(),
                               AnnouncerState::failed("x"), d, t, 0.5);
    }
    const Mean mid = discMean({image, QPointF(kPanel * d / 2, kPanel * d / 2), d / 2, {}});
    // Midway the mix sits well between the two palettes in red and in blue...
    auto between = [](double value, double a, double b) {
        const double lo = std::min(a, b), hi = std::max(a, b);
        return value > lo + 0.25 * (hi - lo) && value < hi - 0.25 * (hi - lo);
    };
    QVERIFY2(between(mid.r, from.r, to.r),
             qPrintable(QStringLiteral("%1 %2 %3").arg(from.r).arg(mid.r).arg(to.r)));
    QVERIFY2(between(mid.b, from.b, to.b),
             qPrintable(QStringLiteral("%1 %2 %3").arg(from.b).arg(mid.b).arg(to.b)));
    // ...and is as opaque as either look: no see-through dip while fading.
    QVERIFY(mid.a > 0.97 * std::min(from.a, to.a));
}

void TestOrbPainter::crossFadeEnds_data()
{
    QTest::addColumn<double>("progress");
    QTest::addColumn<bool>("showsTarget");
    QTest::newRow("before the start") << -0.2 << false;
    QTest::newRow("start") << 0.0 << false;
    QTest::newRow("end") << 1.0 << true;
    QTest::newRow("after the end") << 3.0 << true;
}

void TestOrbPainter::crossFadeEnds()
{
    QFETCH(double, progress);
    QFETCH(bool, showsTarget);
    const double d = 96, t = 5.5;
    const AnnouncerState from = AnnouncerState::speaking(), to = AnnouncerState::gathering();
    OrbPainter painter;
    QImage image(QSize(int(std::ceil(kPanel * d)), int(std::ceil(kPanel * d))),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        painter.paintCrossFade(p, QRectF(0, 0, kPanel * d, kPanel * d), from, to, d, t, progress);
    }
    QCOMPARE(image, render(showsTarget ? to : from, d, t).image);
}

// A window's backing store as drawInto meets it: larger than the orb's square, with pixels of
// other widgets around it that must stay as they are.
QImage backingStore(QSize logical, qreal dpr)
{
    QImage image(logical * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(QColor(12, 34, 56, 78));
    return image;
}

void TestOrbPainter::drawsIntoAnImageAsItPaints_data()
{
    QTest::addColumn<double>("diameter");
    QTest::addColumn<qreal>("dpr");
    QTest::addColumn<double>("progress");
    for (const double d : {96.0, 44.0}) {
        for (const qreal dpr : {1.0, 1.5, 2.0}) {
            QTest::addRow("%g @%gx", d, dpr) << d << dpr << 1.0;
            QTest::addRow("%g @%gx cross-fading", d, dpr) << d << dpr << 0.4;
        }
    }
}

// The frame composed straight into a backing store is the one painted through QPainter, and
// nothing around the orb's square changes.
void TestOrbPainter::drawsIntoAnImageAsItPaints()
{
    QFETCH(double, diameter);
    QFETCH(qreal, dpr);
    QFETCH(double, progress);
    const AnnouncerState from = AnnouncerState::idle(), to = AnnouncerState::speaking();
    const int side = int(std::lround(kPanel * diameter));
    const QRectF square(10, 6, side, side);
    const QSize size(side + 30, side + 20);
    for (const double t : {0.4, 17.25}) {
        QImage painted = backingStore(size, dpr);
        {
            OrbPainter painter;
            QPainter p(&painted);
            p.setCompositionMode(QPainter::CompositionMode_Source);
            p.fillRect(square, Qt::transparent); // as the backing store is cleared for a repaint
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
            painter.paintCrossFade(p, square, from, to, diameter, t, progress);
        }
        QImage drawn = backingStore(size, dpr);
        OrbPainter painter;
        QVERIFY(painter.drawInto(drawn, square, from, to, diameter, t, progress));
        QCOMPARE(drawn, painted);
    }
}

void TestOrbPainter::refusesWhatItCannotDrawInto_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<QRectF>("square");
    QTest::newRow("not premultiplied") << QImage::Format_ARGB32 << QRectF(0, 0, 182, 182);
    QTest::newRow("no alpha") << QImage::Format_RGB32 << QRectF(0, 0, 182, 182);
    QTest::newRow("between pixels")
        << QImage::Format_ARGB32_Premultiplied << QRectF(0.5, 0, 182, 182);
    QTest::newRow("past the image")
        << QImage::Format_ARGB32_Premultiplied << QRectF(20, 0, 182, 182);
    QTest::newRow("before the image")
        << QImage::Format_ARGB32_Premultiplied << QRectF(-1, 0, 182, 182);
}

void TestOrbPainter::refusesWhatItCannotDrawInto()
{
    QFETCH(QImage::Format, format);
    QFETCH(QRectF, square);
    QImage image(190, 190, format);
    image.fill(QColor(12, 34, 56));
    const QImage before = image;
    OrbPainter painter;
    QVERIFY(
        !painter.drawInto(image, square, AnnouncerState::idle(), AnnouncerState::idle(), 96, 1.0));
    QCOMPARE(image, before);
}

QTEST_MAIN(TestOrbPainter)
#include "tst_orbpainter.moc"
