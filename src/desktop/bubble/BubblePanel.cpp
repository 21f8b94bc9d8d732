#include "bubble/BubblePanel.h"

#include "linux/desktop/X11Window.h"

#include <QEvent>
#include <QRegion>
#include <QResizeEvent>
#include <QTimer>

#include <cmath>

namespace vardelle {

namespace {

// How often the panel looks for a compositing manager that started or stopped. One round trip
// to the X server; X tells nobody when the selection's owner changes.
constexpr int compositorCheckMs = 2000;

} // namespace

int BubblePanel::orbDiameter(bool compact)
{
    return compact ? 44 : 96;
}

int BubblePanel::side(bool compact)
{
    return sideFor(orbDiameter(compact));
}

int BubblePanel::sideFor(double diameter)
{
    return int(std::lround(diameter * 1.9));
}

BubblePanel::BubblePanel(int side, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11NetWmWindowTypeUtility);
    // Qt shows tooltips only over the active window, and this one is never activated.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(0, 0, side, side);

    if (x11::isAvailable()) {
        m_compositing = x11::compositorRunning();
        m_compositorCheck = new QTimer(this);
        m_compositorCheck->setInterval(compositorCheckMs);
        connect(m_compositorCheck, &QTimer::timeout, this, &BubblePanel::checkCompositor);
    }
    applyMask();
}

void BubblePanel::setWidget(QWidget* view)
{
    if (m_content == view)
        return;
    delete m_content;
    m_content = view;
    if (m_content) {
        m_content->setParent(this);
        m_content->setGeometry(rect());
        m_content->show();
    }
}

void BubblePanel::setCompositing(bool compositing)
{
    if (m_compositing == compositing)
        return;
    m_compositing = compositing;
    applyMask();
}

QRegion BubblePanel::inputRegion() const
{
    return QRegion(rect(), QRegion::Ellipse);
}

void BubblePanel::applyMask()
{
    if (m_compositing) {
        clearMask();
        applyInputRegion();
    } else {
        // The clip shapes input as well.
        setMask(inputRegion());
    }
}

// Only once the X window exists: asking for its id here would create it before it is shown.
void BubblePanel::applyInputRegion()
{
    if (x11::isAvailable() && testAttribute(Qt::WA_WState_Created))
        x11::setInputRegion(winId(), inputRegion(), devicePixelRatio());
}

void BubblePanel::checkCompositor()
{
    setCompositing(x11::compositorRunning());
}

bool BubblePanel::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::Show:
        // Re-sent on every show: a window manager forgets the desktop of an unmapped window.
        x11::showOnAllDesktops(winId());
        if (m_compositing)
            applyInputRegion();
        if (m_compositorCheck) {
            checkCompositor();
            m_compositorCheck->start();
        }
        break;
    case QEvent::Hide:
        if (m_compositorCheck)
            m_compositorCheck->stop();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

void BubblePanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_content)
        m_content->setGeometry(rect());
    applyMask();
}

} // namespace vardelle
