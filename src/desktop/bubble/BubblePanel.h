#pragma once

#include <QWidget>

class QTimer;

namespace vardelle {

// The bubble's window: a frameless, translucent, always-on-top tool window on every virtual
// desktop that never takes the keyboard focus and never activates the application. It holds one
// widget (the bubble widget) that always fills it.
//
// Transparent pixels need a compositing manager; without one they show black, so the panel then
// clips itself to the circle inscribed in it, and follows a compositor that starts or stops.
// Either way only that circle takes pointer input: with a compositor the transparent corners
// show the windows beneath and pass their clicks on to them too.
class BubblePanel : public QWidget {
    Q_OBJECT

public:
    // The orb's diameter for the size setting: 96 points, or 44 when compact.
    static int orbDiameter(bool compact);
    // The panel's side: the diameter plus a margin of nine tenths of it (182.4 or 83.6 points),
    // rounded once, to the whole points a window has (182 or 84).
    static int side(bool compact);
    static int sideFor(double diameter);

    // A panel of `side` × `side` at (0, 0), not shown.
    explicit BubblePanel(int side, QWidget* parent = nullptr);

    // Takes `view` as the panel's content, resized with the panel.
    void setWidget(QWidget* view);
    QWidget* widget() const { return m_content; }

    // Whether transparent pixels show as such; false clips the panel to its inscribed circle.
    bool compositing() const { return m_compositing; }
    void setCompositing(bool compositing);

    // The part of the panel that takes pointer input: the circle inscribed in it.
    QRegion inputRegion() const;

protected:
    bool event(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void applyMask();
    void applyInputRegion();
    void checkCompositor();

    QWidget* m_content = nullptr;
    QTimer* m_compositorCheck = nullptr;
    bool m_compositing = true;
};

} // namespace vardelle
