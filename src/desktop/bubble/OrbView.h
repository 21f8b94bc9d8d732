#pragma once

#include "briefing/AnnouncerState.h"

#include <QWidget>

namespace vardelle {

// The bubble's animated orb. Draws the orb for the current state at a diameter equal to the
// widget's smaller side, a new frame at every display refresh while it is on screen and none
// while it is hidden. Takes no mouse input: the bubble's container handles every click.
class OrbView : public QWidget {
    Q_OBJECT

public:
    explicit OrbView(QWidget* parent = nullptr);
    ~OrbView() override;

    AnnouncerState state() const;
    // Cross-fades to the new state's look.
    void setState(const AnnouncerState& state);
};

} // namespace vardelle
