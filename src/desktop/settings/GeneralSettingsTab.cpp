#include "settings/GeneralSettingsTab.h"

#include "briefing/AppCoordinator.h"
#include "linux/desktop/AutostartEntry.h"
#include "settings/AppSettings.h"
#include "settings/SettingStepper.h"
#include "settings/SettingsForm.h"
#include "shell/DesktopActions.h"
#include "store/HeadlineStore.h"
#include "time/DateText.h"

#include <QCheckBox>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace vardelle {

GeneralSettingsTab::GeneralSettingsTab(AppSettings& settings, AppCoordinator& coordinator,
                                       HeadlineStore& store, AutostartEntry& loginItem,
                                       DesktopActions& actions, QWidget* parent)
    : QWidget(parent)
    , m_settings(settings)
    , m_coordinator(coordinator)
    , m_store(store)
    , m_loginItem(loginItem)
{
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setSpacing(12);
    buildStartup(column);
    buildAnnounce(column);
    buildBubble(column);
    buildRefresh(column);
    buildMaintenance(column, actions);
    column->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scrollingPage(content));
    refresh();

    connect(&store, &HeadlineStore::lastGatherChanged, this,
            &GeneralSettingsTab::refreshLastGather);

    m_loginItemWatcher = new QFileSystemWatcher(this);
    auto loginItemChanged = [this] {
        refreshLoginItem(true);
        watchLoginItem();
    };
    connect(m_loginItemWatcher, &QFileSystemWatcher::fileChanged, this, loginItemChanged);
    connect(m_loginItemWatcher, &QFileSystemWatcher::directoryChanged, this, loginItemChanged);
    watchLoginItem();
}

// The entry, its folder and the nearest folder above them that exists: a path that does not exist
// cannot be watched, so a missing folder is watched for through the one it will be made in.
void GeneralSettingsTab::watchLoginItem()
{
    const QStringList watched = m_loginItemWatcher->files() + m_loginItemWatcher->directories();
    QString path = m_loginItem.filePath();
    for (int depth = 0; !path.isEmpty() && depth < 8; ++depth) {
        const bool exists = QFileInfo::exists(path);
        if (exists && !watched.contains(path))
            m_loginItemWatcher->addPath(path);
        if (exists && depth > 0)
            break;
        const QString parent = QFileInfo(path).absolutePath();
        path = parent != path ? parent : QString();
    }
}

void GeneralSettingsTab::buildStartup(QVBoxLayout* column)
{
    QVBoxLayout* rows = addSection(column, QStringLiteral("Startup"), QStringLiteral("startup"));
    m_launchAtLogin = new QCheckBox(QStringLiteral("Start Vardelle at login"));
    m_launchAtLogin->setObjectName(QStringLiteral("launchAtLogin"));
    m_launchAtLogin->setChecked(m_loginItem.status() == AutostartStatus::enabled);
    connect(m_launchAtLogin, &QCheckBox::toggled, this, &GeneralSettingsTab::launchAtLoginChanged);
    rows->addWidget(m_launchAtLogin);

    m_loginStatus =
        addLabelledValue(rows, QStringLiteral("Autostart"), QStringLiteral("loginStatus"));

    m_launchErrorLine = plainLabel(QString());
    m_launchErrorLine->setObjectName(QStringLiteral("launchError"));
    m_launchErrorLine->setWordWrap(true);
    m_launchErrorLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    makeCallout(m_launchErrorLine);
    QPalette palette = m_launchErrorLine->palette();
    palette.setColor(QPalette::WindowText, QColor(0xE0, 0x70, 0x00)); // orange, legible on light
    m_launchErrorLine->setPalette(palette);
    m_launchErrorLine->hide();
    rows->addWidget(m_launchErrorLine);
}

void GeneralSettingsTab::buildAnnounce(QVBoxLayout* column)
{
    QVBoxLayout* rows =
        addSection(column, QStringLiteral("Announce automatically"), QStringLiteral("announce"));
    rows->addWidget(boundToggle(QStringLiteral("When the app launches (login or reboot)"),
                                QStringLiteral("announceOnLaunch"), m_settings,
                                &AppSettings::announceOnLaunch, &AppSettings::setAnnounceOnLaunch,
                                &AppSettings::announceOnLaunchChanged));
    rows->addWidget(boundToggle(QStringLiteral("When I unlock my computer or it wakes"),
                                QStringLiteral("announceOnUnlock"), m_settings,
                                &AppSettings::announceOnUnlock, &AppSettings::setAnnounceOnUnlock,
                                &AppSettings::announceOnUnlockChanged));
    rows->addWidget(boundToggle(
        QStringLiteral("Wait while Do Not Disturb is on or a full-screen window is in front"),
        QStringLiteral("holdWhenBusy"), m_settings, &AppSettings::holdWhenBusy,
        &AppSettings::setHoldWhenBusy, &AppSettings::holdWhenBusyChanged));
    rows->addWidget(new SettingStepper(
        QStringLiteral("Wait at least "), QStringLiteral(" minutes between automatic briefings"), 0,
        480, 5, m_settings, &AppSettings::quietMinutes, &AppSettings::setQuietMinutes,
        &AppSettings::quietMinutesChanged, QStringLiteral("quietMinutes")));
    rows->addWidget(captionLabel(QStringLiteral("Clicking the bubble always gives you a briefing "
                                                "immediately, regardless of this window.")));
}

void GeneralSettingsTab::buildBubble(QVBoxLayout* column)
{
    QVBoxLayout* rows = addSection(column, QStringLiteral("Bubble"), QStringLiteral("bubble"));
    rows->addWidget(boundToggle(QStringLiteral("Minimised (small orb)"),
                                QStringLiteral("bubbleCompact"), m_settings,
                                &AppSettings::bubbleCompact, &AppSettings::setBubbleCompact,
                                &AppSettings::bubbleCompactChanged));
    rows->addWidget(new SettingStepper(
        QStringLiteral("Read at most "), QStringLiteral(" stories per briefing"), 3, 40, 1,
        m_settings, &AppSettings::maxHeadlines, &AppSettings::setMaxHeadlines,
        &AppSettings::maxHeadlinesChanged, QStringLiteral("maxHeadlines")));
    rows->addWidget(new SettingStepper(
        QStringLiteral("On a first run, look back "), QStringLiteral(" hours"), 1, 168, 1,
        m_settings, &AppSettings::lookbackHours, &AppSettings::setLookbackHours,
        &AppSettings::lookbackHoursChanged, QStringLiteral("lookbackHours")));
}

// A check box over the interval: off stores 0, on stores the interval it had before it was
// switched off (30 minutes when it never had one). The interval shows only while it is on.
void GeneralSettingsTab::buildRefresh(QVBoxLayout* column)
{
    QVBoxLayout* rows =
        addSection(column, QStringLiteral("Background refresh"), QStringLiteral("refresh"));
    auto* toggle = new QCheckBox(QStringLiteral("Refresh feeds in the background"));
    toggle->setObjectName(QStringLiteral("backgroundRefresh"));
    rows->addWidget(toggle);
    auto* interval = new SettingStepper(
        QStringLiteral("Ask each feed again when its copy is "), QStringLiteral(" minutes old"), 15,
        240, 5, m_settings, &AppSettings::backgroundRefreshMinutes,
        &AppSettings::setBackgroundRefreshMinutes, &AppSettings::backgroundRefreshMinutesChanged,
        QStringLiteral("backgroundRefreshMinutes"));
    rows->addWidget(interval);
    rows->addWidget(captionLabel(QStringLiteral(
        "Keeps the feeds' copies fresh while Vardelle runs, so a click speaks at once. Paused "
        "while the screen is locked, the computer sleeps or the connection is metered.")));

    const auto show = [this, toggle, interval](qint64 minutes) {
        if (minutes > 0)
            m_refreshMinutes = minutes;
        const QSignalBlocker quiet(toggle);
        toggle->setChecked(minutes > 0);
        interval->setVisible(minutes > 0);
    };
    show(m_settings.backgroundRefreshMinutes());
    connect(&m_settings, &AppSettings::backgroundRefreshMinutesChanged, this, show);
    connect(toggle, &QCheckBox::toggled, this,
            [this](bool on) { m_settings.setBackgroundRefreshMinutes(on ? m_refreshMinutes : 0); });
}

void GeneralSettingsTab::buildMaintenance(QVBoxLayout* column, DesktopActions& actions)
{
    QVBoxLayout* rows =
        addSection(column, QStringLiteral("Maintenance"), QStringLiteral("maintenance"));
    auto* commands = new QHBoxLayout;
    commands->addWidget(
        actionButton(actions.announceLatest(), QStringLiteral("announceNow"), u'A'));
    commands->addWidget(actionButton(actions.replay(), QStringLiteral("replayLastBriefing"), u'R'));
    commands->addWidget(actionButton(actions.stopSpeaking(), QStringLiteral("stopSpeaking"), u'S'));
    commands->addStretch(1);
    rows->addLayout(commands);

    QPushButton* forget =
        pushButton(QStringLiteral("&Forget History (next briefing reads everything "
                                  "again)"),
                   QStringLiteral("forgetHistory"));
    auto* forgetRow = new QHBoxLayout;
    forgetRow->addWidget(forget);
    forgetRow->addStretch(1);
    rows->addLayout(forgetRow);

    m_lastGather = addLabelledValue(rows, QStringLiteral("Last gather"),
                                    QStringLiteral("lastGather"), &m_lastGatherRow);
    m_lastGatherRow->setObjectName(QStringLiteral("lastGatherRow"));

    connect(forget, &QPushButton::clicked, this, [this] {
        m_coordinator.forgetHistory();
        refreshLastGather();
    });
}

void GeneralSettingsTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refresh();
}

void GeneralSettingsTab::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isVisible() && isActiveWindow())
        refreshLoginItem(true);
}

void GeneralSettingsTab::refresh()
{
    refreshLoginItem(true);
    refreshLastGather();
}

// The toggle follows the entry as it is now: someone may have removed it, or switched it off in
// the desktop's own startup settings, while the window was closed. Only the user's own flips
// reach the handler, so looking never writes or removes anything.
void GeneralSettingsTab::refreshLoginItem(bool moveToggle)
{
    const AutostartStatus status = m_loginItem.status();
    if (moveToggle) {
        const QSignalBlocker quiet(m_launchAtLogin);
        m_launchAtLogin->setChecked(status == AutostartStatus::enabled);
    }
    m_loginStatus->setText(m_loginItem.statusText(status));
    m_launchErrorLine->setText(m_launchError);
    m_launchErrorLine->setVisible(!m_launchError.isEmpty());
}

void GeneralSettingsTab::launchAtLoginChanged(bool on)
{
    m_launchError = m_loginItem.setEnabled(on).value_or(QString());
    // A change that failed puts the toggle back to the entry's real state, without taking that
    // for another request, which would replace the error with its own outcome. One that went
    // through leaves the toggle where the user put it.
    refreshLoginItem(!m_launchError.isEmpty());
}

void GeneralSettingsTab::refreshLastGather()
{
    const std::optional<Instant> lastGather = m_store.lastGather();
    m_lastGather->setText(lastGather ? abbreviatedDateTime(*lastGather) : QString());
    m_lastGatherRow->setVisible(lastGather.has_value());
}

} // namespace vardelle
