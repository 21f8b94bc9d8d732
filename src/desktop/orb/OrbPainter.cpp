#include "OrbPainter.h"

#include "OrbPixels.h"

#include <QEasingCurve>
#include <QPainter>

#include <algorithm>
#include <cmath>

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
Scene& sceneIn(std::list<Scene>& scenes, OrbPainter::Kind kind, double diameter, qreal dpr,
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

std::array<QColor, 3> OrbPainter::palette(Kind kind)
{
    auto rgb = [](float r, float g, float b) { return QColor::fromRgbF(r, g, b); };
    switch (kind) {
    case Kind::idle:
        return {rgb(0.1f, 0.65f, 0.95f), rgb(0.35f, 0.3f, 0.95f), rgb(0.05f, 0.85f, 0.8f)};
    case Kind::gathering:
        return {rgb(0.2f, 0.8f, 0.95f), rgb(0.1f, 0.55f, 1.0f), rgb(0.55f, 0.35f, 1.0f)};
    case Kind::speaking:
        return {rgb(0.1f, 0.9f, 0.65f), rgb(0.2f, 0.75f, 1.0f), rgb(0.55f, 0.95f, 0.45f)};
    case Kind::failed:
        return {rgb(1.0f, 0.35f, 0.3f), rgb(0.95f, 0.55f, 0.2f), rgb(0.8f, 0.2f, 0.35f)};
    }
    return palette(Kind::idle);
}

double OrbPainter::speed(Kind kind)
{
    switch (kind) {
    case Kind::idle:
        return 0.3;
    case Kind::gathering:
        return 1.1;
    case Kind::speaking:
        return 1.3;
    case Kind::failed:
        return 0.2;
    }
    return 0.3;
}

double OrbPainter::easeInOut(double progress)
{
    static const QEasingCurve curve = [] {
        QEasingCurve c(QEasingCurve::BezierSpline);
        c.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
        return c;
    }();
    return curve.valueForProgress(std::clamp(progress, 0.0, 1.0));
}

OrbPainter::OrbPainter(Renderer renderer)
    : m_renderer(renderer)
{
}

void OrbPainter::setRenderer(Renderer renderer)
{
    if (m_renderer == renderer)
        return;
    m_renderer = renderer;
    clearCaches();
}

void OrbPainter::clearCaches()
{
    m_scenes.clear();
    m_referenceScenes.clear();
    m_frame = {};
    m_fadeTo = {};
}

void OrbPainter::render(const orbpixels::FrameRows& frame, qreal dpr, double centre, Kind kind,
                        double diameter, double seconds)
{
    if (m_renderer == Renderer::reference || !OrbScene::suits(diameter, dpr))
        sceneIn(m_referenceScenes, kind, diameter, dpr, frame.side, centre).render(frame, seconds);
    else
        sceneIn(m_scenes, kind, diameter, dpr, frame.side, centre).render(frame, seconds);
}

void OrbPainter::compose(const orbpixels::FrameRows& frame, qreal dpr, double centre, Kind from,
                         Kind to, double weight, double diameter, double seconds)
{
    if (from == to || weight >= 1)
        return render(frame, dpr, centre, to, diameter, seconds);
    render(frame, dpr, centre, from, diameter, seconds);
    if (weight <= 0)
        return;
    orbpixels::prepareFrame(m_fadeTo, frame.side, dpr);
    render(orbpixels::frameRows(m_fadeTo), dpr, centre, to, diameter, seconds);
    orbpixels::mixInto(frame, m_fadeTo, weight);
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
    orbpixels::prepareFrame(m_frame, frameSideFor(square, dpr), dpr);
    compose(orbpixels::frameRows(m_frame), dpr, centreFor(square, dpr), from.kind, to.kind,
            easeInOut(progress), diameter, seconds);
    blit(painter, square, m_frame);
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
    compose(orbpixels::frameRows(image, origin, side), dpr, centreFor(square, dpr), from.kind,
            to.kind, easeInOut(progress), diameter, seconds);
    return true;
}

} // namespace vardelle
