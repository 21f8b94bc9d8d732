#include "orb/OrbView.h"

#include <QEvent>
#include <QPaintEvent>
#include <QScreen>

#include <cmath>

namespace vardelle {

namespace {

constexpr double kFallbackRefreshRate = 60;

} // namespace

OrbView::OrbView(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    m_clock.start();
    m_frameTimer.setSingleShot(true);
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_frameTimer, &QTimer::timeout, this, &OrbView::nextFrame);
}

OrbView::~OrbView() = default;

AnnouncerState OrbView::state() const
{
    return m_state;
}

void OrbView::setState(const AnnouncerState& state)
{
    if (state.kind != m_state.kind) {
        m_previous = m_state;
        m_changedAt = seconds();
    }
    m_state = state;
    update();
}

double OrbView::diameter() const
{
    if (m_diameter > 0)
        return m_diameter;
    return std::min(width(), height()) / OrbPainter::kPanelRatio;
}

void OrbView::setDiameter(double diameter)
{
    if (diameter == m_diameter)
        return;
    m_diameter = diameter;
    update();
}

bool OrbView::isAnimating() const
{
    return m_frameTimer.isActive();
}

void OrbView::setRenderer(OrbPainter::Renderer renderer)
{
    m_painter.setRenderer(renderer);
    update();
}

double OrbView::seconds() const
{
    return double(m_clock.nsecsElapsed()) / 1e9;
}

void OrbView::paintEvent(QPaintEvent*)
{
    const double side = std::min(width(), height());
    if (side <= 0)
        return;
    const QRectF square((width() - side) / 2, (height() - side) / 2, side, side);
    const double now = seconds();
    QPainter painter(this);
    const double progress = (now - m_changedAt) / OrbPainter::kCrossFadeSeconds;
    if (m_changedAt >= 0 && progress < 1)
        m_painter.paintCrossFade(painter, square, m_previous, m_state, diameter(), now, progress);
    else
        m_painter.paint(painter, square, m_state, diameter(), now);
}

void OrbView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (QWidget* top = window(); top != this)
        top->installEventFilter(this);
    startFrames();
}

void OrbView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_frameTimer.stop();
}

bool OrbView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window() && event->type() == QEvent::WindowStateChange) {
        if (window()->isMinimized())
            m_frameTimer.stop();
        else if (isVisible())
            startFrames();
    }
    return QWidget::eventFilter(watched, event);
}

void OrbView::startFrames()
{
    if (!isVisible() || window()->isMinimized())
        return;
    const QScreen* display = screen();
    double rate = display ? display->refreshRate() : 0;
    if (!(rate >= 1))
        rate = kFallbackRefreshRate;
    m_frameIntervalNs = qint64(std::llround(1e9 / rate));
    m_firstFrameNs = m_clock.nsecsElapsed();
    m_frameIndex = 0;
    update();
    scheduleFrame();
}

void OrbView::nextFrame()
{
    if (!isVisible() || window()->isMinimized())
        return;
    update();
    scheduleFrame();
}

// Frames fall on a fixed grid from the first one, so millisecond timers still average the
// display's rate; after a stall the grid starts again from now rather than catching up.
void OrbView::scheduleFrame()
{
    const qint64 now = m_clock.nsecsElapsed();
    ++m_frameIndex;
    qint64 due = m_firstFrameNs + m_frameIndex * m_frameIntervalNs;
    if (due < now) {
        m_firstFrameNs = now;
        m_frameIndex = 1;
        due = now + m_frameIntervalNs;
    }
    m_frameTimer.start(int(std::llround(double(due - now) / 1e6)));
}

} // namespace vardelle
