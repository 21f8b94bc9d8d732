#include "OrbPainter.h"

#include "ImageBlur.h"
#include "OrbSymbols.h"

#include <QEasingCurve>
#include <QRadialGradient>

#include <cmath>
#include <numbers>

namespace vardelle {

namespace {

constexpr size_t kMaxStateLayers = 8;
constexpr size_t kMaxSizeLayers = 4;

// Blur deviations and shapes, as fractions of the diameter.
constexpr double kGlowBlur = 0.1;
constexpr double kBlobBlur = 0.085;
constexpr double kHighlightBlur = 0.035;
constexpr double kHighlightWidth = 0.46;
constexpr double kHighlightHeight = 0.26;
constexpr double kHighlightRise = 0.26;
constexpr double kSymbolSize = 0.24;
// The symbol's shadow, in points.
constexpr double kShadowBlur = 3;
constexpr double kShadowDrop = 1;
// One pulse of the gathering symbol, in seconds, and its faintest opacity.
constexpr double kPulsePeriod = 1.4;
constexpr double kPulseLow = 0.35;

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

// A transparent image of at least `size` points, with the device pixel ratio set.
QImage makeImage(QSizeF size, qreal dpr)
{
    QImage image(QSize(int(std::ceil(size.width() * dpr)), int(std::ceil(size.height() * dpr))),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    return image;
}

QPointF middle(const QImage& image)
{
    const QSizeF size = image.deviceIndependentSize();
    return {size.width() / 2, size.height() / 2};
}

void drawCentred(QPainter& painter, const QImage& image, QPointF centre, qreal scale = 1)
{
    const QSizeF size = image.deviceIndependentSize() * scale;
    painter.drawImage(QRectF(centre.x() - size.width() / 2, centre.y() - size.height() / 2,
                             size.width(), size.height()),
                      image);
}

QImage glowImage(const std::array<QColor, 3>& colors, double d, qreal dpr)
{
    QImage image = makeImage(QSizeF(d, d) * (1 + 6 * kGlowBlur), dpr);
    const QPointF c = middle(image);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient gradient(c, 0.72 * d, c, 0.28 * d);
    gradient.setColorAt(0, withAlpha(colors[0], 0.55));
    gradient.setColorAt(0.5, withAlpha(colors[1], 0.18));
    gradient.setColorAt(1, withAlpha(colors[1], 0));
    p.setPen(Qt::NoPen);
    p.setBrush(gradient);
    p.drawEllipse(c, d / 2, d / 2);
    p.end();
    blurImage(image, kGlowBlur * d * dpr);
    return image;
}

QImage blobImage(const QColor& color, double size, double d, qreal dpr)
{
    const double margin = 3 * kBlobBlur * d;
    QImage image = makeImage(QSizeF(size, size) + QSizeF(2 * margin, 2 * margin), dpr);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(withAlpha(color, 0.62));
    p.drawEllipse(middle(image), size / 2, size / 2);
    p.end();
    blurImage(image, kBlobBlur * d * dpr);
    return image;
}

QImage rimImage(const std::array<QColor, 3>& colors, double d, qreal dpr)
{
    QImage image = makeImage(QSizeF(d + 2, d + 2), dpr);
    const QPointF c = middle(image);
    // Clockwise from three o'clock: the conical gradient runs the other way, so mirror the stops.
    QConicalGradient gradient(c, 0);
    gradient.setColorAt(0, colors[0]);
    gradient.setColorAt(1.0 / 3, colors[2]);
    gradient.setColorAt(2.0 / 3, colors[1]);
    gradient.setColorAt(1, colors[0]);
    const double width = std::max(0.018 * d, 1.0);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(0.75);
    p.setPen(QPen(QBrush(gradient), width));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, (d - width) / 2, (d - width) / 2);
    return image;
}

// A ripple at full opacity: a circle of the orb's size stroked 2 points wide on its outline.
QImage ringImage(const QColor& color, double d, qreal dpr)
{
    QImage image = makeImage(QSizeF(d + 4, d + 4), dpr);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(color, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(middle(image), d / 2, d / 2);
    return image;
}

QImage symbolImage(AnnouncerState::Kind kind, double d, qreal dpr)
{
    const double size = kSymbolSize * d;
    const double margin = 3 * kShadowBlur + kShadowDrop + 1;
    QImage image =
        makeImage(QSizeF(orbSymbolWidth(kind) * size, size) + QSizeF(2 * margin, 2 * margin), dpr);
    const QPointF c = middle(image);
    {
        QPainter p(&image);
        drawOrbSymbol(p, kind, c + QPointF(0, kShadowDrop), size, QColor::fromRgbF(0, 0, 0, 0.35f));
    }
    blurImage(image, kShadowBlur * dpr);
    QPainter p(&image);
    drawOrbSymbol(p, kind, c, size, QColor::fromRgbF(1, 1, 1, 0.92f));
    return image;
}

// The body: a translucent frosted disc under a light-to-dark sphere shading.
QImage bodyImage(double d, qreal dpr)
{
    QImage image = makeImage(QSizeF(d + 2, d + 2), dpr);
    const QPointF c = middle(image);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(0.92f, 0.94f, 0.97f, 0.22f));
    p.drawEllipse(c, d / 2, d / 2);
    const QPointF focus = c + QPointF((0.35 - 0.5) * d, (0.28 - 0.5) * d);
    QRadialGradient gradient(focus, 0.78 * d);
    gradient.setColorAt(0, QColor::fromRgbF(1, 1, 1, 0.28f));
    gradient.setColorAt(1, QColor::fromRgbF(0, 0, 0, 0.38f));
    p.setBrush(gradient);
    p.drawEllipse(c, d / 2, d / 2);
    return image;
}

QImage highlightImage(double d, qreal dpr)
{
    const double margin = 3 * kHighlightBlur * d;
    const QSizeF size(kHighlightWidth * d, kHighlightHeight * d);
    QImage image = makeImage(size + QSizeF(2 * margin, 2 * margin), dpr);
    const QRectF ellipse(QPointF(margin, margin), size);
    QLinearGradient gradient(ellipse.topLeft(), ellipse.bottomLeft());
    gradient.setColorAt(0, QColor::fromRgbF(1, 1, 1, 0.7f));
    gradient.setColorAt(1, QColor::fromRgbF(1, 1, 1, 0));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(gradient);
    p.drawEllipse(ellipse);
    p.end();
    blurImage(image, kHighlightBlur * d * dpr);
    return image;
}

QImage discImage(double d, qreal dpr)
{
    QImage image = makeImage(QSizeF(d + 2, d + 2), dpr);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawEllipse(middle(image), d / 2, d / 2);
    return image;
}

void prepareLayer(QImage& image, QSize deviceSize, qreal dpr)
{
    if (image.size() != deviceSize || image.devicePixelRatio() != dpr) {
        image = QImage(deviceSize, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(dpr);
    }
    image.fill(Qt::transparent);
}

// Multiplies every pixel of the painter's image by `factor`.
void scaleLayer(QPainter& painter, const QImage& image, double factor)
{
    painter.setClipping(false);
    painter.setOpacity(1);
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.fillRect(QRectF(QPointF(0, 0), image.deviceIndependentSize()),
                     QColor::fromRgbF(0, 0, 0, float(factor)));
}

qreal devicePixelRatioOf(const QPainter& painter)
{
    return painter.device() ? painter.device()->devicePixelRatio() : 1.0;
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

void OrbPainter::clearCaches()
{
    m_states.clear();
    m_sizes.clear();
    m_blobLayer = {};
    m_fadeFrom = {};
    m_fadeTo = {};
}

const OrbPainter::StateLayers& OrbPainter::stateLayers(Kind kind, double d, qreal dpr)
{
    for (auto it = m_states.begin(); it != m_states.end(); ++it) {
        if (it->kind == kind && it->diameter == d && it->dpr == dpr) {
            m_states.splice(m_states.begin(), m_states, it);
            return m_states.front();
        }
    }
    const auto colors = palette(kind);
    StateLayers layers{kind, d, dpr, glowImage(colors, d, dpr), {}, rimImage(colors, d, dpr),
                       {},   {}};
    for (int i = 0; i < 3; ++i)
        layers.blobs[i] = blobImage(colors[i], d * (0.52 - 0.06 * i), d, dpr);
    if (d >= kSymbolMinDiameter)
        layers.symbol = symbolImage(kind, d, dpr);
    if (kind == Kind::speaking)
        layers.ring = ringImage(colors[0], d, dpr);
    m_states.push_front(std::move(layers));
    if (m_states.size() > kMaxStateLayers)
        m_states.pop_back();
    return m_states.front();
}

const OrbPainter::SizeLayers& OrbPainter::sizeLayers(double d, qreal dpr)
{
    for (auto it = m_sizes.begin(); it != m_sizes.end(); ++it) {
        if (it->diameter == d && it->dpr == dpr) {
            m_sizes.splice(m_sizes.begin(), m_sizes, it);
            return m_sizes.front();
        }
    }
    m_sizes.push_front({d, dpr, bodyImage(d, dpr), highlightImage(d, dpr), discImage(d, dpr)});
    if (m_sizes.size() > kMaxSizeLayers)
        m_sizes.pop_back();
    return m_sizes.front();
}

void OrbPainter::paint(QPainter& painter, const QRectF& square, const AnnouncerState& state,
                       double diameter, double seconds)
{
    if (!(diameter >= 1) || square.isEmpty())
        return;
    painter.save();
    painter.setClipRect(square, Qt::IntersectClip);
    drawOrb(painter, square.center(), state.kind, diameter, devicePixelRatioOf(painter), seconds);
    painter.restore();
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
    // Each look on its own layer, then old × (1 − w) + new × w, so the mix stays as opaque as
    // either look instead of dipping midway.
    const qreal dpr = devicePixelRatioOf(painter);
    const QSize deviceSize(int(std::ceil(square.width() * dpr)),
                           int(std::ceil(square.height() * dpr)));
    const QRectF local(QPointF(0, 0), square.size());
    prepareLayer(m_fadeFrom, deviceSize, dpr);
    prepareLayer(m_fadeTo, deviceSize, dpr);
    {
        QPainter p(&m_fadeFrom);
        p.setClipRect(local);
        drawOrb(p, local.center(), from.kind, diameter, dpr, seconds);
        scaleLayer(p, m_fadeFrom, 1 - weight);
    }
    {
        QPainter p(&m_fadeTo);
        p.setClipRect(local);
        drawOrb(p, local.center(), to.kind, diameter, dpr, seconds);
        scaleLayer(p, m_fadeTo, weight);
    }
    {
        // Both weighted already: a plain sum, which cannot saturate.
        QPainter p(&m_fadeFrom);
        p.setCompositionMode(QPainter::CompositionMode_Plus);
        p.drawImage(QPointF(0, 0), m_fadeTo);
    }
    painter.save();
    painter.setClipRect(square, Qt::IntersectClip);
    painter.drawImage(square.topLeft(), m_fadeFrom);
    painter.restore();
}

void OrbPainter::drawOrb(QPainter& painter, QPointF centre, Kind kind, double d, qreal dpr,
                         double seconds)
{
    const StateLayers& layers = stateLayers(kind, d, dpr);
    const SizeLayers& size = sizeLayers(d, dpr);
    const double phase = seconds * speed(kind);
    const double breathing = 1 + 0.035 * std::sin(1.6 * phase);

    QPainter& p = painter;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.translate(centre);
    p.scale(breathing, breathing);

    // Glow, then the body over it.
    drawCentred(p, layers.glow, {}, 1.3 + 0.05 * std::sin(2.1 * phase));
    drawCentred(p, size.body, {});

    // Blobs: added together on their own layer, clipped to the disc, then added to the body.
    prepareLayer(m_blobLayer, size.clip.size(), dpr);
    {
        QPainter blobs(&m_blobLayer);
        blobs.setCompositionMode(QPainter::CompositionMode_Plus);
        const QPointF mid = middle(m_blobLayer);
        for (int i = 0; i < 3; ++i) {
            const double t = phase + 2.1 * i;
            const double radius = d * (0.16 + 0.05 * std::sin(0.9 * t + i));
            const double angle = t * (i % 2 == 0 ? 1.0 : -0.75);
            drawCentred(blobs, layers.blobs[i],
                        mid + QPointF(radius * std::cos(angle), radius * std::sin(angle)));
        }
        blobs.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        blobs.drawImage(QPointF(0, 0), size.clip);
    }
    p.setCompositionMode(QPainter::CompositionMode_Plus);
    drawCentred(p, m_blobLayer, {});

    p.setCompositionMode(QPainter::CompositionMode_Screen);
    drawCentred(p, size.highlight, QPointF(0, -kHighlightRise * d));

    p.setCompositionMode(QPainter::CompositionMode_Plus);
    drawCentred(p, layers.rim, {});

    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (!layers.symbol.isNull()) {
        if (kind == Kind::gathering) {
            const double wave = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * seconds / kPulsePeriod);
            p.setOpacity(1 - (1 - kPulseLow) * wave);
        }
        drawCentred(p, layers.symbol, {});
        p.setOpacity(1);
    }

    // Ripples: one ring image, grown and faded.
    if (kind == Kind::speaking) {
        for (int i = 0; i < 2; ++i) {
            const double scaled = 0.9 * phase + i / 2.0;
            const double progress = scaled - std::floor(scaled);
            p.setOpacity((1 - progress) * 0.55);
            drawCentred(p, layers.ring, {}, 1 + 0.45 * progress);
        }
        p.setOpacity(1);
    }
    p.restore();
}

} // namespace vardelle
