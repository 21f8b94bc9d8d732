#pragma once

#include "OrbPainter.h"
#include "briefing/AnnouncerState.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

namespace vardelle {

// The bubble's animated orb. Fill the bubble's whole panel with it: the orb is drawn centred at a
// diameter of the widget's smaller side over 1.9 (96 in a 182.4 square, 44 in 83.6), so the glow
// and the ripples, which reach beyond the orb, stay inside the widget. Asks for a new frame at
// every display refresh while it is on screen and for none while it, or its minimised window, is
// hidden. Only the orb is painted; the rest of the widget stays transparent. Takes no mouse input:
// the bubble's container handles every click.
//
// While idle or failed the orb drifts so slowly (under 7 points a second at the normal size) that
// frames at half a 60 Hz display's rate move nothing by more than a quarter of a pixel: it then
// asks for every second refresh only, which halves its cost in the state it spends most time in.
// Gathering (the pulsing symbol), speaking (the ripples) and every cross-fade run at the full rate.
class OrbView : public QWidget {
    Q_OBJECT

public:
    explicit OrbView(QWidget* parent = nullptr);
    ~OrbView() override;

    AnnouncerState state() const;
    // Cross-fades to the new state's look.
    void setState(const AnnouncerState& state);

    // The diameter the orb is drawn at, from the widget's size.
    double diameter() const;
    // Whether frames are being requested.
    bool isAnimating() const;
    // Frames per second asked for now: the display's rate, or half of it while calm.
    double frameRate() const;
    // Whether calm states may use half the display's rate (the default); false keeps every state
    // at the full rate.
    void setCalmAtHalfRate(bool half);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    double seconds() const;
    void startFrames();
    void nextFrame();
    void scheduleFrame();
    bool calm() const;

    AnnouncerState m_state;
    AnnouncerState m_previous;
    double m_changedAt = -1;
    OrbPainter m_painter;
    QElapsedTimer m_clock;
    QTimer m_frameTimer;
    double m_displayRate = 60;
    qint64 m_nextFrameNs = 0;
    bool m_calmAtHalfRate = true;
};

} // namespace vardelle
