#pragma once

#include "briefing/AnnouncerState.h"

#include <QColor>
#include <QImage>
#include <QPainter>

#include <array>
#include <list>

namespace vardelle {

// Draws one frame of the orb: a breathing sphere over a coloured glow, with drifting blobs
// inside, a highlight, a coloured rim, the state's symbol in the centre and, while speaking, two
// expanding ripples. A frame depends only on the state, the diameter and the time, so tests can
// draw any moment. What does not change between frames (the blurred glow and blobs, the body,
// the highlight, the rim, the symbol, the ripple's ring) is drawn once into images kept per state,
// diameter and device pixel ratio; a frame composites them, and the blurs are real Gaussian
// approximations made once rather than per frame.
class OrbPainter {
public:
    using Kind = AnnouncerState::Kind;

    // The panel's side over the orb's diameter: room for the glow and the ripples.
    static constexpr double kPanelRatio = 1.9;
    // Smaller orbs show no centre symbol.
    static constexpr double kSymbolMinDiameter = 56;
    // Length of the cross-fade when the state changes.
    static constexpr double kCrossFadeSeconds = 0.45;

    static std::array<QColor, 3> palette(Kind kind);
    // Radians of animation phase per second.
    static double speed(Kind kind);
    // The ease-in-out curve of a state change, for progress in [0, 1].
    static double easeInOut(double progress);

    // Draws the orb centred in `square` (the panel), which also bounds everything drawn.
    void paint(QPainter& painter, const QRectF& square, const AnnouncerState& state,
               double diameter, double seconds);
    // Draws a state change `progress` of the way (0 to 1, before easing) from `from` to `to`:
    // both looks at once with complementary weights.
    void paintCrossFade(QPainter& painter, const QRectF& square, const AnnouncerState& from,
                        const AnnouncerState& to, double diameter, double seconds, double progress);

    void clearCaches();

private:
    // Images centred on the orb (or, for the highlight, on its own centre).
    struct StateLayers {
        Kind kind;
        double diameter;
        qreal dpr;
        QImage glow;
        std::array<QImage, 3> blobs;
        QImage rim;
        QImage symbol;
        QImage ring; // only while speaking
    };
    struct SizeLayers {
        double diameter;
        qreal dpr;
        QImage body;
        QImage highlight;
        QImage clip; // the orb's disc, for clipping the blobs
    };

    const StateLayers& stateLayers(Kind kind, double diameter, qreal dpr);
    const SizeLayers& sizeLayers(double diameter, qreal dpr);
    void drawOrb(QPainter& painter, QPointF centre, Kind kind, double diameter, qreal dpr,
                 double seconds);

    std::list<StateLayers> m_states; // most recently used first
    std::list<SizeLayers> m_sizes;
    QImage m_blobLayer;
    QImage m_fadeFrom;
    QImage m_fadeTo;
};

} // namespace vardelle
