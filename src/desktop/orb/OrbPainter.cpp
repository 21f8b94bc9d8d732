#include "OrbPainter.h"

#include "OrbFullResolutionScene.h"
#include "OrbPixels.h"
#include "OrbScene.h"

#include <QEasingCurve>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <list>

namespace vardelle {

namespace {

// Scenes kept: every state at one size, and the last size while switching.
constexpr size_t kMaxScenes = 6;

qreal devicePixelRatioOf(const QPainter& painter)
{
    return painter.device() ? painter.device()->devicePixelRatio() : 1.0;
}

// Device pixels a side of the frame has: those of the square's smaller side, a fraction rounded
// up.
int frameSideFor(const QRectF& square, qreal dpr)
{
    return int(std::ceil(std::min(square.width(), square.height()) * dpr - 1e-9));
}

// The orb's centre in the frame, in device pixels.
double centreFor(const QRectF& square, qreal dpr)
{
    return std::min(square.width(), square.height()) * dpr / 2;
}

// The scene for these parameters from `scenes`, made if missing and moved to the front.
template <typename Scene>
Scene& sceneIn(std::list<Scene>& scenes, AnnouncerState::Kind kind, double diameter, qreal dpr,
               int frameSide, double centre)
{
    for (auto it = scenes.begin(); it != scenes.end(); ++it) {
        if (it->matches(kind, diameter, dpr, frameSide, centre)) {
            scenes.splice(scenes.begin(), scenes, it);
            return scenes.front();
        }
    }
    scenes.emplace_front(kind, diameter, dpr, frameSide, centre);
    if (scenes.size() > kMaxScenes)
        scenes.pop_back();
    return scenes.front();
}

} // namespace

double OrbPainter::easeInOut(double progress)
{
    static const QEasingCurve curve = [] {
        QEasingCurve c(QEasingCurve::BezierSpline);
        c.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
        return c;
    }();
    return curve.valueForProgress(std::clamp(progress, 0.0, 1.0));
}

struct OrbPainter::Frames {
    std::list<OrbScene> scenes; // most recently used first
    std::list<OrbFullResolutionScene> fullResolutionScenes;
    QImage frame;
    QImage fadeTo;

    // Renders `kind` into `rows`, the panel's square at the pixel ratio `dpr` with the orb's
    // centre at (`centre`, `centre`).
    void render(Renderer renderer, const orbpixels::FrameRows& rows, qreal dpr, double centre,
                Kind kind, double diameter, double seconds)
    {
        if (renderer == Renderer::fullResolution || !OrbScene::suits(diameter, dpr))
            sceneIn(fullResolutionScenes, kind, diameter, dpr, rows.side, centre)
                .render(rows, seconds);
        else
            sceneIn(scenes, kind, diameter, dpr, rows.side, centre).render(rows, seconds);
    }

    // Renders the cross-fade at `weight` (after easing) into `rows`.
    void compose(Renderer renderer, const orbpixels::FrameRows& rows, qreal dpr, double centre,
                 Kind from, Kind to, double weight, double diameter, double seconds)
    {
        if (from == to || weight >= 1)
            return render(renderer, rows, dpr, centre, to, diameter, seconds);
        render(renderer, rows, dpr, centre, from, diameter, seconds);
        if (weight <= 0)
            return;
        orbpixels::prepareFrame(fadeTo, rows.side, dpr);
        render(renderer, orbpixels::frameRows(fadeTo), dpr, centre, to, diameter, seconds);
        orbpixels::mixInto(rows, fadeTo, weight);
    }
};

OrbPainter::OrbPainter(Renderer renderer)
    : m_renderer(renderer)
    , m_frames(std::make_unique<Frames>())
{
}

OrbPainter::~OrbPainter() = default;

void OrbPainter::setRenderer(Renderer renderer)
{
    if (m_renderer == renderer)
        return;
    m_renderer = renderer;
    clearCaches();
}

void OrbPainter::clearCaches()
{
    *m_frames = Frames();
}

void OrbPainter::blit(QPainter& painter, const QRectF& square, const QImage& frame)
{
    const QSizeF size = frame.deviceIndependentSize();
    // A frame a fraction of a pixel larger than a fractional square is clipped to it; the usual
    // whole square needs no clip, which keeps the blit on QPainter's plain copying path.
    const bool clip = size.width() > square.width() || size.height() > square.height();
    if (clip) {
        painter.save();
        painter.setClipRect(square, Qt::IntersectClip);
    }
    painter.drawImage(square.topLeft(), frame);
    if (clip)
        painter.restore();
}

void OrbPainter::paint(QPainter& painter, const QRectF& square, const AnnouncerState& state,
                       double diameter, double seconds)
{
    paintCrossFade(painter, square, state, state, diameter, seconds, 1);
}

void OrbPainter::paintCrossFade(QPainter& painter, const QRectF& square, const AnnouncerState& from,
                                const AnnouncerState& to, double diameter, double seconds,
                                double progress)
{
    if (!(diameter >= 1) || square.isEmpty())
        return;
    const qreal dpr = devicePixelRatioOf(painter);
    QImage& frame = m_frames->frame;
    orbpixels::prepareFrame(frame, frameSideFor(square, dpr), dpr);
    m_frames->compose(m_renderer, orbpixels::frameRows(frame), dpr, centreFor(square, dpr),
                      from.kind, to.kind, easeInOut(progress), diameter, seconds);
    blit(painter, square, frame);
}

bool OrbPainter::drawInto(QImage& image, const QRectF& square, const AnnouncerState& from,
                          const AnnouncerState& to, double diameter, double seconds,
                          double progress)
{
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        return false;
    if (!(diameter >= 1) || square.isEmpty())
        return true;
    const qreal dpr = image.devicePixelRatio();
    const int side = frameSideFor(square, dpr);
    const QPointF corner = square.topLeft() * dpr;
    const QPoint origin = corner.toPoint();
    if (std::abs(corner.x() - origin.x()) > 1e-6 || std::abs(corner.y() - origin.y()) > 1e-6 ||
        !image.rect().contains(QRect(origin, QSize(side, side))))
        return false;
    m_frames->compose(m_renderer, orbpixels::frameRows(image, origin, side), dpr,
                      centreFor(square, dpr), from.kind, to.kind, easeInOut(progress), diameter,
                      seconds);
    return true;
}

} // namespace vardelle
