#pragma once

#include "OrbPainter.h"
#include "briefing/AnnouncerState.h"

#include <QElapsedTimer>
#include <QRegion>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace vardelle {

namespace x11 {
class FramePresenter;
}

// The bubble's animated orb. Fill the bubble's whole panel with it: the orb is drawn centred at a
// diameter of the widget's smaller side over 1.9 (96 in a 182.4 square, 44 in 83.6), so the glow
// and the ripples, which reach beyond the orb, stay inside the widget. Asks for a new frame at
// every display refresh while it is on screen and for none while it, or its minimised window, is
// hidden. Only the orb is painted; the rest of the widget stays transparent. Takes no mouse input:
// the bubble's container handles every click.
//
// An animation frame is composed without a paint event, no walk of the widgets, no intermediate
// image and no blit, and only the area the orb can reach is sent to the X server. On X it goes
// into shared-memory images of the orb's own put straight on the window, without waiting for
// the server (x11::FramePresenter); elsewhere (Wayland, offscreen), or where the server shares
// no memory with this process, into the window's backing store, which is flushed. A paint event
// (a show, an expose, a grab, a state change) draws the same frame through QPainter.
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

    // The part of the widget any frame of the orb at `diameter` can draw on, in the widget's
    // coordinates: a few bands around the circle that the glow reaches at its largest, within
    // the square it is centred in.
    static QRegion reach(const QRectF& square, double diameter);

protected:
    // The ways of drawing kept for the benchmark's baselines, for a subclass to choose.
    //
    // How frames are composed: as the painter does by default, or every layer at full
    // resolution.
    void setRenderer(OrbPainter::Renderer renderer);
    // How animation frames reach the screen: through the orb's own images put on the X window
    // (the default; where that cannot be done, the next), straight into the window's backing
    // store, or through a repaint of the widget.
    enum class Presentation { ownImages, backingStore, repaint };
    void setPresentation(Presentation presentation);
    // Frames left out because the X server had not yet read the orb's images of the two before.
    qint64 skippedFrames() const { return m_skippedFrames; }

    // Draws the next animation frame as the presentation says, without a paint event; false when
    // that cannot be done (no backing store of the window's size yet, an image of another format,
    // the repaint presentation), for a repaint to draw it instead.
    virtual bool drawFrame();
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Composes the next frame into the orb's own images and puts it on the X window; false when
    // that cannot be done.
    bool presentFrame();
    // Composes the next frame into the window's backing store and flushes it; false when that
    // cannot be done.
    bool drawIntoBackingStore();
    // How far the cross-fade from the previous state to the current one has come at `now`, from
    // 0 to 1; 1 when there is none.
    double fadeProgress(double now) const;
    // Composes the frame of this moment into `image` with the orb in `square` (the image's
    // logical coordinates); false when the image cannot take it.
    bool composeInto(QImage& image, const QRectF& square);
    QRectF square() const;
    double seconds() const;
    void startFrames();
    void nextFrame();
    void scheduleFrame();

    AnnouncerState m_state;
    AnnouncerState m_previous;
    double m_changedAt = -1;
    double m_diameter = 0;
    Presentation m_presentation = Presentation::ownImages;
    OrbPainter m_painter;
    std::unique_ptr<x11::FramePresenter> m_presenter;
    // The window and size the presenter could not be made for: not tried again.
    quintptr m_presenterFailedFor = 0;
    QSize m_presenterFailedSize;
    qint64 m_skippedFrames = 0;
    // The reach of an orb in `square` at `diameter`, moved by `offset` and scaled to pixels of
    // `ratio`, as last computed: made again only when one of them changes.
    struct Reach {
        QRegion region;
        QRectF square;
        double diameter = 0;
        QPoint offset;
        qreal ratio = 0;
        const QRegion& of(const QRectF& square, double diameter, QPoint offset, qreal ratio);
    };
    Reach m_deviceReach; // in the presenter's image, device pixels
    Reach m_reach;       // in the window's backing store, its logical coordinates
    QElapsedTimer m_clock;
    QTimer m_frameTimer;
    qint64 m_frameIntervalNs = 0;
    qint64 m_firstFrameNs = 0;
    qint64 m_frameIndex = 0;
};

} // namespace vardelle
