#pragma once

#include "briefing/AnnouncerState.h"

#include <QPainter>

namespace vardelle {

// The orb's centre symbol for a state, drawn as vector shapes in `color`, centred on `centre`
// and sized like a glyph of `pointSize` (about one point size high): a half-filled shield for
// idle, an antenna with radio waves for gathering, a waveform for speaking and a filled warning
// triangle with an exclamation mark for a failure.
void drawOrbSymbol(QPainter& painter, AnnouncerState::Kind kind, const QPointF& centre,
                   qreal pointSize, const QColor& color);

// The symbol's width over its point size, for sizing an image that holds it.
qreal orbSymbolWidth(AnnouncerState::Kind kind);

} // namespace vardelle
