#include "OrbFullResolutionScene.h"

#include "OrbLayers.h"
#include "OrbLook.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

namespace vardelle {

using namespace orbpixels;

OrbFullResolutionScene::OrbFullResolutionScene(Kind kind, double diameter, qreal dpr, int frameSide,
                                               double centre)
    : m_kind(kind)
    , m_diameter(diameter)
    , m_dpr(dpr)
    , m_frameSide(frameSide)
    , m_centre(centre)
{
    const auto colors = orblook::palette(kind);
    const double d = diameter;
    m_tables = radialTables(kind, d, dpr);

    const DiscSquare square(d, dpr, centre);
    m_discOrigin = square.origin;
    m_discSide = square.side;
    m_discCentre = square.centre;
    m_body = square.layer([&](QImage& c, QPointF mid) { orblayers::paintBody(c, mid, d); });
    const std::vector<float> disc =
        square.layer([&](QImage& c, QPointF mid) { orblayers::paintDisc(c, mid, d); });
    m_clip.resize(disc.size() / 4);
    for (size_t i = 0; i < m_clip.size(); ++i)
        m_clip[i] = disc[i * 4 + 3];
    m_highlight =
        square.layer([&](QImage& c, QPointF mid) { orblayers::paintHighlight(c, mid, d); });
    m_rim = square.layer([&](QImage& c, QPointF mid) { orblayers::paintRim(c, mid, colors, d); });
    if (d >= orblook::kSymbolMinDiameter)
        m_symbol =
            square.layer([&](QImage& c, QPointF mid) { orblayers::paintSymbol(c, mid, kind, d); });

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

bool OrbFullResolutionScene::matches(Kind kind, double diameter, qreal dpr, int frameSide,
                                     double centre) const
{
    return m_kind == kind && m_diameter == diameter && m_dpr == dpr && m_frameSide == frameSide &&
           m_centre == centre;
}

void OrbFullResolutionScene::render(QImage& frame, double seconds)
{
    prepareFrame(frame, m_frameSide, m_dpr);
    render(frameRows(frame), seconds);
}

void OrbFullResolutionScene::render(const FrameRows& frame, double seconds)
{
    const Motion m = motion(m_kind, seconds);
    renderDisc(m.phase, m.glowScale, m.symbolOpacity);
    renderFrame(frame, m.breathing, m.glowScale);
    if (m_kind == Kind::speaking)
        drawRipples(frame, m_centre, m_diameter, m_dpr, m_tables.ringColor, m.phase, m.breathing);
}

// The disc's square at rest size: glow, body, blobs, highlight, rim and symbol, in that order.
void OrbFullResolutionScene::renderDisc(double phase, double glowScale, float symbolOpacity)
{
    const int side = m_discSide;
    const float glowIndex = float(m_tables.glowStep / (glowScale * glowScale));

    std::array<float, 3> blobX{}, blobY{};
    for (int i = 0; i < 3; ++i) {
        const auto [dx, dy] = blobOffset(i, phase, m_diameter);
        blobX[i] = float(m_discCentre + dx * m_dpr);
        blobY[i] = float(m_discCentre + dy * m_dpr);
    }
    const auto blobStep = float(m_tables.blobStep);
    std::array<Px, 3> blobColor;
    std::array<int, 3> blobCount;
    for (int i = 0; i < 3; ++i) {
        blobColor[i] = load(m_tables.blobColors[i].data());
        blobCount[i] = int(m_tables.blobs[i].size());
    }

    float* row = m_row.data();
    const float first = float(0.5 - m_discCentre);
    for (int y = 0; y < side; ++y) {
        const auto base = size_t(y) * size_t(side);
        quint32* out = m_disc.data() + base;
        const float dy = float(y) + first;
        const auto [c0, c1] = m_content[size_t(y)];
        // Only glow outside the content: straight from the packed table.
        glowSpan(out, 0, c0, first, dy * dy, glowIndex, m_tables.glowPixels);
        glowSpan(out, c1, side, float(c1) + first, dy * dy, glowIndex, m_tables.glowPixels);
        if (c0 == c1)
            continue;
        glowSpan(row, c0, c1, float(c0) + first, dy * dy, glowIndex, m_tables.glow);
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
                        blobs += blobColor[i] * m_tables.blobs[i][size_t(k)];
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
void OrbFullResolutionScene::renderFrame(const FrameRows& frame, double breathing, double glowScale)
{
    const int n = m_frameSide;
    const double c = m_centre;
    const double scale = breathing * glowScale;
    const float glowIndex = float(m_tables.glowStep / (scale * scale));
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
        quint32* line = frame.row(y);
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
        glowSpan(line, 0, from, first, dy * dy, glowIndex, m_tables.glowPixels);
        glowSpan(line, to, n, float(to) + first, dy * dy, glowIndex, m_tables.glowPixels);
        const quint32* top = m_disc.data() + size_t(y0) * size_t(m_discSide);
        const quint32* bottom = top + m_discSide;
        for (int x = from; x < to; ++x) {
            const auto [x0, wx] = m_columns[size_t(x - inner0)];
            line[x] = mix(mix(top[x0], top[x0 + 1], wx), mix(bottom[x0], bottom[x0 + 1], wx), wy);
        }
    }
}

} // namespace vardelle
