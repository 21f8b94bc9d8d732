#include "bubble/BubbleWidget.h"

#include <QChildEvent>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QStyleHints>
#include <QToolTip>

#include <cmath>

namespace vardelle {

BubbleWidget::BubbleWidget(QWidget* parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_NoSystemBackground);
}

bool BubbleWidget::hits(QPointF point) const
{
    const QPointF centre(width() / 2.0, height() / 2.0);
    const double radius = std::min(width(), height()) / 2.0;
    const QPointF d = point - centre;
    return d.x() * d.x() + d.y() * d.y() <= radius * radius;
}

bool BubbleWidget::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip && !hits(static_cast<QHelpEvent*>(event)->pos())) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    return QWidget::event(event);
}

void BubbleWidget::mousePressEvent(QMouseEvent* event)
{
    if (!hits(event->position())) {
        event->ignore();
        return;
    }
    event->accept();
    if (event->button() == Qt::LeftButton)
        press(event);
    else if (event->button() == Qt::RightButton)
        popUpMenu(event->globalPosition().toPoint());
}

// Depending on the platform, the second press of a double click arrives as a press followed by a
// double-click event with the same time stamp, or as the double-click event alone; either way it
// is one press.
void BubbleWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !hits(event->position())) {
        event->ignore();
        return;
    }
    event->accept();
    if (m_pressed && m_hasLastPress && event->timestamp() == m_lastPressTime)
        return;
    press(event);
}

void BubbleWidget::press(QMouseEvent* event)
{
    const QStyleHints* hints = QGuiApplication::styleHints();
    const QPointF position = event->globalPosition();
    const QPointF moved = position - m_lastPressPosition;
    const bool follows =
        m_hasLastPress && event->timestamp() >= m_lastPressTime &&
        event->timestamp() - m_lastPressTime <= quint64(hints->mouseDoubleClickInterval()) &&
        std::abs(moved.x()) + std::abs(moved.y()) <= hints->mouseDoubleClickDistance();
    m_clickCount = follows ? m_clickCount + 1 : 1;
    m_lastPressTime = event->timestamp();
    m_lastPressPosition = position;
    m_hasLastPress = true;

    m_pressed = true;
    m_didDrag = false;
    m_dragOrigin = position;
    m_windowOrigin = isWindow() ? QPoint() : window()->pos();
}

void BubbleWidget::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (!m_pressed || isWindow())
        return;
    const QPointF d = event->globalPosition() - m_dragOrigin;
    if (!m_didDrag && std::abs(d.x()) + std::abs(d.y()) < dragThreshold)
        return;
    m_didDrag = true;
    m_hasLastPress = false; // a drag ends a run of clicks
    window()->move(m_windowOrigin + d.toPoint());
}

void BubbleWidget::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton || !m_pressed)
        return;
    m_pressed = false;
    if (m_didDrag) {
        m_didDrag = false;
        emit moved(window());
        return;
    }
    const auto& callback = m_clickCount < 2 ? onClick : onDoubleClick;
    if (callback)
        callback();
}

void BubbleWidget::contextMenuEvent(QContextMenuEvent* event)
{
    event->accept();
    // A right button press has opened the menu already.
    if (event->reason() == QContextMenuEvent::Mouse)
        return;
    popUpMenu(mapToGlobal(rect().center()));
}

void BubbleWidget::popUpMenu(QPoint globalPosition)
{
    if (!menuProvider)
        return;
    std::unique_ptr<QMenu> menu = menuProvider();
    if (!menu)
        return;
    QMenu* shown = menu.release();
    shown->setAttribute(Qt::WA_DeleteOnClose);
    shown->popup(globalPosition);
}

void BubbleWidget::childEvent(QChildEvent* event)
{
    QWidget::childEvent(event);
    if (event->added() && event->child()->isWidgetType())
        static_cast<QWidget*>(event->child())->setAttribute(Qt::WA_TransparentForMouseEvents);
}

} // namespace vardelle
