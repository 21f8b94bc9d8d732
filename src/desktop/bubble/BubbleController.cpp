#include "bubble/BubbleController.h"

#include "briefing/AppCoordinator.h"
#include "briefing/RelativeTime.h"
#include "bubble/BubblePanel.h"
#include "bubble/BubbleWidget.h"
#include "bubble/CategoryIcon.h"
#include "news/StoryGroups.h"
#include "news/WatchList.h"
#include "orb/OrbView.h"
#include "settings/AppSettings.h"
#include "shell/DesktopActions.h"
#include "store/HeadlineStore.h"
#include "time/Clock.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEasingCurve>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMenu>
#include <QScreen>
#include <QStyle>
#include <QStyleHints>
#include <QToolTip>
#include <QVariantAnimation>

#include <utility>

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

// Characters of the average width on a line of a readable length, in tooltips and menus.
constexpr int readableCharacters = 60;

// Feed text as a menu entry's title: an ampersand is not a mnemonic and a tab does not start a
// shortcut. Cut short with an ellipsis past a readable width of the menu's font, so that a long
// headline does not stretch the menu across the screen.
struct MenuTitle {
    QString title;
    bool cut = false;

    MenuTitle(QString text, const QMenu& menu)
    {
        const QFontMetrics metrics(menu.font());
        text.replace(u'\t', u' ');
        title = metrics.elidedText(text, Qt::ElideRight,
                                   metrics.averageCharWidth() * readableCharacters);
        cut = title != text;
        title.replace(u'&', QStringLiteral("&&"));
    }
};

// The mark of a headline on the watch list, in place of its category's icon.
QIcon watchedIcon()
{
    return QIcon::fromTheme(
        QStringLiteral("starred"),
        QIcon::fromTheme(QStringLiteral("emblem-important"),
                         QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning)));
}

// Feed text as a paragraph of a tooltip's rich text, shown as it stands even when it looks like
// markup, on lines of a readable length: left to itself, Qt wraps rich text into a box about as
// tall as it is wide.
QString readableParagraph(const QString& text)
{
    const QFontMetrics metrics(QToolTip::font());
    const int measure = metrics.averageCharWidth() * readableCharacters;
    const QString escaped = text.toHtmlEscaped();
    if (metrics.horizontalAdvance(text) <= measure)
        return QStringLiteral("<p style=\"white-space:nowrap\">") + escaped +
               QStringLiteral("</p>");
    return QStringLiteral("<table width=\"%1\"><tr><td>").arg(measure) + escaped +
           QStringLiteral("</td></tr></table>");
}

// Feed text as a tooltip of its own.
QString plainToolTip(const QString& text)
{
    return QStringLiteral("<qt>") + readableParagraph(text) + QStringLiteral("</qt>");
}

bool isWebLink(const QUrl& url)
{
    return url.isValid() && !url.host().isEmpty() &&
           (url.scheme() == u"http" || url.scheme() == u"https");
}

} // namespace

BubbleController::BubbleController(AppCoordinator& coordinator, AppSettings& settings,
                                   HeadlineStore& store, const Clock& clock,
                                   DesktopActions& actions, QObject* parent)
    : QObject(parent)
    , m_coordinator(coordinator)
    , m_settings(settings)
    , m_store(store)
    , m_clock(clock)
    , m_actions(actions)
    , m_openUrl([](const QUrl& url) { QDesktopServices::openUrl(url); })
    , m_screenAreas(applicationScreenAreas)
    , m_diameter(BubblePanel::orbDiameter(settings.bubbleCompact()))
{
    m_pendingStop.setSingleShot(true);
    m_pendingStop.setInterval(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    connect(&m_pendingStop, &QTimer::timeout, this, [this] { m_coordinator.stop(); });

    // Both follow through the event loop, like every other observer of published state.
    connect(&coordinator, &AppCoordinator::stateChanged, this, [this](const AnnouncerState& state) {
        QMetaObject::invokeMethod(
            this, [this, state] { showState(state); }, Qt::QueuedConnection);
    });
    connect(&coordinator, &AppCoordinator::readingChanged, this, &BubbleController::showReading);
    connect(&settings, &AppSettings::bubbleCompactChanged, this, [this] {
        QMetaObject::invokeMethod(
            this, [this] { applySize(); }, Qt::QueuedConnection);
    });
}

BubbleController::~BubbleController()
{
    delete m_panel;
}

void BubbleController::show()
{
    finishResize();
    applySize(); // a size change may still be on its way through the event loop
    if (!m_panel)
        build();
    else if (const int side = BubblePanel::sideFor(m_diameter); m_panel->width() != side) {
        m_panel->resize(side, side);
        layOutOrb();
    }
    place();
    m_panel->show();
    m_panel->raise();
    m_settings.setBubbleHidden(false);
    m_actions.setBubbleVisible(true);
}

void BubbleController::hide()
{
    finishResize();
    if (m_panel)
        m_panel->hide();
    m_settings.setBubbleHidden(true);
    m_actions.setBubbleVisible(false);
}

bool BubbleController::isVisible() const
{
    return m_panel && m_panel->isVisible();
}

void BubbleController::savePosition()
{
    if (!m_panel)
        return;
    m_settings.setBubbleOrigin(QPointF(m_panel->pos()));
}

void BubbleController::resetPosition()
{
    m_settings.setBubbleOrigin(std::nullopt);
    finishResize();
    place();
}

void BubbleController::build()
{
    m_panel = new BubblePanel(BubblePanel::sideFor(m_diameter));
    m_panel->setWindowTitle(QStringLiteral("Vardelle"));
    m_bubbleWidget = new BubbleWidget;
    showReading();
    QPointer<BubbleController> self(this);
    m_bubbleWidget->onClick = [self] {
        if (self)
            self->click();
    };
    m_bubbleWidget->onDoubleClickPress = [self] {
        if (self)
            self->takeBackClick();
    };
    m_bubbleWidget->onDoubleClick = [self] {
        if (self)
            self->doubleClick();
    };
    m_bubbleWidget->menuProvider = [self] {
        return self ? self->buildMenu() : std::make_unique<QMenu>();
    };
    connect(m_bubbleWidget, &BubbleWidget::moved, this, &BubbleController::savePosition);
    m_panel->setWidget(m_bubbleWidget);

    // The orb's glow and ripples reach past the orb: its view fills the panel, through a layout
    // so that it follows every size the panel takes, also one given while it was hidden, which
    // reaches the container only when the panel is shown again.
    m_orb = new OrbView(m_bubbleWidget);
    auto* layout = new QHBoxLayout(m_bubbleWidget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_orb);
    m_shownState = m_coordinator.state();
    m_orb->setState(*m_shownState);
    layOutOrb();
}

// The panel's side is whole pixels, the orb's diameter is exact.
void BubbleController::layOutOrb()
{
    if (m_orb)
        m_orb->setDiameter(m_diameter);
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
// stored position moves with it. On screen the bubble grows or shrinks over a moment; hidden, or
// not built yet, only the stored position moves, and the next show takes the new size there.
void BubbleController::applySize()
{
    const double target = BubblePanel::orbDiameter(m_settings.bubbleCompact());
    const double from = m_resize ? m_resize->endValue().toDouble() : m_diameter;
    if (target == from)
        return;
    if (!isVisible()) {
        // Applied at the next show, which places the panel at the stored position.
        finishResize();
        moveStoredOrigin(BubblePanel::sideFor(m_diameter), BubblePanel::sideFor(target));
        m_diameter = target;
        return;
    }
    if (m_resize)
        m_resize->stop();
    else {
        m_resize = new QVariantAnimation(this);
        m_resize->setDuration(resizeMs);
        m_resize->setEasingCurve(QEasingCurve::OutCubic);
        connect(m_resize, &QVariantAnimation::valueChanged, this,
                [this](const QVariant& value) { resizeTo(value.toDouble()); });
        connect(m_resize, &QVariantAnimation::finished, this, &BubbleController::savePosition);
    }
    m_resize->setStartValue(m_diameter);
    m_resize->setEndValue(target);
    m_resize->start();
}

// One step of a resize: the panel's side for `diameter`, rounded to whole pixels once, with the
// lower-left corner kept.
void BubbleController::resizeTo(double diameter)
{
    m_diameter = diameter;
    if (!m_panel)
        return;
    const int side = BubblePanel::sideFor(diameter);
    const QRect old = m_panel->geometry();
    m_panel->setGeometry(old.x(), old.y() + old.height() - side, side, side);
    layOutOrb();
}

// A resize under way ends at once at its final size.
void BubbleController::finishResize()
{
    if (m_resize && m_resize->state() == QAbstractAnimation::Running)
        m_resize->setCurrentTime(m_resize->duration());
}

void BubbleController::moveStoredOrigin(int fromSide, int toSide)
{
    if (const std::optional<QPointF> stored = m_settings.savedBubbleOrigin())
        m_settings.setBubbleOrigin(*stored + QPointF(0, fromSide - toSide));
}

void BubbleController::showState(const AnnouncerState& state)
{
    if (m_shownState == state)
        return;
    m_shownState = state;
    if (m_orb)
        m_orb->setState(state);
    describe();
}

void BubbleController::describe()
{
    if (m_bubbleWidget)
        m_bubbleWidget->setAccessibleDescription(accessibleDescription());
}

QString BubbleController::accessibleDescription() const
{
    const AnnouncerState state = m_coordinator.state();
    switch (state.kind) {
    case AnnouncerState::Kind::idle:
        return QStringLiteral("Ready");
    case AnnouncerState::Kind::gathering:
        return QStringLiteral("Gathering");
    case AnnouncerState::Kind::speaking:
        // The parts between the opening and the closing are the stories.
        if (const std::optional<AppCoordinator::Reading> reading = m_coordinator.reading();
            reading && reading->part.story)
            return QStringLiteral("Reading story %1 of %2: %3")
                .arg(reading->index)
                .arg(std::max<qsizetype>(reading->count - 2, reading->index))
                .arg(reading->part.story->title);
        return QStringLiteral("Speaking");
    case AnnouncerState::Kind::failed:
        return QStringLiteral("Problem: ") + state.message;
    }
    return {};
}

// A briefing starts gathering at once, and is taken back should this click turn out the first
// of a double click; until the double-click interval has passed it is not heard. A stop cannot be
// taken back, so it waits for the interval instead.
void BubbleController::click()
{
    if (m_coordinator.state().kind == AnnouncerState::Kind::speaking) {
        m_clickRun = 0;
        m_pendingStop.start();
        return;
    }
    // 0 when the coordinator drops the request (a run already gathers).
    m_clickRun = m_coordinator.announce(AnnounceReason::manual, AnnounceWindow::sinceLastCheck,
                                        m_pendingStop.intervalAsDuration());
}

// The second press of a double click: whatever its first click did is undone.
void BubbleController::takeBackClick()
{
    m_pendingStop.stop();
    // Only the run this click started ends, and leaves no trace: nothing of it is spoken, and
    // what it may already have recorded is taken back.
    if (const AppCoordinator::RunId run = std::exchange(m_clickRun, 0))
        m_coordinator.takeBack(run);
}

void BubbleController::doubleClick()
{
    takeBackClick();
    m_actions.settings()->trigger();
}

std::optional<QString> BubbleController::storyLine() const
{
    const std::optional<AppCoordinator::Reading> reading = m_coordinator.reading();
    if (!reading || !reading->part.story)
        return std::nullopt;
    const NewsItem& story = *reading->part.story;
    return QStringLiteral("Reading: ") + story.title + QStringLiteral(" — ") + story.source;
}

void BubbleController::showReading()
{
    if (!m_bubbleWidget)
        return;
    const std::optional<QString> line = storyLine();
    m_bubbleWidget->setToolTip(line ? plainToolTip(*line) : toolTip);
    describe();
}

QString BubbleController::statusLine() const
{
    const AnnouncerState state = m_coordinator.state();
    if (state.kind == AnnouncerState::Kind::speaking) {
        if (const std::optional<QString> line = storyLine())
            return *line;
    }
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
    auto entry = [this, &m](const QString& title, auto action) {
        QAction* item = m.addAction(title);
        connect(item, &QAction::triggered, this, std::move(action));
    };
    m_actions.setBubbleVisible(isVisible());

    // The whole status line in its tooltip when it is cut short.
    m.setToolTipsVisible(true);
    const QString status = statusLine();
    const MenuTitle statusTitle(status, m);
    QAction* statusEntry = m.addAction(statusTitle.title);
    statusEntry->setEnabled(false);
    if (statusTitle.cut)
        statusEntry->setToolTip(plainToolTip(status));
    m.addSeparator();
    m.addAction(m_actions.announceLatest());
    m.addAction(m_actions.announceToday());
    m.addAction(m_actions.replay());
    m.addAction(m_actions.stopSpeaking());
    m.addSeparator();
    addRecentHeadlines(m);
    m.addSeparator();
    const bool compact = m_settings.bubbleCompact();
    entry(compact ? QStringLiteral("Expand Bubble") : QStringLiteral("Minimise Bubble"),
          [this, compact] { m_settings.setBubbleCompact(!compact); });
    m.addAction(m_actions.toggleBubble());
    entry(QStringLiteral("Reset Bubble Position"), [this] { resetPosition(); });
    m.addSeparator();
    m.addAction(m_actions.settings());
    m.addAction(m_actions.quit());
    return menu;
}

void BubbleController::addRecentHeadlines(QMenu& menu)
{
    // An event told once is listed once, by the story that told it.
    const QList<StoryGroup> stories = m_coordinator.lastStories();
    if (stories.isEmpty()) {
        menu.addAction(QStringLiteral("No headlines yet"))->setEnabled(false);
        return;
    }
    QMenu* headlines = menu.addMenu(QStringLiteral("Recent Headlines"));
    headlines->setToolTipsVisible(true);
    const WatchList watch(m_settings.watchTerms());
    for (const StoryGroup& group :
         stories.first(std::min<qsizetype>(stories.size(), recentHeadlines))) {
        const NewsItem& item = group.lead();
        std::optional<QString> term;
        for (const NewsItem& story : group.stories) {
            if ((term = watch.match(story)))
                break;
        }
        const MenuTitle title(item.title, *headlines);
        QAction* entry =
            headlines->addAction(term ? watchedIcon() : categoryIcon(item.category), title.title);
        // The whole title first when the entry shows it cut short.
        QString above = title.cut ? readableParagraph(item.title) : QString();
        if (term)
            above += (QStringLiteral("On your watch list: ") + term->trimmed()).toHtmlEscaped() +
                     QStringLiteral("<br>");
        if (group.stories.size() > 1)
            above += (QStringLiteral("Also reported by ") + spokenList(group.otherSources()))
                         .toHtmlEscaped() +
                     QStringLiteral("<br>");
        // The source alone when the story has no summary.
        const QString summary = item.summary.trimmed();
        const QString about =
            summary.isEmpty() ? item.source : item.source + QStringLiteral(" — ") + summary;
        entry->setToolTip(QStringLiteral("<qt>") + above + readableParagraph(about) +
                          QStringLiteral("</qt>"));
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
