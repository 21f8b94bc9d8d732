#include "OrbScene.h"

#include "OrbLayers.h"
#include "OrbLook.h"

#include <algorithm>
#include <cmath>

namespace vardelle {

using namespace orbpixels;

namespace {

// Extra grid points computed around the disc, in frame pixels: the filter reads points up to
// one pixel away in each axis.
constexpr double kGridMargin = 4;
// How far either side of the disc's edge, in frame pixels, its coverage is partial: half a
// pixel of antialiasing, widened by the filter at the breathing scale.
constexpr double kEdgeReach = 1.5;
// The blobs' blur in device pixels from which the grid's resolution is enough and pays: the
// normal orb at every pixel ratio, the compact one from about 2.2.
constexpr double kHalfResolutionBlur = 8;
// Grid points kept past a grid row's end: the upsampling reads up to eight beyond the last one.
constexpr int kGridSlack = 8;
// How many rows of a rest-size layer ahead of the one being composed are fetched into the caches,
// and a layer's texels per cache line.
constexpr int kPrefetchRows = 3;
template <int Channels> constexpr int kLineTexels = Channels == 4 ? 16 : 64;

// Frame columns [from, to) whose pixel centres lie within `radius` of the centre on a row
// `dy` from it, or an empty span.
std::pair<int, int> chord(double c, double dy, double radius, int n)
{
    const double reach2 = radius * radius - dy * dy;
    if (reach2 <= 0)
        return {0, 0};
    const double reach = std::sqrt(reach2);
    const int from = std::clamp(int(std::ceil(c - reach - 0.5)), 0, n);
    const int to = std::clamp(int(std::floor(c + reach - 0.5)) + 1, from, n);
    return {from, to};
}

// A layer of premultiplied floats, four a pixel, as the bytes it was painted in, or its alpha
// alone.
std::vector<quint32> toPixels(const std::vector<float>& layer)
{
    std::vector<quint32> pixels(layer.size() / 4);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = pack(load(&layer[i * 4]));
    return pixels;
}

std::vector<quint8> toAlpha(const std::vector<float>& layer)
{
    std::vector<quint8> alpha(layer.size() / 4);
    for (size_t i = 0; i < alpha.size(); ++i)
        alpha[i] = quint8(std::lround(layer[i * 4 + 3] * 255));
    return alpha;
}

// A layer of premultiplied pixels (or of alpha bytes) sampled between its pixels (x0, y0) and
// (x0 + 1, y0 + 1), as floats from 0 to 1.
template <typename Texel>
inline __attribute__((always_inline)) Px bilinear(const Texel* values, int side, int x0, int y0,
                                                  float fx, float fy)
{
    const Texel* p = values + size_t(y0) * size_t(side) + size_t(x0);
    const Texel* q = p + size_t(side);
    auto at = [](const Texel* v) {
        if constexpr (sizeof(Texel) == 4) {
            return widen(*v);
        } else {
            return splat(float(*v));
        }
    };
    const Px top = at(p) + (at(p + 1) - at(p)) * fx;
    const Px bottom = at(q) + (at(q + 1) - at(q)) * fx;
    return (top + (bottom - top) * fy) * (1.0f / 255);
}

} // namespace

OrbScene::OrbScene(Kind kind, double diameter, qreal dpr, int frameSide, double centre)
    : m_kind(kind)
    , m_diameter(diameter)
    , m_dpr(dpr)
    , m_frameSide(frameSide)
    , m_centre(centre)
    , m_tables(radialTables(kind, diameter, dpr))
{
    const auto colors = orblook::palette(kind);
    const double d = diameter;
    const DiscSquare square(d, dpr, centre);
    m_discOrigin = square.origin;
    m_discSide = square.side;
    m_discCentre = square.centre;
    m_body = toPixels(
        square.layer([&](QImage& c, QPointF mid) { orblayers::paintBody(c, mid, d, false); }));
    m_clip =
        toAlpha(square.layer([&](QImage& c, QPointF mid) { orblayers::paintDisc(c, mid, d); }));
    const std::vector<float> light =
        square.layer([&](QImage& c, QPointF mid) { orblayers::paintHighlight(c, mid, d); });
    m_highlight.values = toAlpha(light);
    // The highlight's faintest tail brightens by under two levels in 255: left out.
    m_highlight.runs = findRuns(light, m_discSide, 4, 1.5f / 255);
    const std::vector<float> rim =
        square.layer([&](QImage& c, QPointF mid) { orblayers::paintRim(c, mid, colors, d); });
    m_rim.values = toPixels(rim);
    m_rim.runs = findRuns(rim, m_discSide);
    std::vector<float> symbol;
    if (d >= orblook::kSymbolMinDiameter)
        symbol =
            square.layer([&](QImage& c, QPointF mid) { orblayers::paintSymbol(c, mid, kind, d); });
    m_symbol.values = toPixels(symbol);
    m_symbol.runs = findRuns(symbol, m_discSide);

    m_gridSide = frameSide / 2 + 2;
    const auto cells = 2 * size_t(m_gridSide + kGridSlack);
    m_glowGrid.assign(cells, 0);
    m_innerGrid.assign(cells, 0);
    m_columns.resize(size_t(frameSide));
}

bool OrbScene::suits(double diameter, qreal dpr)
{
    return orblook::kBlobBlur * diameter * dpr >= kHalfResolutionBlur;
}

bool OrbScene::matches(Kind kind, double diameter, qreal dpr, int frameSide, double centre) const
{
    return m_kind == kind && m_diameter == diameter && m_dpr == dpr && m_frameSide == frameSide &&
           m_centre == centre;
}

void OrbScene::render(QImage& frame, double seconds)
{
    prepareFrame(frame, m_frameSide, m_dpr);
    render(frameRows(frame), seconds);
}

void OrbScene::render(const FrameRows& frame, double seconds)
{
    const Motion m = motion(m_kind, seconds);
    const int last = m_discSide - 2;
    for (int x = 0; x < m_frameSide; ++x) {
        const double u = (x + 0.5 - m_centre) / m.breathing + m_discCentre - 0.5;
        const int x0 = std::clamp(int(std::floor(u)), 0, last);
        m_columns[size_t(x)] = {x0, float(std::clamp(u - x0, 0.0, 1.0))};
    }
    renderRows(frame, m);
    if (m_kind == Kind::speaking)
        drawRipples(frame, m_centre, m_diameter, m_dpr, m_tables.ringColor, m.phase, m.breathing);
}

OrbScene::GridMotion OrbScene::gridMotion(const Motion& motion) const
{
    const double s = motion.breathing;
    GridMotion g;
    g.glowIndex = float(m_tables.glowStep / std::pow(motion.glowScale * s, 2));
    g.radius = m_diameter / 2 * m_dpr * s + kGridMargin;
    g.inverse = float(1 / s);
    for (int i = 0; i < 3; ++i) {
        const auto [dx, dy] = blobOffset(i, motion.phase, m_diameter);
        g.blobX[size_t(i)] = float(dx * m_dpr);
        g.blobY[size_t(i)] = float(dy * m_dpr);
    }
    return g;
}

quint32* OrbScene::glowRow(int j)
{
    return m_glowGrid.data() + size_t(j & 1) * size_t(m_gridSide + kGridSlack);
}

quint32* OrbScene::innerRow(int j)
{
    return m_innerGrid.data() + size_t(j & 1) * size_t(m_gridSide + kGridSlack);
}

// Row `j` of the half-resolution grid: the glow everywhere, and near and inside the disc also
// the body over the glow with the blobs added, as a point wholly inside the disc would show them.
void OrbScene::renderGridRow(const GridMotion& g, int j)
{
    const double c = m_centre;
    const int m = m_gridSide;
    const auto blobStep = float(m_tables.blobStep);
    const int last = m_discSide - 2;
    const auto glowCount = int(m_tables.glowPixels.size());

    quint32* glow = glowRow(j);
    quint32* inner = innerRow(j);
    const double dy = 2 * j + 0.5 - c;
    const auto first = float(0.5 - c);
    // Steps of two pixels: the same look-up over halved distances, four times as fine.
    glowSpan(glow, 0, m, first / 2, float(dy * dy / 4), g.glowIndex * 4, m_tables.glowPixels);

    // Grid point i lies on frame pixel 2i: halve the chord found in frame pixels.
    const auto [from, to] = chord(c, dy, g.radius, 2 * m);
    const auto ey = float(dy) * g.inverse;
    const float v = ey + float(m_discCentre) - 0.5f;
    const int y0 = std::clamp(int(std::floor(v)), 0, last);
    const float fy = std::clamp(v - float(y0), 0.0f, 1.0f);
    for (int i = (from + 1) / 2; i < (to + 1) / 2; ++i) {
        const auto dx = float(2 * i) + first;
        const int k = int((dx * dx + float(dy * dy)) * g.glowIndex);
        const Px under = k < glowCount ? load(&m_tables.glow[size_t(k) * 4]) : splat(0);
        const float ex = dx * g.inverse;
        const float u = ex + float(m_discCentre) - 0.5f;
        const int x0 = std::clamp(int(std::floor(u)), 0, last);
        const Px body =
            bilinear(m_body.data(), m_discSide, x0, y0, std::clamp(u - float(x0), 0.0f, 1.0f), fy);
        Px blobs = splat(0);
        for (int b = 0; b < 3; ++b) {
            const float bx = ex - g.blobX[size_t(b)], by = ey - g.blobY[size_t(b)];
            const int e = int((bx * bx + by * by) * blobStep);
            if (e < int(m_tables.blobs[b].size()))
                blobs += load(m_tables.blobColors[b].data()) * m_tables.blobs[b][size_t(e)];
        }
        inner[i] = pack(minOne(body + under * (1 - body[3]) + minOne(blobs)));
    }
}

// Every frame pixel, row by row. From the grid, scaled up by two: the glow outside the disc, the
// inner look inside it, and across its edge the two mixed by the disc's coverage, drawn once at
// rest size and sampled at the breathing scale like the layers that have edges. The grid is made
// a row at a time just before the frame rows that need it, into two rows used in turn, so it
// never leaves the first-level cache.
void OrbScene::renderRows(const FrameRows& frame, const Motion& motion)
{
    const double breathing = motion.breathing;
    const float opacity = motion.symbolOpacity;
    const int n = m_frameSide;
    const double c = m_centre;
    const double radius = m_diameter / 2 * m_dpr * breathing;
    const GridMotion grid = gridMotion(motion);
    int gridRows = 0; // the grid rows made so far
    for (int y = 0; y < n; ++y) {
        quint32* line = frame.row(y);
        const int j = y >> 1;
        const bool odd = y & 1;
        // Frame row 2j shows grid row j; row 2j + 1 the mean of rows j and j + 1.
        for (; gridRows <= j + int(odd); ++gridRows)
            renderGridRow(grid, gridRows);
        const quint32* glowA = glowRow(j);
        const quint32* glowB = odd ? glowRow(j + 1) : nullptr;
        const quint32* innerA = innerRow(j);
        const quint32* innerB = odd ? innerRow(j + 1) : nullptr;
        const double dy = y + 0.5 - c;
        const auto [outer0, outer1] = chord(c, dy, radius + kEdgeReach, n);
        const auto [inner0, inner1] = chord(c, dy, radius - kEdgeReach, n);
        const double v = dy / breathing + m_discCentre - 0.5;
        const int y0 = std::clamp(int(std::floor(v)), 0, m_discSide - 2);
        const auto fy = float(std::clamp(v - y0, 0.0, 1.0));
        if (const int ahead = y0 + kPrefetchRows; ahead < m_discSide) {
            const quint8* row = m_clip.data() + size_t(ahead) * size_t(m_discSide);
            for (int a = 0; a < m_discSide; a += kLineTexels<1>)
                __builtin_prefetch(row + a);
        }
        upsample(line, 0, outer0, glowA, glowB);
        upsample(line, outer1, n, glowA, glowB);
        upsample(line, outer0, outer1, innerA, innerB);
        // The edge: from the outer chord's ends to the inner chord's, or all of it when the row
        // passes the disc only near its top or bottom.
        auto edge = [&](int from, int to) {
            if (from >= to)
                return;
            for (int x = from; x < to; ++x) {
                const auto [x0, fx] = m_columns[size_t(x)];
                const float cover = bilinear(m_clip.data(), m_discSide, x0, y0, fx, fy)[0];
                line[x] = mix(upsampled(x, glowA, glowB), line[x], quint32(cover * 256 + 0.5f));
            }
        };
        if (inner0 >= inner1) {
            edge(outer0, outer1);
        } else {
            edge(outer0, inner0);
            edge(inner1, outer1);
        }

        // The layers with edges, while the row is at hand.
        composeRow<1>(line, y, m_highlight, breathing,
                      [](Px under, Px light) { return light + under * (1 - light); });
        composeRow<4>(line, y, m_rim, breathing,
                      [](Px under, Px rim) { return minOne(under + rim); });
        composeRow<4>(line, y, m_symbol, breathing, [opacity](Px under, Px symbol) {
            symbol *= opacity;
            return symbol + under * (1 - symbol[3]);
        });
    }
}

// Lays row `y` of a rest-size layer over the frame's row `line` at the breathing scale, sampled
// bilinearly, only where it reaches: `compose(under, layer)` gives each pixel's new colour.
template <int Channels>
void OrbScene::composeRow(quint32* line, int y, const Layer<Channels>& layer, double breathing,
                          const auto& compose)
{
    if (layer.values.empty())
        return;
    const int n = m_frameSide;
    const double v = (y + 0.5 - m_centre) / breathing + m_discCentre - 0.5;
    if (v < -1 || v > m_discSide)
        return;
    const int y0 = std::clamp(int(std::floor(v)), 0, m_discSide - 2);
    const auto fy = float(std::clamp(v - y0, 0.0, 1.0));
    auto toFrame = [&](double u) { return (u - m_discCentre + 0.5) * breathing + m_centre - 0.5; };
    // A layer's runs jump from row to row where no prefetcher follows, and a frame finds the
    // caches cold: ask for the rows a few frame rows on while this one is composed.
    if (const int ahead = y0 + kPrefetchRows; ahead < m_discSide) {
        for (int s = layer.runs.rowStart[ahead]; s < layer.runs.rowStart[ahead + 1]; ++s) {
            const auto [a0, a1] = layer.runs.spans[size_t(s)];
            const auto* row = layer.values.data() + size_t(ahead) * size_t(m_discSide);
            for (int a = a0; a < a1 + kLineTexels<Channels>; a += kLineTexels<Channels>)
                __builtin_prefetch(row + std::min(a, a1));
        }
    }
    // Where either source row holds the layer, widened by the filter's reach, each pixel once.
    m_spans.clear();
    for (const int row : {y0, y0 + 1}) {
        for (int s = layer.runs.rowStart[row]; s < layer.runs.rowStart[row + 1]; ++s) {
            const auto [a0, a1] = layer.runs.spans[size_t(s)];
            const int from = std::clamp(int(std::floor(toFrame(a0 - 1))), 0, n);
            m_spans.emplace_back(from, std::clamp(int(std::ceil(toFrame(a1))) + 1, from, n));
        }
    }
    std::sort(m_spans.begin(), m_spans.end());
    int done = 0;
    for (const auto& [from, to] : m_spans) {
        for (int x = std::max(from, done); x < to; ++x) {
            const auto [x0, fx] = m_columns[size_t(x)];
            const Px value = bilinear(layer.values.data(), m_discSide, x0, y0, fx, fy);
            line[x] = pack(compose(unpack(line[x]), value));
        }
        done = std::max(done, to);
    }
}

} // namespace vardelle
