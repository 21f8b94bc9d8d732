#include "bubble/BubbleController.h"

#include "briefing/AppCoordinator.h"
#include "briefing/RelativeTime.h"
#include "bubble/BubblePanel.h"
#include "bubble/BubbleWidget.h"
#include "bubble/CategoryIcon.h"
#include "news/WatchList.h"
#include "orb/OrbView.h"
#include "settings/AppSettings.h"
#include "store/HeadlineStore.h"
#include "time/Clock.h"

#include <QApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QStyle>

namespace vardelle {

const QString BubbleController::toolTip =
    QStringLiteral("Vardelle — click for a briefing, right-click for options");

namespace {

QList<QRect> applicationScreenAreas()
{
    QList<QRect> areas;
    QScreen* primary = QGuiApplication::primaryScreen();
    if (primary)
        areas.append(primary->availableGeometry());
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen != primary)
            areas.append(screen->availableGeometry());
    }
    return areas;
}

// Feed text in a menu title: an ampersand is not a mnemonic and a tab does not start a shortcut.
QString menuTitle(QString text)
{
    text.replace(u'&', QStringLiteral("&&"));
    text.replace(u'\t', u' ');
    return text;
}

// The mark of a headline on the watch list, in place of its category's icon.
QIcon watchedIcon()
{
    return QIcon::fromTheme(
        QStringLiteral("starred"),
        QIcon::fromTheme(QStringLiteral("emblem-important"),
                         QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning)));
}

// Feed text in a tooltip, shown as it stands even when it looks like markup.
QString plainToolTip(const QString& text)
{
    return QStringLiteral("<qt>") + text.toHtmlEscaped() + QStringLiteral("</qt>");
}

bool isWebLink(const QUrl& url)
{
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == u"http" || url.scheme() == u"https");
}

} // namespace

BubbleController::BubbleController(AppCoordinator& coordinator, AppSettings& settings,
                                   HeadlineStore& store, const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_coordinator(coordinator)
    , m_settings(settings)
    , m_store(store)
    , m_clock(clock)
    , m_openUrl([](const QUrl& url) { QDesktopServices::openUrl(url); })
    , m_screenAreas(applicationScreenAreas)
{
    // Both follow through the event loop, like every other observer of published state.
    connect(&coordinator, &AppCoordinator::stateChanged, this, [this](const AnnouncerState& state) {
        QMetaObject::invokeMethod(
            this, [this, state] { showState(state); }, Qt::QueuedConnection);
    });
    connect(&settings, &AppSettings::bubbleCompactChanged, this, [this] {
        QMetaObject::invokeMethod(
            this, [this] { applySize(); }, Qt::QueuedConnection);
    });
}

BubbleController::BubbleController(QObject* parent)
    : BubbleController(AppCoordinator::shared(), AppSettings::shared(), HeadlineStore::shared(),
                       Clock::system(), parent)
{
}

BubbleController::~BubbleController()
{
    delete m_panel;
}

void BubbleController::show()
{
    if (!m_panel)
        build();
    place();
    m_panel->show();
    m_panel->raise();
    m_settings.setBubbleHidden(false);
}

void BubbleController::hide()
{
    if (m_panel)
        m_panel->hide();
    m_settings.setBubbleHidden(true);
}

bool BubbleController::isVisible() const
{
    return m_panel && m_panel->isVisible();
}

void BubbleController::savePosition()
{
    if (!m_panel)
        return;
    const QPoint origin = m_panel->pos();
    m_settings.defaults().setNumberPair(preferenceKeys::bubbleFrameX, origin.x(),
                                        preferenceKeys::bubbleFrameY, origin.y());
}

void BubbleController::resetPosition()
{
    m_settings.defaults().remove(preferenceKeys::bubbleFrameX);
    m_settings.defaults().remove(preferenceKeys::bubbleFrameY);
    place();
}

void BubbleController::build()
{
    const int side = BubblePanel::side(m_settings.bubbleCompact());
    m_panel = new BubblePanel(side);
    m_container = new BubbleWidget;
    m_container->setToolTip(toolTip);
    QPointer<BubbleController> self(this);
    m_container->onClick = [self] {
        if (self)
            self->click();
    };
    m_container->onDoubleClick = [self] {
        if (self && self->m_openSettings)
            self->m_openSettings();
    };
    m_container->menuProvider = [self] {
        return self ? self->buildMenu() : std::make_unique<QMenu>();
    };
    connect(m_container, &BubbleWidget::moved, this, &BubbleController::savePosition);
    m_panel->setContentView(m_container);

    m_orb = new OrbView(m_container);
    m_shownState = m_coordinator.state();
    m_orb->setState(*m_shownState);
    layOutOrb();
}

void BubbleController::layOutOrb()
{
    if (!m_orb)
        return;
    // The orb's glow and ripples reach past the orb: its view fills the panel and draws the orb
    // at the panel's side over 1.9.
    m_orb->setGeometry(m_container->rect());
}

void BubbleController::place()
{
    if (!m_panel)
        return;
    const QSize size = m_panel->size();
    const QList<QRect> areas = m_screenAreas();
    if (const std::optional<QPointF> stored = m_settings.savedBubbleOrigin()) {
        const QRectF frame(*stored, QSizeF(size));
        for (const QRect& area : areas) {
            if (frame.intersects(QRectF(area))) {
                m_panel->move(stored->toPoint());
                return;
            }
        }
    }
    if (areas.isEmpty())
        return;
    const QRect main = areas.first();
    m_panel->move(main.x() + main.width() - size.width() - cornerRight,
                  main.y() + main.height() - size.height() - cornerBottom);
    savePosition();
}

// The lower-left corner stays where it is. Qt positions windows by their top-left corner, so the
// stored position moves with it.
void BubbleController::applySize()
{
    if (!m_panel)
        return;
    const int side = BubblePanel::side(m_settings.bubbleCompact());
    const QRect old = m_panel->geometry();
    if (old.size() == QSize(side, side))
        return;
    m_panel->setGeometry(old.x(), old.y() + old.height() - side, side, side);
    layOutOrb();
    m_orb->setState(m_coordinator.state());
    savePosition();
}

void BubbleController::showState(const AnnouncerState& state)
{
    if (m_shownState == state)
        return;
    m_shownState = state;
    if (m_orb)
        m_orb->setState(state);
}

void BubbleController::click()
{
    if (m_coordinator.state().kind == AnnouncerState::Kind::speaking)
        m_coordinator.stopSpeaking();
    else
        announceLater(false);
}

void BubbleController::announceLater(bool fromToday)
{
    QMetaObject::invokeMethod(
        this,
        [this, fromToday] {
            m_coordinator.announce(AnnounceReason::manual,
                                   fromToday ? std::optional(startOfLocalDay(m_clock.now()))
                                             : std::nullopt);
        },
        Qt::QueuedConnection);
}

QString BubbleController::statusLine() const
{
    const AnnouncerState state = m_coordinator.state();
    switch (state.kind) {
    case AnnouncerState::Kind::idle:
        if (const std::optional<Instant> last = m_store.lastGather())
            return QStringLiteral("Last gather ") +
                   relativeTimePhrase(*last, m_clock.now(), RelativeStyle::abbreviated);
        return QStringLiteral("Ready");
    case AnnouncerState::Kind::gathering:
        return QStringLiteral("Gathering headlines…");
    case AnnouncerState::Kind::speaking:
        return QStringLiteral("Speaking — click the orb to stop");
    case AnnouncerState::Kind::failed:
        return QStringLiteral("Problem: ") + state.message;
    }
    return {};
}

std::unique_ptr<QMenu> BubbleController::buildMenu()
{
    auto menu = std::make_unique<QMenu>();
    QMenu& m = *menu;
    auto entry = [this, &m](const QString& title, Action action) {
        QAction* item = m.addAction(title);
        connect(item, &QAction::triggered, this, std::move(action));
    };

    m.addAction(menuTitle(statusLine()))->setEnabled(false);
    m.addSeparator();
    entry(QStringLiteral("Announce Latest Headlines"), [this] { announceLater(false); });
    entry(QStringLiteral("Announce Everything from Today"), [this] { announceLater(true); });
    entry(QStringLiteral("Replay Last Briefing"), [this] { m_coordinator.replayLastBriefing(); });
    entry(QStringLiteral("Stop Speaking"), [this] { m_coordinator.stopSpeaking(); });
    m.addSeparator();
    addRecentHeadlines(m);
    m.addSeparator();
    const bool compact = m_settings.bubbleCompact();
    entry(compact ? QStringLiteral("Expand Bubble") : QStringLiteral("Minimise Bubble"),
          [this, compact] { m_settings.setBubbleCompact(!compact); });
    entry(QStringLiteral("Hide Bubble"), [this] { hide(); });
    entry(QStringLiteral("Reset Bubble Position"), [this] { resetPosition(); });
    m.addSeparator();
    entry(QStringLiteral("Settings…"), [this] {
        if (m_openSettings)
            m_openSettings();
    });
    entry(QStringLiteral("Quit Vardelle"), [this] {
        if (m_quit)
            m_quit();
    });
    return menu;
}

void BubbleController::addRecentHeadlines(QMenu& menu)
{
    const QList<NewsItem> items = m_coordinator.lastItems();
    if (items.isEmpty()) {
        menu.addAction(QStringLiteral("No headlines yet"))->setEnabled(false);
        return;
    }
    QMenu* headlines = menu.addMenu(QStringLiteral("Recent Headlines"));
    headlines->setToolTipsVisible(true);
    const WatchList watch(m_settings.watchTerms());
    for (const NewsItem& item : items.first(std::min<qsizetype>(items.size(), recentHeadlines))) {
        const std::optional<QString> term = watch.match(item);
        QAction* entry = headlines->addAction(term ? watchedIcon() : categoryIcon(item.category),
                                              menuTitle(item.title));
        const QString about = item.source + QStringLiteral(" — ") + item.summary;
        QString toolTip = plainToolTip(about);
        if (term) {
            toolTip.insert(
                4, (QStringLiteral("On your watch list: ") + term->trimmed()).toHtmlEscaped() +
                       QStringLiteral("<br>"));
        }
        entry->setToolTip(toolTip);
        const QUrl url(item.link, QUrl::StrictMode);
        if (item.link.isEmpty() || !isWebLink(url)) {
            entry->setEnabled(false);
            continue;
        }
        connect(entry, &QAction::triggered, this, [this, url] {
            if (m_openUrl)
                m_openUrl(url);
        });
    }
}

} // namespace vardelle
