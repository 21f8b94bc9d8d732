#include "shell/DesktopActions.h"

#include "briefing/AppCoordinator.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace vardelle {

const QString DesktopActions::announceLatestTitle = QStringLiteral("Announce Latest Headlines");
const QString DesktopActions::announceTodayTitle = QStringLiteral("Announce Everything from Today");
const QString DesktopActions::stopSpeakingTitle = QStringLiteral("Stop Speaking");
const QString DesktopActions::replayTitle = QStringLiteral("Replay Last Briefing");
const QString DesktopActions::showBubbleTitle = QStringLiteral("Show Bubble");
const QString DesktopActions::hideBubbleTitle = QStringLiteral("Hide Bubble");
const QString DesktopActions::settingsTitle = QStringLiteral("Settings\u2026");
const QString DesktopActions::quitTitle = QStringLiteral("Quit Vardelle");

DesktopActions::DesktopActions(AppCoordinator& coordinator, QObject* parent)
    : QObject(parent)
    , m_coordinator(coordinator)
{
    m_announceLatest = add(announceLatestTitle);
    m_announceToday = add(announceTodayTitle);
    m_stopSpeaking = add(stopSpeakingTitle);
    m_replay = add(replayTitle);
    m_toggleBubble = add(showBubbleTitle);
    m_settings = add(settingsTitle);
    m_settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    m_quit = add(quitTitle);
    m_quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_quit->setMenuRole(QAction::QuitRole);

    connect(m_announceLatest, &QAction::triggered, this, [this] {
        QMetaObject::invokeMethod(
            this, [this] { m_coordinator.announce(AnnounceReason::manual); }, Qt::QueuedConnection);
    });
    connect(m_announceToday, &QAction::triggered, this, [this] {
        QMetaObject::invokeMethod(
            this, [this] { m_coordinator.announce(AnnounceReason::manual, AnnounceWindow::today); },
            Qt::QueuedConnection);
    });
    connect(m_stopSpeaking, &QAction::triggered, this, [this] { m_coordinator.stop(); });
    connect(m_replay, &QAction::triggered, &m_coordinator, &AppCoordinator::replayLastBriefing);

    // Something to stop: a gather or speech. A failure shown is nothing to stop; it clears with
    // the next briefing.
    auto enableStop = [this](const AnnouncerState& state) {
        m_stopSpeaking->setEnabled(state.kind == AnnouncerState::Kind::gathering ||
                                   state.kind == AnnouncerState::Kind::speaking);
    };
    enableStop(coordinator.state());
    connect(&coordinator, &AppCoordinator::stateChanged, this, enableStop);

    if (qApp)
        qApp->installEventFilter(this);
}

DesktopActions::~DesktopActions()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

QAction* DesktopActions::add(const QString& title)
{
    auto* action = new QAction(title, this);
    // Keys are matched by the event filter below, in every window and menu alike; a second
    // match through Qt's own shortcut map would run the command twice.
    action->setShortcutContext(Qt::WidgetShortcut);
    return action;
}

void DesktopActions::setBubbleVisible(bool visible)
{
    m_toggleBubble->setText(visible ? hideBubbleTitle : showBubbleTitle);
}

QAction* DesktopActions::actionForKey(const QEvent& event) const
{
    const auto& key = static_cast<const QKeyEvent&>(event);
    if (key.isAutoRepeat())
        return nullptr;
    const QKeySequence pressed(key.keyCombination());
    for (QAction* action : {m_settings, m_quit}) {
        if (action->isEnabled() && action->shortcut() == pressed)
            return action;
    }
    return nullptr;
}

// Key presses reach a widget: the focused one of the active window, or the open popup menu.
// They are looked at before the widget sees them, so no text field or menu takes them first.
bool DesktopActions::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    QAction* action = actionForKey(*event);
    if (!action)
        return false;
    // A menu that is open closes first, as it does when one of its entries is chosen.
    for (QWidget* popup = QApplication::activePopupWidget(); popup;) {
        popup->close();
        QWidget* next = QApplication::activePopupWidget();
        popup = next != popup ? next : nullptr;
    }
    action->trigger();
    return true;
}

} // namespace vardelle
