#include "OrbPixels.h"

#include "OrbLayers.h"
#include "OrbLook.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VARDELLE_ORB_AVX2 1
#endif

namespace vardelle::orbpixels {

namespace {

// A premultiplied pixel of `image` at device position (x, y), pixel centres at half integers.
Px sample(const QImage& image, double x, double y)
{
    const double u = x - 0.5, v = y - 0.5;
    const int x0 = int(std::floor(u)), y0 = int(std::floor(v));
    const float fx = float(u - x0), fy = float(v - y0);
    auto at = [&](int px, int py) {
        if (px < 0 || py < 0 || px >= image.width() || py >= image.height())
            return splat(0);
        return unpack(reinterpret_cast<const quint32*>(image.constScanLine(py))[px]);
    };
    const Px top = at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx;
    const Px bottom = at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx;
    return top * (1 - fy) + bottom * fy;
}

// A round image's colour against squared distance from its middle, averaged over directions:
// `step` entries per squared device pixel, the last entry transparent. The image is sampled along
// the radius every quarter pixel, and the table filled from those samples.
std::vector<Px> radialProfile(const QImage& image, double step)
{
    const double half = std::min(image.width(), image.height()) / 2.0;
    constexpr int perPixel = 4;
    constexpr int directions = 16;
    std::array<std::pair<double, double>, directions> unit;
    for (int i = 0; i < directions; ++i) {
        const double angle = 2 * std::numbers::pi * (i + 0.5) / directions;
        unit[size_t(i)] = {std::cos(angle), std::sin(angle)};
    }
    const double cx = image.width() / 2.0, cy = image.height() / 2.0;
    std::vector<Px> radial(size_t(std::ceil(half * perPixel)) + 2, splat(0));
    for (size_t j = 0; j + 1 < radial.size(); ++j) {
        const double r = double(j) / perPixel;
        Px sum = splat(0);
        for (const auto& [ux, uy] : unit)
            sum += sample(image, cx + r * ux, cy + r * uy);
        radial[j] = sum * (1.0f / directions);
    }

    const auto count = size_t(std::ceil(half * half * step)) + 1;
    std::vector<Px> profile(count, splat(0));
    for (size_t k = 0; k + 1 < count; ++k) {
        const double at = std::sqrt((double(k) + 0.5) / step) * perPixel;
        const auto j = std::min(size_t(at), radial.size() - 2);
        const auto f = float(std::min(at - double(j), 1.0));
        profile[k] = radial[j] * (1 - f) + radial[j + 1] * f;
    }
    return profile;
}

// An opaque colour in the pixels' channel order.
std::array<float, 4> opaque(const QColor& color)
{
    return {float(color.blueF()), float(color.greenF()), float(color.redF()), 1};
}

bool processorHasAvx2()
{
#if defined(VARDELLE_ORB_AVX2)
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

Simd g_simd = processorHasAvx2() ? Simd::avx2 : Simd::sse2;

void upsampleSse2(quint32* out, int x, int x1, const quint32* a, const quint32* b)
{
#if defined(__SSE2__)
    for (; x + 8 <= x1; x += 8) {
        const int i = x >> 1;
        auto row = [&](int k) {
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + k));
            return b ? _mm_avg_epu8(p, _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k)))
                     : p;
        };
        const __m128i here = row(i);
        const __m128i between = _mm_avg_epu8(here, row(i + 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_unpacklo_epi32(here, between));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x + 4),
                         _mm_unpackhi_epi32(here, between));
    }
#endif
    for (; x < x1; ++x)
        out[x] = upsampled(x, a, b);
}

void glowSpanPlain(quint32* out, int x, int x1, float dx, float dy2, float index,
                   const std::vector<quint32>& table)
{
    const auto count = int(table.size());
    for (; x < x1; ++x, dx += 1) {
        const int k = int((dx * dx + dy2) * index);
        out[x] = k < count ? table[size_t(k)] : 0;
    }
}

#if defined(VARDELLE_ORB_AVX2)

// Eight pixels a step, the table read with a masked gather. Without FMA, so that every index is
// rounded as in the plain loop.
__attribute__((target("avx2"))) void glowSpanAvx2(quint32* out, int x, int x1, float dx, float dy2,
                                                  float index, const std::vector<quint32>& table)
{
    const auto count = int(table.size());
    const auto* entries = reinterpret_cast<const int*>(table.data());
    const __m256i counts = _mm256_set1_epi32(count);
    const __m256 rowSquare = _mm256_set1_ps(dy2), scale = _mm256_set1_ps(index);
    __m256 distance = _mm256_add_ps(_mm256_set1_ps(dx), _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7));
    const __m256 eight = _mm256_set1_ps(8);
    for (; x + 8 <= x1; x += 8, dx += 8) {
        const __m256 squared = _mm256_add_ps(_mm256_mul_ps(distance, distance), rowSquare);
        const __m256i k = _mm256_cvttps_epi32(_mm256_mul_ps(squared, scale));
        const __m256i inside = _mm256_cmpgt_epi32(counts, k);
        const __m256i pixels = _mm256_mask_i32gather_epi32(_mm256_setzero_si256(), entries,
                                                           _mm256_and_si256(k, inside), inside, 4);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), pixels);
        distance = _mm256_add_ps(distance, eight);
    }
    glowSpanPlain(out, x, x1, dx, dy2, index, table);
}

#endif

} // namespace

Simd simd()
{
    return g_simd;
}

bool setSimd(Simd simd)
{
    if (simd == Simd::avx2 && !processorHasAvx2())
        return false;
    g_simd = simd;
    return true;
}

void upsample(quint32* out, int x0, int x1, const quint32* a, const quint32* b)
{
    if (x0 >= x1)
        return;
    int x = x0;
    if (x & 1) {
        out[x] = upsampled(x, a, b);
        ++x;
    }
    // SSE2 also where AVX2 is there: with 32-byte stores, the per-pixel reads of the same row
    // that follow (the disc's edge, the layers over it) wait for store forwarding, which made
    // frames slower as a whole.
    upsampleSse2(out, x, x1, a, b);
}

FrameRows frameRows(QImage& image, QPoint origin, int side)
{
    FrameRows rows;
    rows.stride = image.bytesPerLine() / 4;
    rows.side = side < 0 ? image.width() : side;
    rows.first = reinterpret_cast<quint32*>(image.bits()) + origin.y() * rows.stride + origin.x();
    return rows;
}

void prepareFrame(QImage& frame, int side, qreal dpr)
{
    if (frame.width() != side || frame.height() != side ||
        frame.format() != QImage::Format_ARGB32_Premultiplied) {
        frame = QImage(side, side, QImage::Format_ARGB32_Premultiplied);
    }
    frame.setDevicePixelRatio(dpr);
}

void mixInto(const FrameRows& into, const QImage& other, double weight)
{
    const auto w = quint32(std::clamp(int(std::lround(weight * 256)), 0, 256));
    for (int y = 0; y < into.side; ++y) {
        quint32* a = into.row(y);
        const auto* b = reinterpret_cast<const quint32*>(other.constScanLine(y));
        for (int x = 0; x < into.side; ++x)
            a[x] = mix(a[x], b[x], w);
    }
}

void glowSpan(quint32* out, int x0, int x1, float dx, float dy2, float index,
              const std::vector<quint32>& table)
{
#if defined(VARDELLE_ORB_AVX2)
    if (g_simd == Simd::avx2)
        return glowSpanAvx2(out, x0, x1, dx, dy2, index, table);
#endif
    glowSpanPlain(out, x0, x1, dx, dy2, index, table);
}

void glowSpan(float* out, int x0, int x1, float dx, float dy2, float index,
              const std::vector<float>& table)
{
    const auto count = int(table.size() / 4);
    for (int x = x0; x < x1; ++x, dx += 1) {
        const int k = int((dx * dx + dy2) * index);
        store(out + x * 4, k < count ? load(&table[size_t(k) * 4]) : splat(0));
    }
}

std::vector<float> toFloats(const QImage& image)
{
    std::vector<float> out(size_t(image.width()) * size_t(image.height()) * 4);
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            store(&out[(size_t(y) * size_t(image.width()) + size_t(x)) * 4], unpack(line[x]));
    }
    return out;
}

DiscSquare::DiscSquare(double d, qreal dpr, double frameCentre)
    : dpr(dpr)
{
    const int half = int(std::ceil(kHighlightReach * d * dpr)) + 2;
    origin = int(std::floor(frameCentre)) - half;
    side = 2 * half + 1;
    centre = frameCentre - origin;
}

std::vector<float> DiscSquare::layer(const std::function<void(QImage&, QPointF)>& paint) const
{
    QImage image = orblayers::canvas(QSize(side, side), dpr);
    paint(image, QPointF(centre / dpr, centre / dpr));
    return toFloats(image);
}

RadialTables radialTables(AnnouncerState::Kind kind, double d, qreal dpr)
{
    const auto colors = orblook::palette(kind);
    RadialTables t;
    t.glowStep = 1 / (dpr * dpr);
    const std::vector<Px> glow = radialProfile(orblayers::glow(colors, d, dpr), t.glowStep);
    t.glow.resize(glow.size() * 4);
    t.glowPixels.resize(glow.size());
    for (size_t k = 0; k < glow.size(); ++k) {
        store(&t.glow[k * 4], glow[k]);
        t.glowPixels[k] = pack(glow[k]);
    }
    t.blobStep = 1 / (dpr * dpr);
    for (int i = 0; i < 3; ++i) {
        const std::vector<Px> blob =
            radialProfile(orblayers::blob(colors[i], d * (0.52 - 0.06 * i), d, dpr), t.blobStep);
        t.blobs[i].resize(blob.size());
        for (size_t k = 0; k < blob.size(); ++k)
            t.blobs[i][k] = blob[k][3];
        t.blobColors[i] = opaque(colors[i]);
    }
    t.ringColor = opaque(colors[0]);
    return t;
}

Runs findRuns(const std::vector<float>& layer, int side, int channels, float floor)
{
    Runs runs;
    if (layer.empty()) {
        runs.rowStart.assign(size_t(side) + 1, 0);
        return runs;
    }
    runs.rowStart.reserve(size_t(side) + 1);
    for (int y = 0; y < side; ++y) {
        runs.rowStart.push_back(int(runs.spans.size()));
        int start = -1;
        for (int x = 0; x <= side; ++x) {
            bool visible = false;
            if (x < side) {
                const float* p = &layer[(size_t(y) * size_t(side) + size_t(x)) * size_t(channels)];
                visible = std::any_of(p, p + channels, [floor](float v) { return v > floor; });
            }
            if (visible && start < 0) {
                start = x;
            } else if (!visible && start >= 0) {
                runs.spans.emplace_back(start, x);
                start = -1;
            }
        }
    }
    runs.rowStart.push_back(int(runs.spans.size()));
    return runs;
}

Motion motion(AnnouncerState::Kind kind, double seconds)
{
    Motion m;
    m.phase = seconds * orblook::speed(kind);
    m.breathing = 1 + 0.035 * std::sin(1.6 * m.phase);
    m.glowScale = 1.3 + 0.05 * std::sin(2.1 * m.phase);
    if (kind == AnnouncerState::Kind::gathering) {
        const double wave = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * seconds / kPulsePeriod);
        m.symbolOpacity = float(1 - (1 - kPulseLow) * wave);
    }
    return m;
}

std::pair<double, double> blobOffset(int i, double phase, double d)
{
    const double t = phase + 2.1 * i;
    const double radius = d * (0.16 + 0.05 * std::sin(0.9 * t + i));
    const double angle = t * (i % 2 == 0 ? 1.0 : -0.75);
    return {radius * std::cos(angle), radius * std::sin(angle)};
}

void drawRipples(const FrameRows& frame, double centre, double d, qreal dpr,
                 const std::array<float, 4>& ring, double phase, double breathing)
{
    const int n = frame.side;
    const double c = centre;
    const Px color = load(ring.data());
    for (int i = 0; i < 2; ++i) {
        const double scaled = kRipplePeriod * phase + i / 2.0;
        const double progress = scaled - std::floor(scaled);
        const double grow = (1 + kRippleGrowth * progress) * breathing * dpr;
        const double radius = d / 2 * grow;
        const double halfWidth = kRippleWidth / 2 * grow;
        const float alpha = float((1 - progress) * kRippleOpacity);
        const double outer = radius + halfWidth + 1;
        const double inner = radius - halfWidth - 1;
        const int y0 = std::max(0, int(std::floor(c - outer)));
        const int y1 = std::min(n, int(std::ceil(c + outer)));
        for (int y = y0; y < y1; ++y) {
            quint32* line = frame.row(y);
            const double dy = y + 0.5 - c;
            const double reach = std::sqrt(std::max(0.0, outer * outer - dy * dy));
            const double hole = inner > std::abs(dy) ? std::sqrt(inner * inner - dy * dy) : -1;
            const float dy2 = float(dy * dy);
            const auto r = float(radius), reach2 = float(outer * outer);
            const auto hole2 = float(inner > 0 ? inner * inner : 0);
            const auto cover0 = float(halfWidth + 0.5);
            auto span = [&](double from, double to) {
                const int x0 = std::max(0, int(std::floor(from - 0.5)));
                const int x1 = std::min(n, int(std::ceil(to + 0.5)));
                float dx = float(x0 + 0.5 - c);
                for (int x = x0; x < x1; ++x, dx += 1) {
                    const float d2 = dx * dx + dy2;
                    if (d2 >= reach2 || d2 <= hole2)
                        continue;
                    const float cover = std::min(cover0 - std::abs(std::sqrt(d2) - r), 1.0f);
                    if (cover <= 0)
                        continue;
                    const Px ring = color * (alpha * cover);
                    line[x] = pack(ring + unpack(line[x]) * (1 - ring[3]));
                }
            };
            if (hole < 0) {
                span(c - reach, c + reach);
            } else {
                span(c - reach, c - hole);
                span(c + hole, c + reach);
            }
        }
    }
}

} // namespace vardelle::orbpixels
