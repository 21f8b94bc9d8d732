#pragma once

#include "briefing/AnnouncerState.h"

#include <QColor>
#include <QImage>

#include <array>

namespace vardelle::orblayers {

// The orb's layers that never move, drawn once per state, diameter `d` and device pixel ratio
// at full quality (antialiased shapes, Gaussian blurs). Lengths are in points; images carry the
// device pixel ratio.

// A transparent premultiplied ARGB image of `deviceSize` pixels.
QImage canvas(QSize deviceSize, qreal dpr);

// The glow before its per-frame scale: a radial gradient disc, blurred, centred in the image.
QImage glow(const std::array<QColor, 3>& colors, double d, qreal dpr);
// One blob: a disc of `size` in `color` at opacity 0.62, blurred, centred in the image.
QImage blob(const QColor& color, double size, double d, qreal dpr);

// These paint onto a canvas around `centre`, in the canvas's logical coordinates.
// The body: a translucent frosted disc under a light-to-dark sphere shading. Unclipped, the same
// fills cover the whole canvas instead of the disc, for drawing the disc's edge elsewhere.
void paintBody(QImage& canvas, QPointF centre, double d, bool clipToDisc = true);
// The orb's disc in opaque black, antialiased: the blobs' clip.
void paintDisc(QImage& canvas, QPointF centre, double d);
// The soft highlight above the middle. Blurs the canvas around it: give it a canvas of its own.
void paintHighlight(QImage& canvas, QPointF centre, double d);
// The rim: a conic gradient of the palette stroked inside the disc's border.
void paintRim(QImage& canvas, QPointF centre, const std::array<QColor, 3>& colors, double d);
// The state's symbol with its soft shadow. Blurs the canvas around it: give it a canvas of its
// own.
void paintSymbol(QImage& canvas, QPointF centre, AnnouncerState::Kind kind, double d);

} // namespace vardelle::orblayers
