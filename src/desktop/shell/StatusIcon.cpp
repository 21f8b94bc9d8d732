#include "shell/StatusIcon.h"

#include "orb/OrbLook.h"
#include "orb/OrbSymbols.h"

#include <QPainter>
#include <QPixmap>
#include <QRadialGradient>

#include <array>

namespace vardelle {

namespace {

constexpr int sizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

QPixmap drawIcon(AnnouncerState::Kind kind, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    const auto colors = orblook::palette(kind);
    const QPointF centre(size / 2.0, size / 2.0);
    const qreal radius = size / 2.0 - std::max(0.5, size / 32.0);

    // The body: lit from the upper left, darker towards the lower right, so it reads as a sphere
    // even at 16 pixels.
    QRadialGradient body(centre - QPointF(radius, radius) * 0.35, radius * 1.45);
    body.setColorAt(0, colors[0].lighter(125));
    body.setColorAt(0.6, colors[0]);
    body.setColorAt(1, colors[1].darker(140));
    p.setPen(QPen(colors[1].darker(180), std::max(1.0, size / 24.0)));
    p.setBrush(body);
    p.drawEllipse(centre, radius, radius);

    // The symbol as wide as the disc allows.
    const qreal room = radius * 1.3;
    const qreal pointSize = room / std::max<qreal>(1.0, orbSymbolWidth(kind));
    drawOrbSymbol(p, kind, centre, pointSize, Qt::white);
    return pixmap;
}

QIcon makeIcon(AnnouncerState::Kind kind)
{
    QIcon icon;
    for (int size : sizes)
        icon.addPixmap(drawIcon(kind, size));
    return icon;
}

} // namespace

QIcon statusIcon(AnnouncerState::Kind kind)
{
    using Kind = AnnouncerState::Kind;
    static const std::array<QIcon, 4> icons = {makeIcon(Kind::idle), makeIcon(Kind::gathering),
                                               makeIcon(Kind::speaking), makeIcon(Kind::failed)};
    return icons[std::size_t(kind)];
}

QIcon applicationIcon()
{
    return statusIcon(AnnouncerState::Kind::idle);
}

} // namespace vardelle
