#include "OrbSymbols.h"

#include <QPainterPath>

#include <array>

namespace vardelle {

namespace {

using Kind = AnnouncerState::Kind;

// All shapes are laid out for a point size of 1, centred on the origin, y downward.

QPainterPath shieldOutline()
{
    QPainterPath path;
    path.moveTo(0, -0.46);
    path.cubicTo(0.14, -0.36, 0.28, -0.33, 0.40, -0.33);
    path.lineTo(0.40, 0.02);
    path.cubicTo(0.40, 0.24, 0.22, 0.38, 0, 0.47);
    path.cubicTo(-0.22, 0.38, -0.40, 0.24, -0.40, 0.02);
    path.lineTo(-0.40, -0.33);
    path.cubicTo(-0.28, -0.33, -0.14, -0.36, 0, -0.46);
    path.closeSubpath();
    return path;
}

void drawShield(QPainter& p, const QColor& color)
{
    const QPainterPath shield = shieldOutline();
    QPainterPath leftHalf;
    leftHalf.addRect(QRectF(-0.6, -0.6, 0.6, 1.2));
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPath(shield.intersected(leftHalf));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(color, 0.085, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(shield);
}

void drawAntenna(QPainter& p, const QColor& color)
{
    QPen pen(color, 0.085, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(0, 0.02), QPointF(0, 0.44));
    for (const qreal radius : {0.26, 0.46}) {
        const QRectF box(-radius, -0.08 - radius, 2 * radius, 2 * radius);
        const int span = radius < 0.3 ? 80 * 16 : 70 * 16;
        p.drawArc(box, 180 * 16 - span / 2, span); // left
        p.drawArc(box, -span / 2, span);           // right
    }
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(QPointF(0, -0.08), 0.1, 0.1);
}

void drawWaveform(QPainter& p, const QColor& color)
{
    constexpr std::array heights{0.22, 0.46, 0.80, 0.56, 0.92, 0.64, 0.36, 0.70, 0.28};
    constexpr qreal step = 0.13;
    p.setPen(QPen(color, 0.08, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    const qreal first = -step * (heights.size() - 1) / 2.0;
    for (size_t i = 0; i < heights.size(); ++i) {
        const qreal x = first + step * qreal(i);
        const qreal half = (heights[i] - 0.08) / 2;
        p.drawLine(QPointF(x, -half), QPointF(x, half));
    }
}

void drawTriangle(QPainter& p, const QColor& color)
{
    // A rounded triangle, with the exclamation mark cut out as holes.
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    path.moveTo(-0.07, -0.40);
    path.quadTo(0, -0.52, 0.07, -0.40);
    path.lineTo(0.52, 0.34);
    path.quadTo(0.58, 0.44, 0.46, 0.44);
    path.lineTo(-0.46, 0.44);
    path.quadTo(-0.58, 0.44, -0.52, 0.34);
    path.closeSubpath();
    path.addRoundedRect(QRectF(-0.045, -0.22, 0.09, 0.40), 0.045, 0.045);
    path.addEllipse(QPointF(0, 0.29), 0.058, 0.058);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPath(path);
}

} // namespace

qreal orbSymbolWidth(AnnouncerState::Kind kind)
{
    switch (kind) {
    case Kind::idle:
        return 0.9;
    case Kind::gathering:
        return 1.05;
    case Kind::speaking:
        return 1.15;
    case Kind::failed:
        return 1.2;
    }
    return 1.2;
}

void drawOrbSymbol(QPainter& painter, AnnouncerState::Kind kind, const QPointF& centre,
                   qreal pointSize, const QColor& color)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(centre);
    painter.scale(pointSize, pointSize);
    switch (kind) {
    case Kind::idle:
        drawShield(painter, color);
        break;
    case Kind::gathering:
        drawAntenna(painter, color);
        break;
    case Kind::speaking:
        drawWaveform(painter, color);
        break;
    case Kind::failed:
        drawTriangle(painter, color);
        break;
    }
    painter.restore();
}

} // namespace vardelle
