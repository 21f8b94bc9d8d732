#pragma once

#include "OrbReferenceScene.h"
#include "OrbScene.h"
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
// draw any moment. What does not move is rasterised once per state, diameter, device pixel ratio
// and panel size (an OrbScene, a few of them kept); a frame is composed from it in one image that
// is then drawn with a single unscaled blit.
class OrbPainter {
public:
    using Kind = AnnouncerState::Kind;

    // How frames are composed: `fast` computes the soft layers at half resolution (OrbScene);
    // `reference` composes every layer at full resolution (OrbReferenceScene), as the orb did
    // before. The two look the same to within about one level in 255; the reference is kept to
    // check that, and as the benchmark's baseline.
    enum class Renderer { fast, reference };

    explicit OrbPainter(Renderer renderer = Renderer::fast);
    Renderer renderer() const { return m_renderer; }
    void setRenderer(Renderer renderer);

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

    // Composes the frame straight into `image` (a window's backing store, say) instead of
    // painting it: every pixel of the orb's square `square`, in the image's logical coordinates,
    // is replaced, the cross-fade from `from` included while `progress` is below 1. Returns false
    // and draws nothing unless the image is premultiplied ARGB and holds the square on whole
    // device pixels; the frame's last row and column may reach past a square of a fractional
    // number of device pixels.
    bool drawInto(QImage& image, const QRectF& square, const AnnouncerState& from,
                  const AnnouncerState& to, double diameter, double seconds, double progress = 1);

    void clearCaches();

private:
    // Renders `kind` into `frame`, the panel's square at the pixel ratio `dpr` with the orb's
    // centre at (`centre`, `centre`).
    void render(const orbpixels::FrameRows& frame, qreal dpr, double centre, Kind kind,
                double diameter, double seconds);
    // Renders the cross-fade at `weight` (after easing) into `frame`.
    void compose(const orbpixels::FrameRows& frame, qreal dpr, double centre, Kind from, Kind to,
                 double weight, double diameter, double seconds);
    static void blit(QPainter& painter, const QRectF& square, const QImage& frame);

    Renderer m_renderer;
    std::list<OrbScene> m_scenes; // most recently used first
    std::list<OrbReferenceScene> m_referenceScenes;
    QImage m_frame;
    QImage m_fadeTo;
};

} // namespace vardelle
