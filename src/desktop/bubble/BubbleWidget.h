#pragma once

#include <QPoint>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class QMenu;

namespace vardelle {

// The bubble's content: turns mouse input inside the circle inscribed in it into a click, a double
// click or a context menu, and moves its window when dragged. Input outside the circle (the
// transparent corners) is ignored, and every child is transparent to the mouse, so the orb drawn
// inside never takes a click.
//
// To assistive technologies it is one button named "Vardelle", its children (the orb) only its
// picture: its accessible description tells its state, its press action is a click. With the
// keyboard focus, Space or Enter clicks, and the Menu key or Shift+F10 opens the context menu.
class BubbleWidget : public QWidget {
    Q_OBJECT

public:
    // A press that moves less than this (|dx| + |dy|, in points) stays a click.
    static constexpr int dragThreshold = 3;

    explicit BubbleWidget(QWidget* parent = nullptr);

    // Fired on the release of a single click, and of a double (or higher) click. Empty: nothing.
    std::function<void()> onClick;
    std::function<void()> onDoubleClick;
    // Fired at the press that makes a double (or higher) click, before its release fires
    // onDoubleClick: the first moment the previous click is known to have been the first of two.
    std::function<void()> onDoubleClickPress;
    // Builds the context menu at the moment it is asked for. Empty, or a null menu: no menu.
    std::function<std::unique_ptr<QMenu>()> menuProvider;

    // Whether `point` (in this view's coordinates) lies within the inscribed circle.
    bool hits(QPointF point) const;

    // A click, as from the mouse: onClick.
    void click();
    // Opens the context menu at the centre, as from the keyboard; nothing while one is open.
    void popUpMenu();

signals:
    // After a drag, once, at the release; `window` is the window that was moved.
    void moved(QWidget* window);

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void childEvent(QChildEvent* event) override;

private:
    void press(QMouseEvent* event);
    void popUpMenu(QPoint globalPosition);

    // The menu open now, if any: the Menu key comes both as a key and as a context menu event.
    QPointer<QMenu> m_menu;

    QPointF m_dragOrigin;
    QPoint m_windowOrigin;
    bool m_didDrag = false;
    bool m_pressed = false;

    // Clicks in a row: a press within the double-click time and distance of the previous one
    // counts one more.
    int m_clickCount = 0;
    quint64 m_lastPressTime = 0;
    QPointF m_lastPressPosition;
    bool m_hasLastPress = false;
};

} // namespace vardelle
