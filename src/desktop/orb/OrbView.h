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
// An animation frame is composed straight into the window's backing store and only the area the
// orb can reach is prepared and flushed: no paint event, no walk of the widgets, no intermediate
// image and no blit. A paint event (a show, an expose, a grab, a state change) draws the same
// frame through QPainter.
class OrbView : public QWidget {
    Q_OBJECT

public:
    explicit OrbView(QWidget* parent = nullptr);
    ~OrbView() override;

    AnnouncerState state() const;
    // Cross-fades to the new state's look.
    void setState(const AnnouncerState& state);

    // The diameter the orb is drawn at: the one set, else the widget's smaller side over 1.9.
    double diameter() const;
    // Draws the orb at `diameter` whatever the widget's size (which is whole pixels, so the
    // size alone cannot give 96 in a 182.4 square); 0 goes back to following the size.
    void setDiameter(double diameter);
    // Whether frames are being requested.
    bool isAnimating() const;

    // How frames are composed; the reference is kept for comparisons and benchmarks.
    OrbPainter::Renderer renderer() const { return m_painter.renderer(); }
    void setRenderer(OrbPainter::Renderer renderer);

    // Whether animation frames go straight into the backing store (the default), or through a
    // repaint of the widget as they did before; kept for the benchmark's baseline.
    bool drawsIntoBackingStore() const { return m_intoBackingStore; }
    void setDrawsIntoBackingStore(bool direct) { m_intoBackingStore = direct; }

    // The part of the widget any frame of the orb at `diameter` can draw on, in the widget's
    // coordinates: a few bands around the circle that the glow reaches at its largest, within
    // the square it is centred in.
    static QRegion reach(const QRectF& square, double diameter);

protected:
    // Composes the next frame into the window's backing store and flushes it; false when that
    // cannot be done (no backing store of the window's size yet, an image of another format), for
    // a repaint to draw it instead.
    virtual bool drawIntoBackingStore();
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QRectF square() const;
    double seconds() const;
    void startFrames();
    void nextFrame();
    void scheduleFrame();

    AnnouncerState m_state;
    AnnouncerState m_previous;
    double m_changedAt = -1;
    double m_diameter = 0;
    bool m_intoBackingStore = true;
    OrbPainter m_painter;
    // The reach of the last frame drawn straight, in the window's coordinates, and what it was
    // computed for.
    QRegion m_reach;
    QRectF m_reachSquare;
    double m_reachDiameter = 0;
    QPoint m_reachOffset;
    QElapsedTimer m_clock;
    QTimer m_frameTimer;
    qint64 m_frameIntervalNs = 0;
    qint64 m_firstFrameNs = 0;
    qint64 m_frameIndex = 0;
};

} // namespace vardelle
