#include "orb/OrbView.h"

#include "OrbLook.h"
#include "linux/desktop/X11FramePresenter.h"
#include "linux/desktop/X11Window.h"

#include <QBackingStore>
#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <cmath>

namespace vardelle {

namespace {

constexpr double kFallbackRefreshRate = 60;
// How far from the centre, over the diameter, a frame can draw: the glow's blurred disc reaches
// 0.8 d at rest and grows to 1.35 × 1.035 times that; the ripples stay within 0.76 d.
constexpr double kReach = 0.8 * 1.35 * 1.035;
// Bands of the reach region on either side of the centre: each one rectangle for the X server.
constexpr int kReachBands = 4;

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
    return std::min(width(), height()) / orblook::kPanelRatio;
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

void OrbView::setPresentation(Presentation presentation)
{
    m_presentation = presentation;
    if (presentation != Presentation::ownImages)
        m_presenter.reset();
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

QRectF OrbView::square() const
{
    const double side = std::min(width(), height());
    return QRectF((width() - side) / 2, (height() - side) / 2, side, side);
}

QRegion OrbView::reach(const QRectF& square, double diameter)
{
    // One pixel more for the filters' and the antialiasing's spread.
    const double radius = kReach * diameter + 1;
    const QPointF c = square.center();
    const QRect bounds = square.toAlignedRect();
    QRegion region;
    for (int band = -kReachBands; band < kReachBands; ++band) {
        // Band rows from y0 to y1; its widest row is the one nearest the centre.
        const double y0 = c.y() + radius * band / kReachBands;
        const double y1 = y0 + radius / kReachBands;
        const double nearest = band < 0 ? y1 - c.y() : y0 - c.y();
        const double half = std::sqrt(std::max(0.0, radius * radius - nearest * nearest));
        const QRect rect = QRectF(QPointF(c.x() - half, y0), QPointF(c.x() + half, y1))
                               .toAlignedRect()
                               .intersected(bounds);
        if (!rect.isEmpty())
            region += rect;
    }
    return region;
}

const QRegion& OrbView::Reach::of(const QRectF& square, double diameter, QPoint offset, qreal ratio)
{
    // No allocation per frame.
    if (square == this->square && diameter == this->diameter && offset == this->offset &&
        ratio == this->ratio)
        return region;
    this->square = square;
    this->diameter = diameter;
    this->offset = offset;
    this->ratio = ratio;
    region = QRegion();
    for (const QRect& r : reach(square, diameter).translated(offset))
        region += QRectF(QPointF(r.topLeft()) * ratio, QSizeF(r.size()) * ratio).toAlignedRect();
    return region;
}

double OrbView::fadeProgress(double now) const
{
    return m_changedAt >= 0 ? std::min((now - m_changedAt) / orblook::kCrossFadeSeconds, 1.0) : 1;
}

bool OrbView::composeInto(QImage& image, const QRectF& square)
{
    const double now = seconds();
    const double progress = fadeProgress(now);
    return m_painter.drawInto(image, square, progress < 1 ? m_previous : m_state, m_state,
                              diameter(), now, progress);
}

bool OrbView::drawFrame()
{
    switch (m_presentation) {
    case Presentation::ownImages:
        return presentFrame() || drawIntoBackingStore();
    case Presentation::backingStore:
        return drawIntoBackingStore();
    case Presentation::repaint:
        return false;
    }
    return false;
}

bool OrbView::presentFrame()
{
    QWindow* handle = window()->windowHandle();
    if (!handle || !handle->isExposed() || !x11::isAvailable())
        return false;
    const QRectF here = square();
    if (here.isEmpty())
        return true;
    const qreal dpr = handle->devicePixelRatio();
    // The square's corner must fall on a device pixel of the window, as it does for the bubble.
    const QPointF corner = (here.topLeft() + mapTo(window(), QPoint())) * dpr;
    const QPoint origin = corner.toPoint();
    if (std::abs(corner.x() - origin.x()) > 1e-6 || std::abs(corner.y() - origin.y()) > 1e-6)
        return false;
    const int side = int(std::ceil(std::min(here.width(), here.height()) * dpr - 1e-9));
    const QSize size(side, side);
    const quintptr id = handle->winId();
    if (!m_presenter || m_presenter->window() != id || m_presenter->size() != size) {
        m_presenter.reset();
        if (m_presenterFailedFor == id && m_presenterFailedSize == size)
            return false;
        m_presenter = x11::FramePresenter::create(id, size);
        if (!m_presenter) {
            m_presenterFailedFor = id;
            m_presenterFailedSize = size;
            return false;
        }
    }
    QImage* image = m_presenter->nextFrame();
    if (!image) {
        ++m_skippedFrames;
        return true;
    }
    image->setDevicePixelRatio(dpr);
    const QRectF frame(QPointF(0, 0), here.size());
    if (!composeInto(*image, frame))
        return false;
    m_presenter->present(m_deviceReach.of(frame, diameter(), QPoint(), dpr), origin);
    return true;
}

bool OrbView::drawIntoBackingStore()
{
    QWidget* top = window();
    QWindow* handle = top->windowHandle();
    QBackingStore* store = top->backingStore();
    if (!handle || !store || !handle->isExposed() || store->size() != top->size())
        return false;
    const QRectF here = square();
    if (here.isEmpty())
        return true;
    const QPoint offset = mapTo(top, QPoint());
    const QRegion& area = m_reach.of(here, diameter(), offset, 1);
    store->beginPaint(area);
    QPaintDevice* device = store->paintDevice();
    bool drawn = false;
    if (device && device->devType() == QInternal::Image) {
        // A reference: a copy of the image would detach from the backing store's pixels.
        drawn = composeInto(*static_cast<QImage*>(device), here.translated(offset));
    }
    store->endPaint();
    if (drawn)
        store->flush(area, handle);
    return drawn;
}

void OrbView::paintEvent(QPaintEvent*)
{
    const QRectF square = this->square();
    if (square.isEmpty())
        return;
    const double now = seconds();
    QPainter painter(this);
    const double progress = fadeProgress(now);
    if (progress < 1)
        m_painter.paintCrossFade(painter, square, m_previous, m_state, diameter(), now, progress);
    else
        m_painter.paint(painter, square, m_state, diameter(), now);
}

void OrbView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (QWidget* top = window(); top != this)
        top->installEventFilter(this);
    if (QWindow* handle = window()->windowHandle())
        handle->installEventFilter(this);
    startFrames();
}

void OrbView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_frameTimer.stop();
    m_presenter.reset();
}

bool OrbView::eventFilter(QObject* watched, QEvent* event)
{
    // The window's backing store holds the frame of the last paint, which an expose shows again:
    // a paint brings it up to date at once rather than at the next frame.
    if (m_presenter && watched == window()->windowHandle() && event->type() == QEvent::Expose)
        update();
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
    if (!drawFrame())
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
