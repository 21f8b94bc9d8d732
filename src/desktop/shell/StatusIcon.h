#pragma once

#include "briefing/AnnouncerState.h"

#include <QIcon>

namespace vardelle {

// The tray's picture of a state: a small orb in the state's colours with the state's symbol in
// white (a half-filled shield when idle, an antenna while gathering, a waveform while speaking,
// a warning after a failure). Coloured rather than monochrome so that it reads on light and dark
// panels alike and tells the states apart at a glance. Drawn once per state at the usual tray
// sizes.
QIcon statusIcon(AnnouncerState::Kind kind);

// The application's own icon: the idle orb.
QIcon applicationIcon();

} // namespace vardelle
