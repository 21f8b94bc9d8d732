#pragma once

#include "OrbPixels.h"
#include "briefing/AnnouncerState.h"

#include <QImage>

#include <array>
#include <vector>

namespace vardelle {

// One state's orb at one diameter, pixel density and frame size, every layer composed at full
// resolution. This is what draws the orb wherever its blurs are too narrow for OrbScene's
// half-resolution grid: the compact orb up to a pixel ratio of about 2.1. It is also the
// benchmark's baseline, and the orb OrbScene's frames are compared with where both apply.
// Everything that does not move is rasterised once at full quality; a frame then only composites
// it.
//
// The frame is built in the layers' own order and blend modes, per pixel and in floating point:
// glow, body over it, the blobs added (clipped to the disc), the highlight screened, the rim
// added, the symbol over it, and the ripples over everything. The glow, the blobs and the ripples
// are round, so each is a table of colour against squared distance from its centre: scaling or
// moving them is a change of look-up index, not a resampling. The disc's content is composed at
// rest size and then resampled once, bilinearly, for the breathing scale.
//
// Frames are drawn with plain loops rather than QPainter on purpose: QPainter sends transformed
// and non-source-over drawing of more than about a hundred scan lines to a thread pool and waits
// for it, which on a frame this small costs far more in wake-ups than the drawing itself.
class OrbFullResolutionScene {
public:
    using Kind = AnnouncerState::Kind;

    // A scene for frames of `frameSide` × `frameSide` device pixels with the orb's centre at
    // (`centre`, `centre`) device pixels.
    OrbFullResolutionScene(Kind kind, double diameter, qreal dpr, int frameSide, double centre);

    bool matches(Kind kind, double diameter, qreal dpr, int frameSide, double centre) const;

    // Replaces every pixel of `frame` with the orb at `seconds`. `frame` is (re)allocated as a
    // premultiplied ARGB image of the frame size with the scene's device pixel ratio.
    void render(QImage& frame, double seconds);
    // The same into rows of the frame's size that the caller holds.
    void render(const orbpixels::FrameRows& frame, double seconds);

private:
    using Runs = orbpixels::Runs;

    void renderDisc(double phase, double glowScale, float symbolOpacity);
    void renderFrame(const orbpixels::FrameRows& frame, double breathing, double glowScale);

    Kind m_kind;
    double m_diameter;
    qreal m_dpr;
    int m_frameSide;
    double m_centre;

    orbpixels::RadialTables m_tables;

    // The disc's square: m_discSide pixels from m_discOrigin (in frame pixels, both axes); the
    // centre lies at m_discCentre in it. Static layers as premultiplied floats, four a pixel.
    int m_discSide = 0;
    int m_discOrigin = 0;
    double m_discCentre = 0;
    std::vector<float> m_body;
    std::vector<float> m_clip; // coverage of the disc, one float per pixel
    std::vector<float> m_highlight;
    std::vector<float> m_rim;
    std::vector<float> m_symbol;
    Runs m_bodyRuns, m_highlightRuns, m_rimRuns, m_symbolRuns;
    // Per row, the span that holds anything but glow; empty rows hold (0, 0).
    std::vector<std::pair<int, int>> m_content;

    // Per frame: the disc's content at rest size, and one row of it in floating point.
    std::vector<quint32> m_disc;
    std::vector<float> m_row;
    std::vector<std::pair<int, quint32>> m_columns; // resampling: source column and weight
};

} // namespace vardelle
