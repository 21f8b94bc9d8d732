#pragma once

#include "briefing/AnnouncerState.h"

#include <QColor>

#include <array>

// The orb's look as every part that draws it shares it: the frame builders, the layers, the view
// and the tray icon drawn after it.
namespace vardelle::orblook {

using Kind = AnnouncerState::Kind;

// The panel's side over the orb's diameter: room for the glow and the ripples.
constexpr double kPanelRatio = 1.9;
// Smaller orbs show no centre symbol.
constexpr double kSymbolMinDiameter = 56;
// Length of the cross-fade when the state changes.
constexpr double kCrossFadeSeconds = 0.45;
// The blobs' blur: the Gaussian's deviation over the diameter.
constexpr double kBlobBlur = 0.085;

// The state's three colours, which the glow, the blobs (one each) and the rim are made of.
std::array<QColor, 3> palette(Kind kind);
// Radians of animation phase per second.
double speed(Kind kind);

} // namespace vardelle::orblook
