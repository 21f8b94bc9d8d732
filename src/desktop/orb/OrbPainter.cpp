#include "OrbPainter.h"

#include "OrbPixels.h"

#include <QEasingCurve>

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

void OrbPainter::render(QImage& frame, const QPainter& painter, const QRectF& square, Kind kind,
                        double diameter, double seconds)
{
    const qreal dpr = devicePixelRatioOf(painter);
    const double side = std::min(square.width(), square.height()) * dpr;
    const int frameSide = int(std::ceil(side - 1e-9));
    if (m_renderer == Renderer::reference || !OrbScene::suits(diameter, dpr))
        sceneIn(m_referenceScenes, kind, diameter, dpr, frameSide, side / 2).render(frame, seconds);
    else
        sceneIn(m_scenes, kind, diameter, dpr, frameSide, side / 2).render(frame, seconds);
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
    if (!(diameter >= 1) || square.isEmpty())
        return;
    render(m_frame, painter, square, state.kind, diameter, seconds);
    blit(painter, square, m_frame);
}

void OrbPainter::paintCrossFade(QPainter& painter, const QRectF& square, const AnnouncerState& from,
                                const AnnouncerState& to, double diameter, double seconds,
                                double progress)
{
    const double weight = easeInOut(progress);
    if (from.kind == to.kind || weight >= 1)
        return paint(painter, square, to, diameter, seconds);
    if (weight <= 0)
        return paint(painter, square, from, diameter, seconds);
    if (!(diameter >= 1) || square.isEmpty())
        return;
    render(m_frame, painter, square, from.kind, diameter, seconds);
    render(m_fadeTo, painter, square, to.kind, diameter, seconds);
    orbpixels::mixInto(m_frame, m_fadeTo, weight);
    blit(painter, square, m_frame);
}

} // namespace vardelle
