#include "OrbScene.h"

#include "OrbLayers.h"
#include "OrbPainter.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

namespace vardelle {

namespace {

// Four floats handled as one: a premultiplied pixel in the order of its bytes in memory (blue,
// green, red, alpha), so packing and unpacking are plain vector conversions.
using Px = float __attribute__((vector_size(16)));
using PxInt = int __attribute__((vector_size(16)));
using PxBytes = unsigned char __attribute__((vector_size(4)));

constexpr double kHighlightReach = 0.6; // the blurred highlight's farthest point, over d
constexpr double kRipplePeriod = 0.9;   // ripple cycles per radian of phase
constexpr double kRippleGrowth = 0.45;
constexpr double kRippleOpacity = 0.55;
constexpr double kRippleWidth = 2; // points
// One pulse of the gathering symbol, in seconds, and its faintest opacity.
constexpr double kPulsePeriod = 1.4;
constexpr double kPulseLow = 0.35;

Px load(const float* p)
{
    Px v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void store(float* p, Px v)
{
    std::memcpy(p, &v, sizeof v);
}

Px splat(float f)
{
    return Px{f, f, f, f};
}

#if defined(__SSE2__)

Px minOne(Px v)
{
    return _mm_min_ps(v, splat(1));
}

quint32 pack(Px v)
{
    const __m128i c = _mm_cvtps_epi32(_mm_max_ps(_mm_min_ps(v, splat(1)), splat(0)) * 255.0f);
    const __m128i words = _mm_packs_epi32(c, c);
    return quint32(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
}

#else

Px minOne(Px v)
{
    const Px one = splat(1);
    return v < one ? v : one;
}

quint32 pack(Px v)
{
    const Px zero = splat(0), one = splat(1);
    v = v > zero ? v : zero;
    v = v < one ? v : one;
    const PxBytes bytes =
        __builtin_convertvector(__builtin_convertvector(v * 255.0f + 0.5f, PxInt), PxBytes);
    quint32 p;
    std::memcpy(&p, &bytes, sizeof p);
    return p;
}

#endif

Px unpack(quint32 p)
{
    PxBytes bytes;
    std::memcpy(&bytes, &p, sizeof bytes);
    return __builtin_convertvector(bytes, Px) * (1.0f / 255);
}

// Mixes two premultiplied pixels, `w` of 256 toward `b`.
quint32 mix(quint32 a, quint32 b, quint32 w)
{
    const quint32 rb = (((a & 0xff00ff) * (256 - w) + (b & 0xff00ff) * w) >> 8) & 0xff00ff;
    const quint32 ag = (((a >> 8) & 0xff00ff) * (256 - w) + ((b >> 8) & 0xff00ff) * w) & 0xff00ff00;
    return rb | ag;
}

// Pixels x0 to x1 of a row from a table of colours against squared distance from the centre:
// `dx` is the first pixel's horizontal distance, `dy2` the row's squared vertical distance and
// `index` the table entries per squared pixel.
void glowSpan(quint32* out, int x0, int x1, float dx, float dy2, float index,
              const std::vector<quint32>& table)
{
    const auto count = int(table.size());
    for (int x = x0; x < x1; ++x, dx += 1) {
        const int k = int((dx * dx + dy2) * index);
        out[x] = k < count ? table[size_t(k)] : 0;
    }
}

// The same in floating point, four floats a pixel.
void glowSpan(float* out, int x0, int x1, float dx, float dy2, float index,
              const std::vector<float>& table)
{
    const auto count = int(table.size() / 4);
    for (int x = x0; x < x1; ++x, dx += 1) {
        const int k = int((dx * dx + dy2) * index);
        store(out + x * 4, k < count ? load(&table[size_t(k) * 4]) : splat(0));
    }
}

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

// An opaque colour in the pixels' channel order.
std::array<float, 4> opaque(const QColor& color)
{
    return {float(color.blueF()), float(color.greenF()), float(color.redF()), 1};
}

} // namespace

OrbScene::OrbScene(Kind kind, double diameter, qreal dpr, int frameSide, double centre)
    : m_kind(kind)
    , m_diameter(diameter)
    , m_dpr(dpr)
    , m_frameSide(frameSide)
    , m_centre(centre)
{
    const auto colors = OrbPainter::palette(kind);
    const double d = diameter;

    m_glowStep = 1 / (dpr * dpr);
    const std::vector<Px> glow = radialProfile(orblayers::glow(colors, d, dpr), m_glowStep);
    m_glow.resize(glow.size() * 4);
    m_glowPixels.resize(glow.size());
    for (size_t k = 0; k < glow.size(); ++k) {
        store(&m_glow[k * 4], glow[k]);
        m_glowPixels[k] = pack(glow[k]);
    }

    m_blobStep = 1 / (dpr * dpr);
    for (int i = 0; i < 3; ++i) {
        const std::vector<Px> blob =
            radialProfile(orblayers::blob(colors[i], d * (0.52 - 0.06 * i), d, dpr), m_blobStep);
        m_blobs[i].resize(blob.size());
        for (size_t k = 0; k < blob.size(); ++k)
            m_blobs[i][k] = blob[k][3];
        m_blobColors[i] = opaque(colors[i]);
    }
    m_ringColor = opaque(colors[0]);

    const int half = int(std::ceil(kHighlightReach * d * dpr)) + 2;
    m_discOrigin = int(std::floor(centre)) - half;
    m_discSide = 2 * half + 1;
    m_discCentre = centre - m_discOrigin;
    const QSize size(m_discSide, m_discSide);
    const QPointF mid(m_discCentre / dpr, m_discCentre / dpr);
    auto layer = [&](auto paint) {
        QImage image = orblayers::canvas(size, dpr);
        paint(image);
        return toFloats(image);
    };
    m_body = layer([&](QImage& c) { orblayers::paintBody(c, mid, d); });
    const std::vector<float> disc = layer([&](QImage& c) { orblayers::paintDisc(c, mid, d); });
    m_clip.resize(disc.size() / 4);
    for (size_t i = 0; i < m_clip.size(); ++i)
        m_clip[i] = disc[i * 4 + 3];
    m_highlight = layer([&](QImage& c) { orblayers::paintHighlight(c, mid, d); });
    m_rim = layer([&](QImage& c) { orblayers::paintRim(c, mid, colors, d); });
    if (d >= OrbPainter::kSymbolMinDiameter)
        m_symbol = layer([&](QImage& c) { orblayers::paintSymbol(c, mid, kind, d); });

    // The body and the clip are the same disc, so the body's spans are the blobs' too.
    m_bodyRuns = findRuns(m_body, m_discSide);
    m_highlightRuns = findRuns(m_highlight, m_discSide);
    m_rimRuns = findRuns(m_rim, m_discSide);
    m_symbolRuns = findRuns(m_symbol, m_discSide);
    m_content.assign(size_t(m_discSide), {0, 0});
    for (const Runs* runs : {&m_bodyRuns, &m_highlightRuns, &m_rimRuns, &m_symbolRuns}) {
        for (int y = 0; y < m_discSide; ++y) {
            for (int s = runs->rowStart[y]; s < runs->rowStart[y + 1]; ++s) {
                auto& [x0, x1] = m_content[size_t(y)];
                const auto [from, to] = runs->spans[size_t(s)];
                if (x0 == x1) {
                    x0 = from;
                    x1 = to;
                } else {
                    x0 = std::min(x0, from);
                    x1 = std::max(x1, to);
                }
            }
        }
    }
    m_disc.resize(size_t(m_discSide) * size_t(m_discSide));
    m_row.resize(size_t(m_discSide) * 4);
}

bool OrbScene::matches(Kind kind, double diameter, qreal dpr, int frameSide, double centre) const
{
    return m_kind == kind && m_diameter == diameter && m_dpr == dpr && m_frameSide == frameSide &&
           m_centre == centre;
}

OrbScene::Runs OrbScene::findRuns(const std::vector<float>& layer, int side)
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
                const float* p = &layer[(size_t(y) * size_t(side) + size_t(x)) * 4];
                visible = p[0] > 0 || p[1] > 0 || p[2] > 0 || p[3] > 0;
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

void OrbScene::render(QImage& frame, double seconds)
{
    if (frame.width() != m_frameSide || frame.height() != m_frameSide ||
        frame.format() != QImage::Format_ARGB32_Premultiplied) {
        frame = QImage(m_frameSide, m_frameSide, QImage::Format_ARGB32_Premultiplied);
    }
    frame.setDevicePixelRatio(m_dpr);
    const double phase = seconds * OrbPainter::speed(m_kind);
    const double breathing = 1 + 0.035 * std::sin(1.6 * phase);
    const double glowScale = 1.3 + 0.05 * std::sin(2.1 * phase);
    float opacity = 1;
    if (m_kind == Kind::gathering) {
        const double wave = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * seconds / kPulsePeriod);
        opacity = float(1 - (1 - kPulseLow) * wave);
    }
    renderDisc(phase, glowScale, opacity);
    renderFrame(frame, breathing, glowScale);
    if (m_kind == Kind::speaking)
        renderRipples(frame, phase, breathing);
}

// The disc's square at rest size: glow, body, blobs, highlight, rim and symbol, in that order.
void OrbScene::renderDisc(double phase, double glowScale, float symbolOpacity)
{
    const int side = m_discSide;
    const float glowIndex = float(m_glowStep / (glowScale * glowScale));

    std::array<float, 3> blobX{}, blobY{};
    for (int i = 0; i < 3; ++i) {
        const double t = phase + 2.1 * i;
        const double radius = m_diameter * (0.16 + 0.05 * std::sin(0.9 * t + i));
        const double angle = t * (i % 2 == 0 ? 1.0 : -0.75);
        blobX[i] = float(m_discCentre + radius * std::cos(angle) * m_dpr);
        blobY[i] = float(m_discCentre + radius * std::sin(angle) * m_dpr);
    }
    const auto blobStep = float(m_blobStep);
    std::array<Px, 3> blobColor;
    std::array<int, 3> blobCount;
    for (int i = 0; i < 3; ++i) {
        blobColor[i] = load(m_blobColors[i].data());
        blobCount[i] = int(m_blobs[i].size());
    }

    float* row = m_row.data();
    const float first = float(0.5 - m_discCentre);
    for (int y = 0; y < side; ++y) {
        const auto base = size_t(y) * size_t(side);
        quint32* out = m_disc.data() + base;
        const float dy = float(y) + first;
        const auto [c0, c1] = m_content[size_t(y)];
        // Only glow outside the content: straight from the packed table.
        glowSpan(out, 0, c0, first, dy * dy, glowIndex, m_glowPixels);
        glowSpan(out, c1, side, float(c1) + first, dy * dy, glowIndex, m_glowPixels);
        if (c0 == c1)
            continue;
        glowSpan(row, c0, c1, float(c0) + first, dy * dy, glowIndex, m_glow);
        for (int s = m_bodyRuns.rowStart[y]; s < m_bodyRuns.rowStart[y + 1]; ++s) {
            const auto [x0, x1] = m_bodyRuns.spans[size_t(s)];
            for (int x = x0; x < x1; ++x) {
                const Px body = load(&m_body[(base + size_t(x)) * 4]);
                const Px under = body + load(row + x * 4) * (1 - body[3]);
                Px blobs = splat(0);
                for (int i = 0; i < 3; ++i) {
                    const float ex = float(x) + 0.5f - blobX[i];
                    const float ey = float(y) + 0.5f - blobY[i];
                    const int k = int((ex * ex + ey * ey) * blobStep);
                    if (k < blobCount[i])
                        blobs += blobColor[i] * m_blobs[i][size_t(k)];
                }
                store(row + x * 4, minOne(under + minOne(blobs) * m_clip[base + size_t(x)]));
            }
        }
        for (int s = m_highlightRuns.rowStart[y]; s < m_highlightRuns.rowStart[y + 1]; ++s) {
            const auto [x0, x1] = m_highlightRuns.spans[size_t(s)];
            for (int x = x0; x < x1; ++x) {
                const Px light = load(&m_highlight[(base + size_t(x)) * 4]);
                store(row + x * 4, light + load(row + x * 4) * (1 - light));
            }
        }
        for (int s = m_rimRuns.rowStart[y]; s < m_rimRuns.rowStart[y + 1]; ++s) {
            const auto [x0, x1] = m_rimRuns.spans[size_t(s)];
            for (int x = x0; x < x1; ++x)
                store(row + x * 4,
                      minOne(load(row + x * 4) + load(&m_rim[(base + size_t(x)) * 4])));
        }
        for (int s = m_symbolRuns.rowStart[y]; s < m_symbolRuns.rowStart[y + 1]; ++s) {
            const auto [x0, x1] = m_symbolRuns.spans[size_t(s)];
            for (int x = x0; x < x1; ++x) {
                const Px symbol = load(&m_symbol[(base + size_t(x)) * 4]) * symbolOpacity;
                store(row + x * 4, symbol + load(row + x * 4) * (1 - symbol[3]));
            }
        }
        for (int x = c0; x < c1; ++x)
            out[x] = pack(load(row + x * 4));
    }
}

// The whole frame at the breathing scale: the disc's content resampled where it reaches, the
// glow straight from its table everywhere else.
void OrbScene::renderFrame(QImage& frame, double breathing, double glowScale)
{
    const int n = m_frameSide;
    const double c = m_centre;
    const double scale = breathing * glowScale;
    const float glowIndex = float(m_glowStep / (scale * scale));
    const float first = float(0.5 - c);

    // Frame pixels whose centres map inside the disc's square, between its outer pixel centres.
    const double lo = c + (0.5 - m_discCentre) * breathing - 0.5;
    const double hi = c + (m_discSide - 0.5 - m_discCentre) * breathing - 0.5;
    const int inner0 = std::clamp(int(std::ceil(lo + 1e-6)), 0, n);
    const int inner1 = std::clamp(int(std::floor(hi - 1e-6)) + 1, inner0, n);
    const double inverse = 1 / breathing;
    const int last = m_discSide - 1;
    // Frame x (or y) of a position u in the disc's square.
    auto toFrame = [&](double u) { return (u - m_discCentre + 0.5) * breathing + c - 0.5; };

    // Column look-ups of the resampling, shared by every row.
    m_columns.resize(size_t(inner1 - inner0));
    for (int x = inner0; x < inner1; ++x) {
        const double u = (x + 0.5 - c) * inverse + m_discCentre - 0.5;
        int x0 = std::clamp(int(std::floor(u)), 0, last - 1);
        const auto w = quint32(std::clamp(int(std::lround((u - x0) * 256)), 0, 256));
        m_columns[size_t(x - inner0)] = {x0, w};
    }

    for (int y = 0; y < n; ++y) {
        auto* line = reinterpret_cast<quint32*>(frame.scanLine(y));
        const float dy = float(y) + first;
        int from = 0, to = 0;
        int y0 = 0;
        quint32 wy = 0;
        if (y >= inner0 && y < inner1) {
            const double v = (y + 0.5 - c) * inverse + m_discCentre - 0.5;
            y0 = std::clamp(int(std::floor(v)), 0, last - 1);
            wy = quint32(std::clamp(int(std::lround((v - y0) * 256)), 0, 256));
            // Where either source row holds content, widened by the filter's reach.
            auto [a0, a1] = m_content[size_t(y0)];
            const auto [b0, b1] = m_content[size_t(y0 + 1)];
            if (a0 == a1)
                a0 = b0, a1 = b1;
            else if (b0 != b1)
                a0 = std::min(a0, b0), a1 = std::max(a1, b1);
            if (a0 != a1) {
                from = std::clamp(int(std::floor(toFrame(a0 - 1))), inner0, inner1);
                to = std::clamp(int(std::ceil(toFrame(a1))) + 1, from, inner1);
            }
        }
        glowSpan(line, 0, from, first, dy * dy, glowIndex, m_glowPixels);
        glowSpan(line, to, n, float(to) + first, dy * dy, glowIndex, m_glowPixels);
        const quint32* top = m_disc.data() + size_t(y0) * size_t(m_discSide);
        const quint32* bottom = top + m_discSide;
        for (int x = from; x < to; ++x) {
            const auto [x0, wx] = m_columns[size_t(x - inner0)];
            line[x] = mix(mix(top[x0], top[x0 + 1], wx), mix(bottom[x0], bottom[x0 + 1], wx), wy);
        }
    }
}

// Two rings, half a cycle apart, each growing from the orb's edge to 1.45 times its size while
// fading out; drawn over everything, only where they cover.
void OrbScene::renderRipples(QImage& frame, double phase, double breathing)
{
    const int n = m_frameSide;
    const double c = m_centre;
    const Px color = load(m_ringColor.data());
    for (int i = 0; i < 2; ++i) {
        const double scaled = kRipplePeriod * phase + i / 2.0;
        const double progress = scaled - std::floor(scaled);
        const double grow = (1 + kRippleGrowth * progress) * breathing * m_dpr;
        const double radius = m_diameter / 2 * grow;
        const double halfWidth = kRippleWidth / 2 * grow;
        const float alpha = float((1 - progress) * kRippleOpacity);
        const double outer = radius + halfWidth + 1;
        const double inner = radius - halfWidth - 1;
        const int y0 = std::max(0, int(std::floor(c - outer)));
        const int y1 = std::min(n, int(std::ceil(c + outer)));
        for (int y = y0; y < y1; ++y) {
            auto* line = reinterpret_cast<quint32*>(frame.scanLine(y));
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

} // namespace vardelle
