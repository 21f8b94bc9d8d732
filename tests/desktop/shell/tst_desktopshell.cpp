#include "shell/DesktopShell.h"

#include "briefing/AppCoordinator.h"
#include "bubble/BubbleController.h"
#include "bubble/BubblePanel.h"
#include "news/NewsService.h"
#include "settings/AppSettings.h"
#include "settings/PreferenceFile.h"
#include "shell/DesktopActions.h"
#include "shell/StatusIcon.h"
#include "speech/Speaker.h"
#include "store/HeadlineStore.h"
#include "support/CoordinatorRig.h"
#include "support/FakeSpeechEngine.h"
#include "support/FakeSystemEventSource.h"
#include "support/FeedMirror.h"
#include "support/ManualClock.h"
#include "support/TestData.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace vardelle;
using namespace std::chrono_literals;
using test::utc;
using Kind = AnnouncerState::Kind;
using Event = test::FakeSystemEventSource::Event;

namespace {

// The shell over the coordinator's rig (feeds from a mirror folder the test fills, a speaker
// whose engine only records), one screen, and a settings window that is a plain widget. The
// settings exist from the start; the rest is made at launch().
struct Rig : test::CoordinatorRig {
    std::unique_ptr<DesktopShell> shell;
    QPointer<test::FakeSystemEventSource> events;
    int windowsMade = 0;

    explicit Rig(Instant now = utc(2026, 12, 10, 12, 0))
        : CoordinatorRig(now, Start::later)
    {
        makeSettings();
    }

    DesktopShell& launch()
    {
        start();
        shell = std::make_unique<DesktopShell>(*coordinator, *settings, *store, clock);
        shell->setScreenAreas([] { return QList<QRect>{QRect(0, 0, 1280, 800)}; });
        shell->setSettingsWindowFactory([this] {
            ++windowsMade;
            return std::make_unique<QWidget>();
        });
        shell->setEventSourceFactory([this] {
            auto source = std::make_unique<test::FakeSystemEventSource>();
            events = source.get();
            return source;
        });
        shell->launch();
        return *shell;
    }

    QAction* entry(const QString& title) const
    {
        for (QAction* action : shell->statusMenu()->actions()) {
            if (action->text() == title)
                return action;
        }
        return nullptr;
    }
    // Opens the status menu, as the tray does, and closes it again.
    void openMenu() const { emit shell->statusMenu()->aboutToShow(); }
    bool storedBool(QStringView key) const
    {
        return PreferenceFile(preferencePath()).boolean(key).value_or(false);
    }
};

QStringList titles(const QMenu& menu)
{
    QStringList list;
    for (const QAction* action : menu.actions()) {
        QString title = action->isSeparator() ? u"-"_qs : action->text();
        if (!action->shortcut().isEmpty())
            title += u" ["_qs + action->shortcut().toString(QKeySequence::PortableText) + u']';
        list.append(title);
    }
    return list;
}

} // namespace

class DesktopShellTest : public QObject {
    Q_OBJECT

private slots:
    void firstLaunchBuildsEverythingAndOpensSettingsOnce()
    {
        Rig rig;
        rig.settings->setAnnounceOnLaunch(false);
        DesktopShell& shell = rig.launch();
        rig.openMenu();

        QVERIFY(shell.trayIcon());
        QCOMPARE(shell.trayIcon()->contextMenu(), shell.statusMenu());
        QCOMPARE(
            titles(*shell.statusMenu()),
            (QStringList{u"Announce Latest Headlines"_qs, u"Announce Everything from Today"_qs,
                         u"Stop Speaking"_qs, u"-"_qs, u"Hide Bubble"_qs, u"-"_qs,
                         u"Settings\u2026 [Ctrl+,]"_qs, u"-"_qs, u"Quit Vardelle [Ctrl+Q]"_qs}));
        QVERIFY(shell.bubble()->isVisible());
        QVERIFY(rig.events && rig.events->startCount() == 1);

        QCOMPARE(rig.windowsMade, 1);
        QVERIFY(shell.settingsWindow()->isVisible());
        QVERIFY(!rig.settings->isFirstRun());
        QVERIFY(rig.storedBool(preferenceKeys::isFirstRun)); // stored negated

        // The window is made once and shown again.
        shell.settingsWindow()->close();
        shell.showSettings();
        QCOMPARE(rig.windowsMade, 1);
        QVERIFY(shell.settingsWindow()->isVisible());

        // A second launch of the application does not open it.
        rig.settings = std::make_unique<AppSettings>(rig.preferencePath());
        QVERIFY(!rig.settings->isFirstRun());
        rig.shell.reset();
        rig.windowsMade = 0;
        rig.launch();
        QCOMPARE(rig.windowsMade, 0);
    }

    void hiddenBubbleIsBuiltByShowBubble()
    {
        Rig rig;
        rig.settings->setBubbleHidden(true);
        DesktopShell& shell = rig.launch();
        QVERIFY(!shell.bubble()->panel());

        rig.openMenu();
        QCOMPARE(rig.entry(DesktopActions::showBubbleTitle) != nullptr, true);
        rig.entry(DesktopActions::showBubbleTitle)->trigger();
        BubblePanel* panel = shell.bubble()->panel();
        QVERIFY(panel && panel->isVisible());
        QVERIFY(!rig.storedBool(preferenceKeys::bubbleHidden));

        rig.openMenu();
        rig.entry(DesktopActions::hideBubbleTitle)->trigger();
        QVERIFY(!panel->isVisible());
        QVERIFY(rig.storedBool(preferenceKeys::bubbleHidden));

        // The title follows the panel, not the setting.
        rig.settings->setBubbleHidden(false);
        rig.openMenu();
        QVERIFY(rig.entry(DesktopActions::showBubbleTitle));

        rig.entry(DesktopActions::showBubbleTitle)->trigger();
        QCOMPARE(shell.bubble()->panel(), panel);
        QVERIFY(panel->isVisible());

        // Hidden with no tray to bring it back (as here): starting the program again does.
        rig.openMenu();
        rig.entry(DesktopActions::hideBubbleTitle)->trigger();
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        shell.reopen();
        QVERIFY(panel->isVisible());
        QVERIFY(!rig.storedBool(preferenceKeys::bubbleHidden));
        QVERIFY(shell.settingsWindow()->isVisible());
    }

    void stopSpeakingFollowsTheState_data()
    {
        QTest::addColumn<AnnouncerState>("state");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("idle") << AnnouncerState{} << false;
        QTest::newRow("gathering") << AnnouncerState{Kind::gathering, {}} << true;
        QTest::newRow("speaking") << AnnouncerState{Kind::speaking, {}} << true;
        QTest::newRow("failed: nothing to stop")
            << AnnouncerState{Kind::failed, u"Broken"_qs} << false;
    }
    void stopSpeakingFollowsTheState()
    {
        QFETCH(AnnouncerState, state);
        QFETCH(bool, enabled);
        Rig rig;
        rig.settings->setAnnounceOnLaunch(false);
        DesktopShell& shell = rig.launch();

        rig.coordinator->setState(state);
        QCOMPARE(shell.trayIcon()->icon().cacheKey(), statusIcon(state.kind).cacheKey());
        rig.openMenu();
        QAction* stop = rig.entry(DesktopActions::stopSpeakingTitle);
        QCOMPARE(stop->isEnabled(), enabled);
        if (!enabled)
            return;

        stop->trigger();
        QCOMPARE(rig.coordinator->state(), AnnouncerState{});
        QCOMPARE(shell.trayIcon()->icon().cacheKey(), statusIcon(Kind::idle).cacheKey());
    }

    // The shortcuts the status menu shows work while the menu is open or a window of the
    // application has the keyboard, and close the menu as choosing the entry does.
    void menuShortcuts_data()
    {
        QTest::addColumn<bool>("fromMenu");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("command");
        QTest::newRow("Ctrl+, in the status menu") << true << int(Qt::Key_Comma) << u"settings"_qs;
        QTest::newRow("Ctrl+Q in the status menu") << true << int(Qt::Key_Q) << u"quit"_qs;
        QTest::newRow("Ctrl+, in the settings window")
            << false << int(Qt::Key_Comma) << u"settings"_qs;
        QTest::newRow("Ctrl+Q in the settings window") << false << int(Qt::Key_Q) << u"quit"_qs;
    }
    void menuShortcuts()
    {
        QFETCH(bool, fromMenu);
        QFETCH(int, key);
        QFETCH(QString, command);
        Rig rig;
        rig.settings->setAnnounceOnLaunch(false);
        DesktopShell& shell = rig.launch(); // the first run: the settings window is open
        QWidget* window = shell.settingsWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QSignalSpy settings(shell.actions().settings(), &QAction::triggered);
        QSignalSpy quit(shell.actions().quit(), &QAction::triggered);

        QWidget* keyboard = window;
        if (fromMenu) {
            window->hide();
            shell.statusMenu()->popup(QPoint(1000, 30));
            QVERIFY(QTest::qWaitForWindowExposed(shell.statusMenu()));
            keyboard = shell.statusMenu();
        }
        QTest::keyClick(keyboard, Qt::Key(key), Qt::ControlModifier);
        QCOMPARE(settings.count(), command == u"settings" ? 1 : 0);
        QCOMPARE(quit.count(), command == u"quit" ? 1 : 0);
        QVERIFY(!shell.statusMenu()->isVisible());
        if (command == u"settings")
            QVERIFY(window->isVisible());
    }

    void launchAndUnlockAskForBriefings()
    {
        Rig rig;
        const Instant now = rig.clock.now();
        rig.mirror.serve(u"bleepingcomputer"_qs, {{u"Fresh story"_qs, now - 1h}});
        rig.launch();

        // The launch briefing, started after the launch sequence.
        QTRY_COMPARE(rig.spoken().size(), 1);
        QVERIFY(rig.spoken().first().contains(u"Fresh story"_qs));
        rig.finishSpeaking();
        QTRY_COMPARE(rig.coordinator->state(), AnnouncerState{});

        // Unlock half an hour later, with something new.
        rig.clock.advance(31min);
        rig.mirror.serve(u"bleepingcomputer"_qs,
                         {{u"Fresh story"_qs, now - 1h}, {u"Newer story"_qs, now + 10min}});
        rig.events->fire(Event::screenUnlocked);
        QTRY_COMPARE(rig.spoken().size(), 2);
        QVERIFY(rig.spoken().last().contains(u"Newer story"_qs));
        QVERIFY(!rig.spoken().last().contains(u"Fresh story"_qs));
    }

    void everythingFromTodayStartsAtMidnight()
    {
        // Half past midnight: yesterday's late story is not from today.
        Rig rig(utc(2026, 12, 10, 0, 30));
        rig.settings->setAnnounceOnLaunch(false);
        rig.mirror.serve(u"bleepingcomputer"_qs,
                         {{u"After midnight"_qs, utc(2026, 12, 10, 0, 10)},
                          {u"Before midnight"_qs, utc(2026, 12, 9, 23, 50)}});
        rig.launch();

        rig.entry(DesktopActions::announceTodayTitle)->trigger();
        QTRY_COMPARE(rig.spoken().size(), 1);
        const QString text = rig.spoken().first();
        QVERIFY2(text.contains(u"After midnight"_qs), qPrintable(text));
        QVERIFY2(!text.contains(u"Before midnight"_qs), qPrintable(text));
    }

    void terminationStopsSpeechAndKeepsThePosition()
    {
        Rig rig;
        rig.settings->setAnnounceOnLaunch(false);
        DesktopShell& shell = rig.launch();
        shell.bubble()->panel()->move(300, 200);
        rig.coordinator->replayLastBriefing();
        QCOMPARE(rig.coordinator->state().kind, Kind::speaking);

        shell.terminate();
        QCOMPARE(rig.coordinator->state(), AnnouncerState{});
        QVERIFY(rig.engine->stops() >= 1);
        PreferenceFile stored(rig.preferencePath());
        QCOMPARE(stored.integer(preferenceKeys::bubbleFrameX), 300);
        QCOMPARE(stored.integer(preferenceKeys::bubbleFrameY), 200);
    }
};

QTEST_MAIN(DesktopShellTest)
#include "tst_desktopshell.moc"
