#pragma once

#include "briefing/AnnouncerState.h"

#include <QRectF>

#include <memory>

class QImage;
class QPainter;

namespace vardelle {

// Draws one frame of the orb: a breathing sphere over a coloured glow, with drifting blobs
// inside, a highlight, a coloured rim, the state's symbol in the centre and, while speaking, two
// expanding ripples. A frame depends only on the state, the diameter and the time, so tests can
// draw any moment. What does not move is rasterised once per state, diameter, device pixel ratio
// and panel size (a scene, a few of them kept); a frame is composed from it in one image that is
// then drawn with a single unscaled blit.
class OrbPainter {
public:
    using Kind = AnnouncerState::Kind;

    // How frames are composed: `fast` computes the soft layers at half resolution (OrbScene)
    // where the orb's blurs are wide enough for it, and every layer at full resolution
    // (OrbFullResolutionScene) elsewhere; `fullResolution` composes every frame at full
    // resolution, as the orb once did everywhere, for the benchmark's baseline. The two look the
    // same to within about one level in 255.
    enum class Renderer { fast, fullResolution };

    explicit OrbPainter(Renderer renderer = Renderer::fast);
    ~OrbPainter();
    OrbPainter(const OrbPainter&) = delete;
    OrbPainter& operator=(const OrbPainter&) = delete;
    Renderer renderer() const { return m_renderer; }
    void setRenderer(Renderer renderer);

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
    // The scenes kept and the frames composed, with what renders into them.
    struct Frames;

    static void blit(QPainter& painter, const QRectF& square, const QImage& frame);

    Renderer m_renderer;
    std::unique_ptr<Frames> m_frames;
};

} // namespace vardelle
