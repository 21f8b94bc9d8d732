#pragma once

#include <QColor>
#include <QPixmap>

namespace vardelle {

// The pictures at the ends of the speech speed slider: a tortoise at the slow end and a hare at
// the fast end, drawn as filled silhouettes in `ink` on a transparent square of `side` points,
// so they read the same under every icon theme and colour scheme.
QPixmap slowPicture(int side, qreal devicePixelRatio, const QColor& ink);
QPixmap fastPicture(int side, qreal devicePixelRatio, const QColor& ink);

} // namespace vardelle
