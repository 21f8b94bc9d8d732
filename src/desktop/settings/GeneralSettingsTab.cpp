#include "settings/GeneralSettingsTab.h"

#include "briefing/AppCoordinator.h"
#include "linux/desktop/AutostartEntry.h"
#include "settings/AppSettings.h"
#include "settings/SettingStepper.h"
#include "settings/SettingsForm.h"
#include "store/HeadlineStore.h"
#include "time/DateText.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace vardelle {

namespace {

QPushButton* button(const QString& text, const QString& objectName)
{
    auto* pushButton = new QPushButton(text);
    pushButton->setObjectName(objectName);
    pushButton->setAutoDefault(false);
    return pushButton;
}

} // namespace

GeneralSettingsTab::GeneralSettingsTab(AppSettings& settings, AppCoordinator& coordinator,
                                       HeadlineStore& store, AutostartEntry& loginItem,
                                       QWidget* parent)
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
    buildMaintenance(column);
    column->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scrollingPage(content));
    refresh();
}

void GeneralSettingsTab::buildStartup(QVBoxLayout* column)
{
    QVBoxLayout* rows = addSection(column, QStringLiteral("Startup"), QStringLiteral("startup"));
    m_launchAtLogin = new QCheckBox(QStringLiteral("Start Vardelle at login"));
    m_launchAtLogin->setObjectName(QStringLiteral("launchAtLogin"));
    m_launchAtLogin->setChecked(m_loginItem.status() == LoginItemStatus::enabled);
    connect(m_launchAtLogin, &QCheckBox::toggled, this, &GeneralSettingsTab::launchAtLoginChanged);
    rows->addWidget(m_launchAtLogin);

    m_loginStatus =
        addLabelledValue(rows, QStringLiteral("Login item status"), QStringLiteral("loginStatus"));

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

void GeneralSettingsTab::buildMaintenance(QVBoxLayout* column)
{
    QVBoxLayout* rows =
        addSection(column, QStringLiteral("Maintenance"), QStringLiteral("maintenance"));
    auto* actions = new QHBoxLayout;
    QPushButton* announce = button(QStringLiteral("Announce Now"), QStringLiteral("announceNow"));
    QPushButton* replay =
        button(QStringLiteral("Replay Last Briefing"), QStringLiteral("replayLastBriefing"));
    QPushButton* stop = button(QStringLiteral("Stop Speaking"), QStringLiteral("stopSpeaking"));
    actions->addWidget(announce);
    actions->addWidget(replay);
    actions->addWidget(stop);
    actions->addStretch(1);
    rows->addLayout(actions);

    QPushButton* forget = button(QStringLiteral("Forget History (next briefing reads everything "
                                                "again)"),
                                 QStringLiteral("forgetHistory"));
    auto* forgetRow = new QHBoxLayout;
    forgetRow->addWidget(forget);
    forgetRow->addStretch(1);
    rows->addLayout(forgetRow);

    m_lastGather = addLabelledValue(rows, QStringLiteral("Last gather"),
                                    QStringLiteral("lastGather"), &m_lastGatherRow);
    m_lastGatherRow->setObjectName(QStringLiteral("lastGatherRow"));

    // The click returns at once; the briefing's progress shows in the coordinator's state.
    connect(announce, &QPushButton::clicked, this, [this] {
        QMetaObject::invokeMethod(
            this, [this] { m_coordinator.announce(AnnounceReason::manual); }, Qt::QueuedConnection);
    });
    connect(replay, &QPushButton::clicked, this, [this] { m_coordinator.replayLastBriefing(); });
    connect(stop, &QPushButton::clicked, this, [this] { m_coordinator.stop(); });
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
    const LoginItemStatus status = m_loginItem.status();
    if (moveToggle) {
        const QSignalBlocker quiet(m_launchAtLogin);
        m_launchAtLogin->setChecked(status == LoginItemStatus::enabled);
    }
    m_loginStatus->setText(AutostartEntry::statusText(status));
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
