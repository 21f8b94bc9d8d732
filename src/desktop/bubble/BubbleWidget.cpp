#include "bubble/BubbleWidget.h"

#include <QAccessibleWidget>
#include <QChildEvent>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QStyleHints>
#include <QToolTip>

#include <cmath>

namespace vardelle {

namespace {

// The bubble as a button, with nothing inside it to visit.
class BubbleAccessible : public QAccessibleWidget {
public:
    explicit BubbleAccessible(BubbleWidget* bubble)
        : QAccessibleWidget(bubble, QAccessible::Button)
    {
    }

    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }

    QStringList actionNames() const override { return {pressAction(), showMenuAction()}; }
    void doAction(const QString& action) override
    {
        if (action == pressAction())
            bubble()->click();
        else if (action == showMenuAction())
            bubble()->popUpMenu();
    }
    QStringList keyBindingsForAction(const QString& action) const override
    {
        if (action == pressAction())
            return {QStringLiteral("Space")};
        if (action == showMenuAction())
            return {QStringLiteral("Shift+F10")};
        return {};
    }

private:
    BubbleWidget* bubble() const { return static_cast<BubbleWidget*>(widget()); }
};

QAccessibleInterface* bubbleAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String(BubbleWidget::staticMetaObject.className()))
        return new BubbleAccessible(static_cast<BubbleWidget*>(object));
    return nullptr;
}

} // namespace

BubbleWidget::BubbleWidget(QWidget* parent)
    : QWidget(parent)
{
    [[maybe_unused]] static const bool accessibleInstalled = [] {
        QAccessible::installFactory(bubbleAccessible);
        return true;
    }();
    // The keyboard and assistive technologies can give it the focus; a click never does.
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_NoSystemBackground);
    setAccessibleName(QStringLiteral("Vardelle"));
}

void BubbleWidget::click()
{
    if (onClick)
        onClick();
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
    if (m_clickCount >= 2 && onDoubleClickPress)
        onDoubleClickPress();
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
    popUpMenu();
}

void BubbleWidget::keyPressEvent(QKeyEvent* event)
{
    const bool shift = event->modifiers() == Qt::ShiftModifier;
    const bool none =
        event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier;
    if (event->key() == Qt::Key_Menu || (event->key() == Qt::Key_F10 && shift))
        popUpMenu();
    else if (none && (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
                      event->key() == Qt::Key_Enter || event->key() == Qt::Key_Select))
        click();
    else
        QWidget::keyPressEvent(event);
}

void BubbleWidget::popUpMenu()
{
    popUpMenu(mapToGlobal(rect().center()));
}

void BubbleWidget::popUpMenu(QPoint globalPosition)
{
    if (!menuProvider || (m_menu && m_menu->isVisible()))
        return;
    std::unique_ptr<QMenu> menu = menuProvider();
    if (!menu)
        return;
    m_menu = menu.release();
    m_menu->setAttribute(Qt::WA_DeleteOnClose);
    m_menu->popup(globalPosition);
}

void BubbleWidget::childEvent(QChildEvent* event)
{
    QWidget::childEvent(event);
    if (event->added() && event->child()->isWidgetType())
        static_cast<QWidget*>(event->child())->setAttribute(Qt::WA_TransparentForMouseEvents);
}

} // namespace vardelle
