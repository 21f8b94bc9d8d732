#include "OrbLayers.h"

#include "ImageBlur.h"
#include "OrbLook.h"
#include "OrbSymbols.h"

#include <QConicalGradient>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <cmath>
#include <cstring>

namespace vardelle::orblayers {

namespace {

// Blur deviations and shapes, as fractions of the diameter (the blobs' blur is the look's).
constexpr double kGlowBlur = 0.1;
using orblook::kBlobBlur;
constexpr double kHighlightBlur = 0.035;
constexpr double kHighlightWidth = 0.46;
constexpr double kHighlightHeight = 0.26;
constexpr double kHighlightRise = 0.26;
constexpr double kSymbolSize = 0.24;
// The symbol's shadow, in points.
constexpr double kShadowBlur = 3;
constexpr double kShadowDrop = 1;

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

QImage sizedCanvas(QSizeF size, qreal dpr)
{
    return canvas(QSize(int(std::ceil(size.width() * dpr)), int(std::ceil(size.height() * dpr))),
                  dpr);
}

// Blurs only the part of `canvas` within `area` (logical coordinates), grown by three deviations
// so that the blur fades out inside it; the rest of the canvas must be transparent there.
void blurArea(QImage& canvas, const QRectF& area, qreal sigma)
{
    const qreal dpr = canvas.devicePixelRatio();
    const double margin = 3 * sigma + 2;
    const QRect device = QRect(QPoint(int(std::floor(area.left() * dpr - margin)),
                                      int(std::floor(area.top() * dpr - margin))),
                               QPoint(int(std::ceil(area.right() * dpr + margin)),
                                      int(std::ceil(area.bottom() * dpr + margin))))
                             .intersected(canvas.rect());
    if (device.isEmpty())
        return;
    QImage part = canvas.copy(device);
    blurImage(part, sigma);
    for (int y = 0; y < part.height(); ++y) {
        std::memcpy(canvas.scanLine(device.y() + y) + size_t(device.x()) * 4, part.constScanLine(y),
                    size_t(part.width()) * 4);
    }
}

QPointF middle(const QImage& image)
{
    const QSizeF size = image.deviceIndependentSize();
    return {size.width() / 2, size.height() / 2};
}

} // namespace

QImage canvas(QSize deviceSize, qreal dpr)
{
    QImage image(deviceSize, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    return image;
}

QImage glow(const std::array<QColor, 3>& colors, double d, qreal dpr)
{
    QImage image = sizedCanvas(QSizeF(d, d) * (1 + 6 * kGlowBlur), dpr);
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

QImage blob(const QColor& color, double size, double d, qreal dpr)
{
    const double margin = 3 * kBlobBlur * d;
    QImage image = sizedCanvas(QSizeF(size, size) + QSizeF(2 * margin, 2 * margin), dpr);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(withAlpha(color, 0.62));
    p.drawEllipse(middle(image), size / 2, size / 2);
    p.end();
    blurImage(image, kBlobBlur * d * dpr);
    return image;
}

void paintBody(QImage& canvas, QPointF centre, double d, bool clipToDisc)
{
    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    auto fill = [&](const QBrush& brush) {
        p.setBrush(brush);
        if (clipToDisc)
            p.drawEllipse(centre, d / 2, d / 2);
        else
            p.drawRect(QRectF(QPointF(0, 0), canvas.deviceIndependentSize()));
    };
    fill(QColor::fromRgbF(0.92f, 0.94f, 0.97f, 0.22f));
    const QPointF focus = centre + QPointF((0.35 - 0.5) * d, (0.28 - 0.5) * d);
    QRadialGradient gradient(focus, 0.78 * d);
    gradient.setColorAt(0, QColor::fromRgbF(1, 1, 1, 0.28f));
    gradient.setColorAt(1, QColor::fromRgbF(0, 0, 0, 0.38f));
    fill(gradient);
}

void paintDisc(QImage& canvas, QPointF centre, double d)
{
    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawEllipse(centre, d / 2, d / 2);
}

void paintHighlight(QImage& canvas, QPointF centre, double d)
{
    const QSizeF size(kHighlightWidth * d, kHighlightHeight * d);
    const QPointF mid = centre + QPointF(0, -kHighlightRise * d);
    const QRectF ellipse(mid - QPointF(size.width() / 2, size.height() / 2), size);
    QLinearGradient gradient(ellipse.topLeft(), ellipse.bottomLeft());
    gradient.setColorAt(0, QColor::fromRgbF(1, 1, 1, 0.7f));
    gradient.setColorAt(1, QColor::fromRgbF(1, 1, 1, 0));
    {
        QPainter p(&canvas);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(gradient);
        p.drawEllipse(ellipse);
    }
    blurArea(canvas, ellipse, kHighlightBlur * d * canvas.devicePixelRatio());
}

void paintRim(QImage& canvas, QPointF centre, const std::array<QColor, 3>& colors, double d)
{
    // Clockwise from three o'clock: the conical gradient runs the other way, so mirror the stops.
    QConicalGradient gradient(centre, 0);
    gradient.setColorAt(0, colors[0]);
    gradient.setColorAt(1.0 / 3, colors[2]);
    gradient.setColorAt(2.0 / 3, colors[1]);
    gradient.setColorAt(1, colors[0]);
    const double width = std::max(0.018 * d, 1.0);
    QPainter p(&canvas);
    p.setRenderHint(QPainter::Antialiasing);
    p.setOpacity(0.75);
    p.setPen(QPen(QBrush(gradient), width));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, (d - width) / 2, (d - width) / 2);
}

void paintSymbol(QImage& canvas, QPointF centre, AnnouncerState::Kind kind, double d)
{
    const double size = kSymbolSize * d;
    {
        QPainter p(&canvas);
        drawOrbSymbol(p, kind, centre + QPointF(0, kShadowDrop), size,
                      QColor::fromRgbF(0, 0, 0, 0.35f));
    }
    const double width = orbSymbolWidth(kind) * size;
    blurArea(canvas,
             QRectF(centre.x() - width / 2, centre.y() + kShadowDrop - size / 2, width, size)
                 .adjusted(-1, -1, 1, 1),
             kShadowBlur * canvas.devicePixelRatio());
    QPainter p(&canvas);
    drawOrbSymbol(p, kind, centre, size, QColor::fromRgbF(1, 1, 1, 0.92f));
}

} // namespace vardelle::orblayers
