#include "settings/SpeedPictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QTransform>

#include <functional>

namespace vardelle {

namespace {

// Both animals face right, on a 32-point canvas with the ground at y = 27.
void drawTortoise(QPainterPath& path)
{
    path.moveTo(4, 22);
    path.cubicTo(4, 10, 24, 10, 24, 22); // the shell
    path.closeSubpath();
    path.addEllipse(QPointF(27.5, 18.5), 3.5, 3);        // head
    path.addRect(QRectF(22, 18.5, 4, 3.5));              // neck
    path.addRoundedRect(QRectF(6, 21, 4, 6), 1.5, 1.5);  // hind leg
    path.addRoundedRect(QRectF(18, 21, 4, 6), 1.5, 1.5); // front leg
    path.moveTo(4.5, 20);
    path.lineTo(1, 23); // tail
    path.lineTo(5, 22.5);
    path.closeSubpath();
}

void drawHare(QPainterPath& path)
{
    path.addEllipse(QPointF(14, 18), 10, 6);      // body
    path.addEllipse(QPointF(25, 12.5), 4.5, 3.5); // head
    QPainterPath ear;
    ear.addEllipse(QPointF(0, -5), 1.8, 6);
    for (double angle : {-40.0, -25.0}) {
        QTransform turn;
        turn.translate(23, 10.5);
        turn.rotate(angle);
        path.addPath(turn.map(ear));
    }
    path.addEllipse(QPointF(3.5, 15), 2.5, 2.5);         // tail
    path.addEllipse(QPointF(7, 23), 5, 3);               // hind leg
    path.addRoundedRect(QRectF(18, 21, 9, 3), 1.5, 1.5); // front legs, reaching forward
}

QPixmap picture(int side, qreal devicePixelRatio, const QColor& ink,
                const std::function<void(QPainterPath&)>& draw)
{
    QPixmap pixmap(QSize(side, side) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    draw(path);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(side / 32.0, side / 32.0);
    painter.fillPath(path, ink);
    return pixmap;
}

} // namespace

QPixmap slowPicture(int side, qreal devicePixelRatio, const QColor& ink)
{
    return picture(side, devicePixelRatio, ink, drawTortoise);
}

QPixmap fastPicture(int side, qreal devicePixelRatio, const QColor& ink)
{
    return picture(side, devicePixelRatio, ink, drawHare);
}

} // namespace vardelle
