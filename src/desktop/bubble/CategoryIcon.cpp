#include "bubble/CategoryIcon.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>

namespace vardelle {

namespace {

QString themeName(NewsCategory category)
{
    switch (category) {
    case NewsCategory::cybersecurity:
        return QStringLiteral("security-high");
    case NewsCategory::threatIntel:
        return QStringLiteral("applications-internet");
    case NewsCategory::malware:
        return QStringLiteral("dialog-warning");
    }
    return {};
}

// On a 32-point canvas.
void drawShield(QPainter& p)
{
    QPainterPath shield;
    shield.moveTo(16, 3);
    shield.lineTo(27, 7);
    shield.lineTo(27, 15);
    shield.cubicTo(27, 22, 22, 27, 16, 29);
    shield.cubicTo(10, 27, 5, 22, 5, 15);
    shield.lineTo(5, 7);
    shield.closeSubpath();
    p.drawPath(shield);
    p.drawRoundedRect(QRectF(11.5, 14, 9, 7), 1, 1); // the lock
    p.drawArc(QRectF(13, 9.5, 6, 8), 0, 180 * 16);
}

void drawGlobe(QPainter& p)
{
    p.drawEllipse(QPointF(16, 16), 12, 12);
    p.drawEllipse(QPointF(16, 16), 5.5, 12);
    p.drawLine(QPointF(4, 16), QPointF(28, 16));
    p.drawLine(QPointF(6, 10), QPointF(26, 10));
    p.drawLine(QPointF(6, 22), QPointF(26, 22));
}

void drawBug(QPainter& p)
{
    p.drawEllipse(QPointF(16, 7), 3, 2.5);    // head
    p.drawEllipse(QPointF(16, 12.5), 3.5, 3); // thorax
    p.drawEllipse(QPointF(16, 21), 5, 7);     // abdomen
    for (double y : {10.0, 13.0, 16.0}) {
        p.drawLine(QPointF(12.5, y), QPointF(6, y - 2 + (y - 10)));
        p.drawLine(QPointF(19.5, y), QPointF(26, y - 2 + (y - 10)));
    }
    p.drawLine(QPointF(14.5, 5), QPointF(12, 1.5)); // feelers
    p.drawLine(QPointF(17.5, 5), QPointF(20, 1.5));
}

} // namespace

QIcon drawnCategoryIcon(NewsCategory category)
{
    QIcon icon;
    const QColor ink = QGuiApplication::palette().color(QPalette::WindowText);
    for (int size : {16, 32, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 32.0, size / 32.0);
        p.setPen(QPen(ink, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        switch (category) {
        case NewsCategory::cybersecurity:
            drawShield(p);
            break;
        case NewsCategory::threatIntel:
            drawGlobe(p);
            break;
        case NewsCategory::malware:
            drawBug(p);
            break;
        }
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon categoryIcon(NewsCategory category)
{
    return QIcon::fromTheme(themeName(category), drawnCategoryIcon(category));
}

} // namespace vardelle
