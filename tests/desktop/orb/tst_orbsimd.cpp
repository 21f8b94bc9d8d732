#include "orb/OrbPainter.h"

#include "orb/OrbLook.h"
#include "orb/OrbPixels.h"

#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QTest>

#include <vector>

using namespace vardelle;
using namespace vardelle::orbpixels;

// The composing loops' vector paths: AVX2 against SSE2, the same pixels to the bit, and the
// upsampling against its per-pixel definition.
class TestOrbSimd : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void upsamplesAsEachPixel_data();
    void upsamplesAsEachPixel();
    void looksUpTheGlowAlike_data();
    void looksUpTheGlowAlike();
    void composesFramesAlike_data();
    void composesFramesAlike();

private:
    Simd m_simd = Simd::sse2;
};

namespace {

// `run` under each instruction set in turn.
template <typename Run> auto both(Run run)
{
    setSimd(Simd::sse2);
    auto sse2 = run();
    setSimd(Simd::avx2);
    auto avx2 = run();
    return std::pair(sse2, avx2);
}

std::vector<quint32> randomPixels(int count, quint32 seed)
{
    QRandomGenerator random(seed);
    std::vector<quint32> pixels(static_cast<size_t>(count));
    for (quint32& p : pixels)
        p = random.generate();
    return pixels;
}

} // namespace

void TestOrbSimd::init()
{
    m_simd = simd();
    if (QByteArray(QTest::currentTestFunction()) != "upsamplesAsEachPixel" && !setSimd(Simd::avx2))
        QSKIP("the processor has no AVX2");
}

void TestOrbSimd::cleanup()
{
    setSimd(m_simd);
}

void TestOrbSimd::upsamplesAsEachPixel_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<bool>("oddRow");
    QTest::newRow("a whole row") << 0 << 182 << false;
    QTest::newRow("a whole odd row") << 0 << 364 << true;
    QTest::newRow("odd ends") << 3 << 171 << true;
    QTest::newRow("shorter than a step") << 5 << 12 << false;
    QTest::newRow("one pixel") << 9 << 10 << true;
    QTest::newRow("empty") << 40 << 40 << false;
}

// The vector loop against the pixel-by-pixel definition, and nothing written past the span.
void TestOrbSimd::upsamplesAsEachPixel()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(bool, oddRow);
    const std::vector<quint32> a = randomPixels(to / 2 + 10, 1), b = randomPixels(to / 2 + 10, 2);
    const quint32* second = oddRow ? b.data() : nullptr;
    std::vector<quint32> out(size_t(to) + 1, 0xdeadbeef);
    upsample(out.data(), from, to, a.data(), second);
    for (int x = 0; x <= to; ++x)
        QCOMPARE(out[size_t(x)], x >= from && x < to ? upsampled(x, a.data(), second) : 0xdeadbeef);
}

void TestOrbSimd::looksUpTheGlowAlike_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<float>("dy2");
    QTest::addColumn<float>("index");
    // The table ends within the row, so both sides of its end are read.
    QTest::newRow("through the middle") << 0 << 93 << 0.25f << 4.0f;
    QTest::newRow("near the top") << 0 << 93 << 1900.0f << 1.0f;
    QTest::newRow("past the table") << 3 << 60 << 9000.0f << 1.0f;
    QTest::newRow("odd span") << 7 << 20 << 100.0f << 0.37f;
}

void TestOrbSimd::looksUpTheGlowAlike()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(float, dy2);
    QFETCH(float, index);
    const std::vector<quint32> table = randomPixels(2500, 3);
    const float dx = float(from) + 0.5f - 46.5f;
    const auto [sse2, avx2] = both([&] {
        std::vector<quint32> out(size_t(to) + 1, 0xdeadbeef);
        glowSpan(out.data(), from, to, dx, dy2, index, table);
        return out;
    });
    QCOMPARE(avx2, sse2);
    QCOMPARE(sse2.back(), 0xdeadbeef);
}

void TestOrbSimd::composesFramesAlike_data()
{
    QTest::addColumn<AnnouncerState>("state");
    QTest::addColumn<double>("diameter");
    QTest::addColumn<qreal>("dpr");
    for (const double d : {96.0, 44.0}) {
        for (const qreal dpr : {1.0, 1.5, 2.0}) {
            QTest::addRow("idle %g @%gx", d, dpr) << AnnouncerState::idle() << d << dpr;
            QTest::addRow("speaking %g @%gx", d, dpr) << AnnouncerState::speaking() << d << dpr;
        }
    }
}

void TestOrbSimd::composesFramesAlike()
{
    QFETCH(AnnouncerState, state);
    QFETCH(double, diameter);
    QFETCH(qreal, dpr);
    const double side = orblook::kPanelRatio * diameter;
    for (const double t : {0.0, 3.3, 17.25}) {
        const auto [sse2, avx2] = both([&] {
            QImage image(QSize(int(std::ceil(side * dpr)), int(std::ceil(side * dpr))),
                         QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(dpr);
            OrbPainter painter;
            painter.drawInto(image, QRectF(0, 0, side, side), state, state, diameter, t);
            return image;
        });
        QCOMPARE(avx2, sse2);
    }
}

QTEST_MAIN(TestOrbSimd)
#include "tst_orbsimd.moc"
