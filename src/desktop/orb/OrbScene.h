#pragma once

#include "OrbPixels.h"
#include "briefing/AnnouncerState.h"

#include <QImage>

#include <array>
#include <type_traits>
#include <vector>

namespace vardelle {

// One state's orb at one diameter, pixel density and frame size, prepared so that a frame costs
// little more than one pass over its pixels.
//
// The soft layers (glow, body shading, blobs) change slowly across the orb, so a frame computes
// them on a grid of half the device resolution, in the layers' order and blend modes, and scales
// that grid up by two with linear filtering. What has a crisp edge stays at device pixels: the
// disc's edge, the highlight, the rim and the
// symbol are rasterised once at rest size and sampled bilinearly at the breathing scale, then
// screened, added and laid over the soft layers where they reach. The ripples are drawn last,
// exactly. The result matches OrbFullResolutionScene, which composes every layer at full
// resolution, to within about one level in 255.
class OrbScene {
public:
    using Kind = AnnouncerState::Kind;

    // A scene for frames of `frameSide` × `frameSide` device pixels with the orb's centre at
    // (`centre`, `centre`) device pixels.
    OrbScene(Kind kind, double diameter, qreal dpr, int frameSide, double centre);

    // Whether the orb's blurs are wide enough at this size for the half-resolution grid to
    // match OrbFullResolutionScene and to pay (the compact orb below a pixel ratio of about 2.1
    // is not); smaller orbs cost little composed at full resolution.
    static bool suits(double diameter, qreal dpr);

    bool matches(Kind kind, double diameter, qreal dpr, int frameSide, double centre) const;

    // Replaces every pixel of `frame` with the orb at `seconds`. `frame` is (re)allocated as a
    // premultiplied ARGB image of the frame size with the scene's device pixel ratio.
    void render(QImage& frame, double seconds);
    // The same into rows of the frame's size that the caller holds.
    void render(const orbpixels::FrameRows& frame, double seconds);

private:
    // A pixel of a layer kept at rest size in the disc's square: premultiplied ARGB32, or an
    // alpha alone. The layers are painted in those bytes, so keeping them so loses nothing, and
    // a frame reads a quarter of the memory floats would take.
    template <int Channels> using Texel = std::conditional_t<Channels == 4, quint32, quint8>;
    template <int Channels> struct Layer {
        std::vector<Texel<Channels>> values;
        orbpixels::Runs runs;
    };

    // What the grid's rows share in a frame.
    struct GridMotion {
        float glowIndex = 0;
        double radius = 0;
        float inverse = 1;
        std::array<float, 3> blobX{}, blobY{};
    };
    GridMotion gridMotion(const orbpixels::Motion& motion) const;
    quint32* glowRow(int j);
    quint32* innerRow(int j);
    void renderGridRow(const GridMotion& grid, int j);
    void renderRows(const orbpixels::FrameRows& frame, const orbpixels::Motion& motion);
    template <int Channels>
    void composeRow(quint32* line, int y, const Layer<Channels>& layer, double breathing,
                    const auto& compose);

    Kind m_kind;
    double m_diameter;
    qreal m_dpr;
    int m_frameSide;
    double m_centre;

    orbpixels::RadialTables m_tables;

    // The disc's square: m_discSide pixels from m_discOrigin (in frame pixels, both axes); the
    // centre lies at m_discCentre in it.
    int m_discSide = 0;
    int m_discOrigin = 0;
    double m_discCentre = 0;
    // The body's fills over the whole square, not clipped to the disc.
    std::vector<quint32> m_body;
    std::vector<quint8> m_clip; // coverage of the disc
    Layer<1> m_highlight;       // white: its alpha alone
    Layer<4> m_rim;
    Layer<4> m_symbol; // empty on small orbs

    // Per frame, at half resolution: grid point (i, j) lies on frame pixel (2i, 2j). The glow
    // alone, and the glow under the body and the blobs as inside the disc; two rows of each, for
    // rows j and j + 1 in turn.
    int m_gridSide = 0;
    std::vector<quint32> m_glowGrid;
    std::vector<quint32> m_innerGrid;
    // Per frame: for each frame column, the disc-square column left of it and the weight of the
    // one right of it, at the breathing scale.
    std::vector<std::pair<int, float>> m_columns;
    std::vector<std::pair<int, int>> m_spans; // one row's spans of a layer, in frame pixels
};

} // namespace vardelle
