#include "settings/SettingsWindow.h"

#include "briefing/AppCoordinator.h"
#include "library/Library.h"
#include "linux/desktop/AutostartEntry.h"
#include "news/FeedSource.h"
#include "news/NewsService.h"
#include "settings/AppSettings.h"
#include "settings/GeneralSettingsTab.h"
#include "settings/HeadlineSettingsTab.h"
#include "settings/VoiceSettingsTab.h"
#include "shell/DesktopActions.h"
#include "speech/Speaker.h"
#include "store/HeadlineStore.h"
#include "support/CoordinatorRig.h"
#include "support/FakeSpeechEngine.h"
#include "support/FeedMirror.h"
#include "support/ManualClock.h"
#include "support/PostedEvents.h"
#include "support/TestData.h"
#include "support/TestHttpServer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <ctime>
#include <memory>

using namespace vardelle;
using namespace std::chrono_literals;
using test::utc;

namespace {

const Instant now = utc(2026, 12, 10, 12, 0);

// The window over the coordinator's rig (feeds served from a file mirror, a speaker whose engine
// only records), and a login item in the folder's own configuration for a program that exists.
struct Rig : test::CoordinatorRig {
    std::unique_ptr<AutostartEntry> loginItem;
    std::unique_ptr<DesktopActions> actions;
    std::unique_ptr<SettingsWindow> window;

    // `prepare` runs on the settings, engine and folder before anything reads them.
    explicit Rig(const std::function<void(Rig&)>& prepare = {})
        : CoordinatorRig(now, Start::later)
    {
        test::writeFile(program(), "#!/bin/sh\n");
        loginItem = std::make_unique<AutostartEntry>(dir.filePath(u"config"_qs), program());
        if (prepare)
            prepare(*this);
        start();
        actions = std::make_unique<DesktopActions>(*coordinator);
        window = std::make_unique<SettingsWindow>(*settings, *coordinator, *store, speaker,
                                                  *loginItem, *actions);
        window->present();
    }

    QString program() const { return dir.filePath(u"bin/vardelle"_qs); }
    QString entryPath() const { return dir.filePath(u"config/autostart/vardelle.desktop"_qs); }
    QString autostartOn() const
    {
        return u"Start at login: on, in "_qs + dir.filePath(u"config/autostart"_qs);
    }

    QJsonObject stored() const
    {
        return QJsonDocument::fromJson(test::readFile(preferencePath())).object();
    }

    template <class T> T* find(const QString& name) const
    {
        T* child = window->findChild<T*>(name);
        if (!child)
            qWarning("no control named %s", qPrintable(name));
        return child;
    }
    bool shown(const QString& name) const
    {
        QWidget* widget = find<QWidget>(name);
        return widget && !widget->isHidden();
    }
    QString text(const QString& name) const { return find<QLabel>(name)->text(); }

    void reopen()
    {
        window->close();
        QVERIFY(!window->isVisible());
        window->present();
        QVERIFY(window->isVisible());
    }
    void showTab(int index)
    {
        window->tabs()->setCurrentIndex(index);
        QCoreApplication::processEvents();
    }
};

QSet<QString> strings(const QJsonValue& value)
{
    QSet<QString> set;
    for (const QJsonValue& element : value.toArray())
        set.insert(element.toString());
    return set;
}

} // namespace

class SettingsWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        test::useUserFolders(m_home.path());
        qputenv("TZ", "UTC");
        tzset();
    }

    void freshInstallation()
    {
        Rig rig;
        SettingsWindow& window = *rig.window;
        QCOMPARE(window.windowTitle(), u"Vardelle Settings"_qs);
        QCOMPARE(window.size(), QSize(640, 560));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(window.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(window.windowFlags() & Qt::WindowCloseButtonHint);

        QTabWidget* tabs = window.tabs();
        QCOMPARE(tabs->count(), 3);
        QCOMPARE(tabs->tabText(0), u"&General"_qs);
        QCOMPARE(tabs->tabText(1), u"&Headlines"_qs);
        QCOMPARE(tabs->tabText(2), u"&Voice"_qs);
        QCOMPARE(tabs->currentIndex(), 0);

        // General
        QVERIFY(!rig.find<QCheckBox>(u"launchAtLogin"_qs)->isChecked());
        QCOMPARE(rig.text(u"loginStatus"_qs), u"Start at login: off"_qs);
        QVERIFY(!rig.shown(u"launchError"_qs));
        QVERIFY(rig.find<QCheckBox>(u"announceOnLaunch"_qs)->isChecked());
        QVERIFY(rig.find<QCheckBox>(u"announceOnUnlock"_qs)->isChecked());
        QCOMPARE(rig.find<QCheckBox>(u"announceOnUnlock"_qs)->text(),
                 u"When I unlock my computer or it wakes"_qs);
        QVERIFY(rig.find<QCheckBox>(u"holdWhenBusy"_qs)->isChecked());
        QCOMPARE(rig.find<QCheckBox>(u"holdWhenBusy"_qs)->text(),
                 u"Wait while Do Not Disturb is on or a full-screen window is in front"_qs);
        QVERIFY(!rig.find<QCheckBox>(u"bubbleCompact"_qs)->isChecked());
        QCOMPARE(rig.text(u"quietMinutesLabel"_qs),
                 u"Wait at least 30 minutes between automatic briefings"_qs);
        QCOMPARE(rig.text(u"maxHeadlinesLabel"_qs), u"Read at most 12 stories per briefing"_qs);
        QCOMPARE(rig.text(u"lookbackHoursLabel"_qs), u"On a first run, look back 24 hours"_qs);
        QVERIFY(!rig.shown(u"lastGatherRow"_qs));

        // Headlines
        for (const NewsCategory category : allNewsCategories) {
            QVERIFY(rig.find<QCheckBox>(HeadlineSettingsTab::categoryName(category))->isChecked());
            auto* section = rig.find<QGroupBox>(HeadlineSettingsTab::sourcesName(category));
            QVERIFY(!section->isHidden());
            QCOMPARE(section->title(), u"Sources — "_qs + title(category));
            QStringList feeds;
            for (const QCheckBox* toggle : section->findChildren<QCheckBox*>()) {
                QVERIFY(toggle->isChecked());
                feeds.append(toggle->text());
            }
            QStringList catalogue;
            for (const FeedSource& source : FeedSource::sources(category))
                catalogue.append(source.name);
            QCOMPARE(feeds, catalogue);
        }

        // Voice
        auto* picker = rig.find<QComboBox>(u"voicePicker"_qs);
        QCOMPARE(picker->currentText(), u"System default"_qs);
        QCOMPARE(picker->currentData().toString(), QString());
        auto* slider = rig.find<QSlider>(u"speedSlider"_qs);
        QCOMPARE(slider->value(), (slider->minimum() + slider->maximum()) / 2);
        QVERIFY(!rig.shown(u"lastBriefingSection"_qs));
        QVERIFY(rig.shown(u"moreVoices"_qs));

        // Looking writes nothing.
        QVERIFY(!QFile::exists(rig.preferencePath()));
        QVERIFY(!QFile::exists(rig.entryPath()));
    }

    // Escape and Ctrl+W close the window, whichever control has the focus.
    void closesWithEscapeAndCtrlW_data()
    {
        QTest::addColumn<QKeyCombination>("keys");
        QTest::newRow("Escape") << QKeyCombination(Qt::Key_Escape);
        QTest::newRow("Ctrl+W") << QKeyCombination(Qt::ControlModifier, Qt::Key_W);
    }
    void closesWithEscapeAndCtrlW()
    {
        QFETCH(QKeyCombination, keys);
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
        rig.showTab(1);
        QWidget* focus = rig.window->tabs()->currentWidget();
        focus->setFocus();
        QTest::keyClick(focus, keys.key(), keys.keyboardModifiers());
        QTRY_VERIFY(!rig.window->isVisible());
    }

    void togglesAreBoundBothWays_data()
    {
        QTest::addColumn<QString>("name"); // the control's and the preference's
        QTest::addColumn<bool>("initially");
        QTest::newRow("launch") << u"announceOnLaunch"_qs << true;
        QTest::newRow("unlock") << u"announceOnUnlock"_qs << true;
        QTest::newRow("hold when busy") << u"holdWhenBusy"_qs << true;
        QTest::newRow("known exploited") << u"knownExploited"_qs << true;
        QTest::newRow("compact bubble") << u"bubbleCompact"_qs << false;
    }
    void togglesAreBoundBothWays()
    {
        QFETCH(QString, name);
        QFETCH(bool, initially);
        Rig rig;
        auto* toggle = rig.find<QCheckBox>(name);
        const QByteArray property = name.toUtf8();

        toggle->click();
        QCOMPARE(rig.settings->property(property).toBool(), !initially);
        QCOMPARE(rig.stored().value(name), QJsonValue(!initially));

        rig.settings->setProperty(property, initially);
        QCOMPARE(toggle->isChecked(), initially);
        QCOMPARE(rig.stored().value(name), QJsonValue(initially));
    }

    // The check box stores 0 when switched off, and the interval it had when switched on again;
    // the interval shows only while it is on.
    void backgroundRefreshToggle_data()
    {
        QTest::addColumn<qint64>("start"); // as stored before the window opens; -1: nothing
        QTest::addColumn<bool>("initially");
        QTest::addColumn<QList<qint64>>("afterClicks"); // stored after each click

        QTest::newRow("the default") << qint64(-1) << true << QList<qint64>{0, 30};
        QTest::newRow("45 minutes") << qint64(45) << true << QList<qint64>{0, 45, 0};
        QTest::newRow("off") << qint64(0) << false << QList<qint64>{30, 0};
    }
    void backgroundRefreshToggle()
    {
        QFETCH(qint64, start);
        QFETCH(bool, initially);
        QFETCH(QList<qint64>, afterClicks);
        const QString name = u"backgroundRefreshMinutes"_qs;
        Rig rig([&](Rig& rig) {
            if (start >= 0)
                test::writeFile(rig.preferencePath(),
                                QJsonDocument(QJsonObject{{name, start}}).toJson());
        });
        auto* toggle = rig.find<QCheckBox>(u"backgroundRefresh"_qs);
        QCOMPARE(toggle->isChecked(), initially);
        QCOMPARE(rig.shown(name), initially);

        for (const qint64 expected : afterClicks) {
            toggle->click();
            QCOMPARE(rig.settings->backgroundRefreshMinutes(), expected);
            QCOMPARE(rig.stored().value(name).toInteger(), expected);
            QCOMPARE(toggle->isChecked(), expected > 0);
            QCOMPARE(rig.shown(name), expected > 0);
        }

        // A change from elsewhere (another process, a terminal) moves the box too.
        rig.settings->setBackgroundRefreshMinutes(0);
        QVERIFY(!toggle->isChecked());
        QVERIFY(!rig.shown(name));
    }

    void steppers_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("label"); // %1: the value
        QTest::addColumn<qint64>("start");
        QTest::addColumn<int>("steps"); // presses: up when positive, down when negative
        QTest::addColumn<qint64>("expected");

        const QString quiet = u"quietMinutes"_qs;
        const QString quietLabel = u"Wait at least %1 minutes between automatic briefings"_qs;
        QTest::newRow("minutes up by 5") << quiet << quietLabel << qint64(30) << 1 << qint64(35);
        QTest::newRow("minutes down twice")
            << quiet << quietLabel << qint64(30) << -2 << qint64(20);
        QTest::newRow("minutes stop at 480")
            << quiet << quietLabel << qint64(480) << 1 << qint64(480);
        QTest::newRow("minutes stop at 0") << quiet << quietLabel << qint64(0) << -1 << qint64(0);
        QTest::newRow("stored above the range, down: into it")
            << quiet << quietLabel << qint64(500) << -1 << qint64(480);
        QTest::newRow("stored above the range, up: kept")
            << quiet << quietLabel << qint64(500) << 1 << qint64(500);
        QTest::newRow("stored below the range, up: into it")
            << quiet << quietLabel << qint64(-7) << 1 << qint64(0);
        QTest::newRow("stored beyond 32 bits, down: into it")
            << quiet << quietLabel << qint64(5'000'000'000) << -1 << qint64(480);

        const QString most = u"maxHeadlines"_qs;
        const QString mostLabel = u"Read at most %1 stories per briefing"_qs;
        QTest::newRow("stories up") << most << mostLabel << qint64(12) << 1 << qint64(13);
        QTest::newRow("stories stop at 40") << most << mostLabel << qint64(40) << 1 << qint64(40);
        QTest::newRow("stories stop at 3") << most << mostLabel << qint64(3) << -1 << qint64(3);
        QTest::newRow("stored 100 stories, down")
            << most << mostLabel << qint64(100) << -1 << qint64(40);

        const QString refresh = u"backgroundRefreshMinutes"_qs;
        const QString refreshLabel = u"Ask each feed again when its copy is %1 minutes old"_qs;
        QTest::newRow("refresh up by 5")
            << refresh << refreshLabel << qint64(30) << 1 << qint64(35);
        QTest::newRow("refresh stops at 15")
            << refresh << refreshLabel << qint64(15) << -1 << qint64(15);
        QTest::newRow("refresh stored at 5, up: into the range")
            << refresh << refreshLabel << qint64(5) << 1 << qint64(15);

        const QString back = u"lookbackHours"_qs;
        const QString backLabel = u"On a first run, look back %1 hours"_qs;
        QTest::newRow("hours down") << back << backLabel << qint64(24) << -3 << qint64(21);
        QTest::newRow("hours stop at 168") << back << backLabel << qint64(168) << 1 << qint64(168);
        QTest::newRow("hours stop at 1") << back << backLabel << qint64(1) << -1 << qint64(1);
    }
    void steppers()
    {
        QFETCH(QString, name);
        QFETCH(QString, label);
        QFETCH(qint64, start);
        QFETCH(int, steps);
        QFETCH(qint64, expected);
        Rig rig;
        const QByteArray property = name.toUtf8();
        rig.settings->setProperty(property, start);
        // A stored value is shown as it stands, in or out of range.
        QCOMPARE(rig.text(name + u"Label"_qs), label.arg(start));
        auto* spin = rig.find<QSpinBox>(name + u"Spin"_qs);

        for (int i = 0; i < qAbs(steps); ++i) {
            QTest::keyClick(spin, steps > 0 ? Qt::Key_Up : Qt::Key_Down);
            // Every press is stored at once.
            QCOMPARE(rig.stored().value(name).toInteger(),
                     rig.settings->property(property).toLongLong());
        }
        QCOMPARE(rig.settings->property(property).toLongLong(), expected);
        QCOMPARE(rig.text(name + u"Label"_qs), label.arg(expected));
        QCOMPARE(rig.stored().value(name).toInteger(), expected);
    }

    // A typed value lands on the step, as the arrows do.
    void typedValuesLandOnTheStep_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("33 minutes: 35") << u"quietMinutes"_qs << u"33"_qs << qint64(35);
        QTest::newRow("32 minutes: 30") << u"quietMinutes"_qs << u"32"_qs << qint64(30);
        QTest::newRow("3 minutes: 5") << u"quietMinutes"_qs << u"3"_qs << qint64(5);
        QTest::newRow("478 minutes: 480") << u"quietMinutes"_qs << u"478"_qs << qint64(480);
        QTest::newRow("17 stories: every number is a step")
            << u"maxHeadlines"_qs << u"17"_qs << qint64(17);
    }
    void typedValuesLandOnTheStep()
    {
        QFETCH(QString, name);
        QFETCH(QString, typed);
        QFETCH(qint64, expected);
        Rig rig;
        auto* spin = rig.find<QSpinBox>(name + u"Spin"_qs);
        spin->setFocus();
        QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(spin, typed);
        QTest::keyClick(spin, Qt::Key_Return);
        QCOMPARE(rig.settings->property(name.toUtf8()).toLongLong(), expected);
        QCOMPARE(rig.stored().value(name).toInteger(), expected);
        QCOMPARE(spin->value(), expected);
    }

    void categoryOffHidesItsSources()
    {
        Rig rig;
        rig.showTab(1);
        const QString cyber = HeadlineSettingsTab::sourcesName(NewsCategory::cybersecurity);
        rig.find<QCheckBox>(HeadlineSettingsTab::categoryName(NewsCategory::cybersecurity))
            ->click();

        QVERIFY(!rig.shown(cyber));
        QVERIFY(rig.shown(HeadlineSettingsTab::sourcesName(NewsCategory::threatIntel)));
        QVERIFY(rig.shown(HeadlineSettingsTab::sourcesName(NewsCategory::malware)));
        QCOMPARE(rig.settings->enabledCategories(),
                 (QSet<NewsCategory>{NewsCategory::threatIntel, NewsCategory::malware}));
        QCOMPARE(strings(rig.stored().value(u"enabledCategories")),
                 (QSet<QString>{u"threatIntel"_qs, u"malware"_qs}));

        // Set from elsewhere, the toggle and the section follow.
        rig.settings->setEnabledCategories({NewsCategory::cybersecurity});
        QVERIFY(rig.shown(cyber));
        QVERIFY(!rig.shown(HeadlineSettingsTab::sourcesName(NewsCategory::malware)));
        QVERIFY(!rig.find<QCheckBox>(HeadlineSettingsTab::categoryName(NewsCategory::malware))
                     ->isChecked());
    }

    void feedOffSurvivesItsCategory()
    {
        Rig rig;
        rig.showTab(1);
        const QList<FeedSource> malware = FeedSource::sources(NewsCategory::malware);
        QVERIFY(malware.size() >= 2);
        const QString id = malware.first().id;
        auto* feed = rig.find<QCheckBox>(HeadlineSettingsTab::feedName(id));
        auto* category =
            rig.find<QCheckBox>(HeadlineSettingsTab::categoryName(NewsCategory::malware));

        feed->click();
        QCOMPARE(rig.settings->disabledFeedIDs(), QSet<QString>{id});
        QCOMPARE(strings(rig.stored().value(u"disabledFeeds")), QSet<QString>{id});

        category->click();
        category->click();
        QVERIFY(rig.shown(HeadlineSettingsTab::sourcesName(NewsCategory::malware)));
        QVERIFY(!feed->isChecked());
        QVERIFY(rig.find<QCheckBox>(HeadlineSettingsTab::feedName(malware[1].id))->isChecked());
        QCOMPARE(rig.settings->disabledFeedIDs(), QSet<QString>{id});

        feed->click();
        QCOMPARE(strings(rig.stored().value(u"disabledFeeds")), QSet<QString>{});
        rig.settings->setDisabledFeedIDs({id, u"not-in-the-catalogue"_qs});
        QVERIFY(!feed->isChecked());
    }

    void loginItemOnAndOff()
    {
        Rig rig;
        auto* toggle = rig.find<QCheckBox>(u"launchAtLogin"_qs);

        toggle->click();
        QVERIFY(toggle->isChecked());
        QVERIFY(QFile::exists(rig.entryPath()));
        QCOMPARE(rig.loginItem->status(), AutostartStatus::enabled);
        QCOMPARE(rig.text(u"loginStatus"_qs), rig.autostartOn());
        QVERIFY(!rig.shown(u"launchError"_qs));

        toggle->click();
        QVERIFY(!toggle->isChecked());
        QVERIFY(!QFile::exists(rig.entryPath()));
        QCOMPARE(rig.text(u"loginStatus"_qs), u"Start at login: off"_qs);
    }

    // The window reads the entry whenever it is shown: it may have changed meanwhile.
    void loginItemReadOnShow()
    {
        Rig rig;
        auto* toggle = rig.find<QCheckBox>(u"launchAtLogin"_qs);
        toggle->click();
        QVERIFY(toggle->isChecked());
        rig.window->close();

        // The program moved while the window was closed.
        QVERIFY(QFile::remove(rig.program()));
        rig.window->present();
        QVERIFY(!toggle->isChecked());
        QCOMPARE(
            rig.text(u"loginStatus"_qs),
            u"Start at login: not found — the program has moved; switch this off and on again"_qs);
        QVERIFY(QFile::exists(rig.entryPath())); // looking changes nothing

        // Switching it on again writes an entry for where the program is now.
        test::writeFile(rig.program(), "#!/bin/sh\n");
        QFile::remove(rig.entryPath());
        test::writeFile(rig.entryPath(), "[Desktop Entry]\nExec=/gone/vardelle\n");
        rig.showTab(1);
        rig.showTab(0);
        QCOMPARE(
            rig.text(u"loginStatus"_qs),
            u"Start at login: not found — the program has moved; switch this off and on again"_qs);
        toggle->click();
        QVERIFY(toggle->isChecked());
        QCOMPARE(rig.text(u"loginStatus"_qs), rig.autostartOn());
        QCOMPARE(test::readFile(rig.entryPath()), AutostartEntry::entryText(rig.program()));
    }

    void loginItemErrorSpringsBackAndStays()
    {
        Rig rig;
        auto* toggle = rig.find<QCheckBox>(u"launchAtLogin"_qs);
        // A plain file where the autostart folder must go.
        test::writeFile(rig.dir.filePath(u"config/autostart"_qs), "in the way");

        toggle->click();
        QVERIFY(!toggle->isChecked());
        QVERIFY(rig.shown(u"launchError"_qs));
        const QString error = rig.text(u"launchError"_qs);
        QVERIFY2(error.endsWith(u" Start at login needs a writable ~/.config/autostart folder."),
                 qPrintable(error));
        QCOMPARE(rig.window->generalTab()->launchError(), error);
        QCOMPARE(rig.text(u"loginStatus"_qs), u"Start at login: off"_qs);

        rig.reopen();
        QVERIFY(!toggle->isChecked());
        QVERIFY(rig.shown(u"launchError"_qs));
        QCOMPARE(rig.text(u"launchError"_qs), error);

        // The next change that goes through clears it.
        QVERIFY(QFile::remove(rig.dir.filePath(u"config/autostart"_qs)));
        toggle->click();
        QVERIFY(toggle->isChecked());
        QVERIFY(!rig.shown(u"launchError"_qs));
        QCOMPARE(rig.window->generalTab()->launchError(), QString());
    }

    void loginItemRemovalErrorSpringsBack()
    {
        Rig rig;
        auto* toggle = rig.find<QCheckBox>(u"launchAtLogin"_qs);
        toggle->click();
        QVERIFY(toggle->isChecked());
        // Something that cannot be removed as a file takes the entry's place.
        QVERIFY(QFile::remove(rig.entryPath()));
        test::writeFile(rig.entryPath() + u"/inside"_qs, "x");

        toggle->click();
        QVERIFY(rig.shown(u"launchError"_qs));
        QVERIFY(rig.text(u"launchError"_qs).startsWith(u"Could not remove"));
        // Back to what the folder holds, which is no entry that starts anything.
        QCOMPARE(toggle->isChecked(), rig.loginItem->status() == AutostartStatus::enabled);
    }

    void stopButtonsForceIdle_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QString>("button");
        QTest::newRow("General: Stop Speaking") << 0 << u"stopSpeaking"_qs;
        QTest::newRow("Voice: Stop") << 2 << u"stopVoice"_qs;
    }
    void stopButtonsForceIdle()
    {
        QFETCH(int, tab);
        QFETCH(QString, button);
        Rig rig([](Rig& r) { r.engine->install({}); });
        rig.showTab(tab);
        auto* stop = rig.find<QPushButton>(button);
        // The status menu's command, with its title and its rule: nothing to stop while idle.
        QCOMPARE(stop->text(), u"&Stop Speaking"_qs);
        QVERIFY(!stop->isEnabled());
        rig.speaker.speak(u"Something long."_qs, QString(), 0.5);
        rig.coordinator->setState(AnnouncerState::gathering());
        QVERIFY(rig.speaker.isSpeaking());
        QVERIFY(stop->isEnabled());

        stop->click();
        QVERIFY(!rig.speaker.isSpeaking());
        QVERIFY(rig.engine->stops() > 0);
        QCOMPARE(rig.coordinator->state(), AnnouncerState::idle());
        QVERIFY(!stop->isEnabled());
    }

    void testVoiceSpeaksTheSample()
    {
        Rig rig([](Rig& r) {
            r.makeSettings().setVoiceIdentifier(u"en-gb-1"_qs);
            r.settings->setSpeechRate(1.0);
        });
        rig.showTab(2);
        rig.find<QPushButton>(u"testVoice"_qs)->click();
        QTRY_COMPARE(rig.engine->spoken().size(), 1);
        const auto& utterance = rig.engine->spoken().first();
        QCOMPARE(utterance.text,
                 u"Here is your security briefing. Three new stories since your last check, "
                 "including an actively exploited vulnerability in a widely deployed V P N "
                 "appliance."_qs);
        QCOMPARE(utterance.rate, Speaker::engineRate(1.0));
        // The sample shows as speech, so a click on the orb stops it rather than briefing.
        QCOMPARE(rig.coordinator->state(), AnnouncerState::speaking());
        rig.engine->finish(utterance.id);
        QTRY_COMPARE(rig.coordinator->state(), AnnouncerState::idle());
    }

    void voicePicker_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("index");
        QTest::newRow("default") << QString() << 0;
        QTest::newRow("premium first") << u"p"_qs << 1;
        QTest::newRow("standard") << u"s"_qs << 3;
        QTest::newRow("not installed") << u"gone"_qs << -1;
    }
    void voicePicker()
    {
        QFETCH(QString, stored);
        QFETCH(int, index);
        Rig rig([&stored](Rig& r) {
            r.engine->install({{u"s"_qs, u"Sam"_qs, u"en-US"_qs, SpeechVoiceQuality::Default},
                               {u"e"_qs, u"Eve"_qs, u"en-GB"_qs, SpeechVoiceQuality::Enhanced},
                               {u"p"_qs, u"Pat"_qs, u"en-AU"_qs, SpeechVoiceQuality::Premium},
                               {u"f"_qs, u"Flo"_qs, u"fr-FR"_qs, SpeechVoiceQuality::Premium}});
            if (!stored.isNull())
                r.makeSettings().setVoiceIdentifier(stored);
        });
        rig.showTab(2);
        auto* picker = rig.find<QComboBox>(u"voicePicker"_qs);
        QStringList items;
        for (int i = 0; i < picker->count(); ++i)
            items.append(picker->itemText(i));
        QCOMPARE(items, (QStringList{u"System default"_qs, u"Pat — Premium"_qs,
                                     u"Eve — Enhanced"_qs, u"Sam — Standard"_qs}));
        QCOMPARE(picker->currentIndex(), index);
        // Showing it never rewrites the choice.
        QCOMPARE(rig.settings->voiceIdentifier(), stored.isNull() ? QString() : stored);

        picker->setCurrentIndex(2);
        QCOMPARE(rig.settings->voiceIdentifier(), u"e"_qs);
        QCOMPARE(rig.stored().value(u"voiceIdentifier").toString(), u"e"_qs);
        rig.settings->setVoiceIdentifier(QString());
        QCOMPARE(picker->currentIndex(), 0);
        rig.settings->setVoiceIdentifier(u"gone"_qs);
        QCOMPARE(picker->currentIndex(), -1);
        QCOMPARE(rig.settings->voiceIdentifier(), u"gone"_qs);
    }

    // Voices that arrive after the tab was built are offered once.
    void voicesListedLater()
    {
        Rig rig;
        auto* picker = rig.find<QComboBox>(u"voicePicker"_qs);
        QCOMPARE(picker->count(), 1);
        QCOMPARE(rig.engine->voiceLoads(), 1);
        rig.engine->install({{u"a"_qs, u"Al"_qs, u"en-US"_qs, SpeechVoiceQuality::Default}});
        QCOMPARE(picker->count(), 2);
        QCOMPARE(picker->currentIndex(), 0);
        rig.engine->install({{u"a"_qs, u"Al"_qs, u"en-US"_qs, SpeechVoiceQuality::Default},
                             {u"b"_qs, u"Bo"_qs, u"en-US"_qs, SpeechVoiceQuality::Default}});
        QCOMPARE(picker->count(), 2);
    }

    void speedSlider()
    {
        Rig rig;
        rig.showTab(2);
        auto* slider = rig.find<QSlider>(u"speedSlider"_qs);
        const int steps = VoiceSettingsTab::speedSteps;

        // A drag writes once, when let go.
        slider->setSliderDown(true);
        slider->setSliderPosition(steps / 4);
        slider->setSliderPosition(steps / 5);
        QCOMPARE(rig.settings->speechRate(), 0.5);
        QVERIFY(!rig.stored().contains(u"speechRate"));
        slider->setSliderDown(false);
        QCOMPARE(rig.settings->speechRate(), 0.2);
        QCOMPARE(rig.stored().value(u"speechRate").toDouble(), 0.2);

        // The keyboard writes at every step.
        QTest::keyClick(slider, Qt::Key_End);
        QCOMPARE(rig.settings->speechRate(), 1.0);
        QCOMPARE(rig.stored().value(u"speechRate").toDouble(), 1.0);

        rig.settings->setSpeechRate(0.75);
        QCOMPARE(slider->value(), steps * 3 / 4);
        // Out of range: shown at the end, kept as stored.
        rig.settings->setSpeechRate(1.5);
        QCOMPARE(slider->value(), steps);
        QCOMPARE(rig.settings->speechRate(), 1.5);
    }

    // A slow and a fast picture at the slider's ends, named for screen readers, not words.
    void speedEndsArePictures()
    {
        Rig rig;
        rig.showTab(2);
        auto* slow = rig.find<QLabel>(u"speedSlow"_qs);
        auto* fast = rig.find<QLabel>(u"speedFast"_qs);
        QVERIFY(slow && fast);
        QCOMPARE(slow->accessibleName(), u"Slow"_qs);
        QCOMPARE(fast->accessibleName(), u"Fast"_qs);
        const QImage slowImage = slow->pixmap().toImage();
        const QImage fastImage = fast->pixmap().toImage();
        QVERIFY(!slowImage.isNull() && !fastImage.isNull());
        QVERIFY(slowImage != fastImage);
        for (const QImage& image : {slowImage, fastImage}) {
            int inked = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    inked += qAlpha(image.pixel(x, y)) > 128;
            QVERIFY2(inked > image.width() * image.height() / 20, "a picture, not a blank");
        }
        for (const QLabel* label : rig.window->findChildren<QLabel*>())
            QVERIFY(label->text() != u"Slow"_qs && label->text() != u"Fast"_qs);
    }

    // A briefing shows in the Voice tab at once, and its gather in the General tab the next
    // time it is shown; forgetting the history takes the gather away.
    void briefingShowsWithoutReopening()
    {
        Rig rig([](Rig& r) { r.mirror.serve(u"bleepingcomputer"_qs, {{u"a"_qs, now - 1h}}); });
        QVERIFY(!rig.shown(u"lastBriefingSection"_qs));
        rig.showTab(2);

        rig.find<QPushButton>(u"announceNow"_qs)->click();
        QCOMPARE(rig.engine->spoken().size(), 0); // the click returns before the briefing
        QTRY_VERIFY(!rig.coordinator->lastBriefing().isEmpty());
        QVERIFY(rig.shown(u"lastBriefingSection"_qs));
        auto* text = rig.find<QPlainTextEdit>(u"lastBriefing"_qs);
        QCOMPARE(text->toPlainText(), rig.coordinator->lastBriefing());
        QVERIFY(text->isReadOnly());
        QCOMPARE(text->height(), 120);

        rig.showTab(0);
        QVERIFY(rig.shown(u"lastGatherRow"_qs));
        QCOMPARE(rig.text(u"lastGather"_qs), u"Dec 10, 2026, 12:00\u202FPM"_qs);

        rig.find<QPushButton>(u"forgetHistory"_qs)->click();
        QVERIFY(!rig.shown(u"lastGatherRow"_qs));
        QVERIFY(!rig.store->lastGather());
    }

    // The General tab, left open, follows each run: the "Last gather" row appears with the
    // first gather and moves with a later one that finds nothing new.
    void lastGatherFollowsTheRuns()
    {
        Rig rig([](Rig& r) { r.mirror.serve(u"bleepingcomputer"_qs, {{u"a"_qs, now - 1h}}); });
        QCOMPARE(rig.window->tabs()->currentIndex(), 0);
        QVERIFY(!rig.shown(u"lastGatherRow"_qs));

        rig.actions->announceLatest()->trigger();
        QTRY_VERIFY(rig.shown(u"lastGatherRow"_qs));
        QCOMPARE(rig.text(u"lastGather"_qs), u"Dec 10, 2026, 12:00\u202FPM"_qs);
        rig.engine->finish(rig.engine->lastId());

        rig.clock.advance(61min);
        rig.actions->announceLatest()->trigger();
        QTRY_COMPARE(rig.text(u"lastGather"_qs), u"Dec 10, 2026, 1:01\u202FPM"_qs);

        // The row follows the store, whoever records the gather.
        rig.clock.advance(1h);
        rig.store->recordGather();
        QCOMPARE(rig.text(u"lastGather"_qs), u"Dec 10, 2026, 2:01\u202FPM"_qs);
    }

    // The login item's status follows its entry as another program, or the user, changes it.
    void loginStatusFollowsTheEntry()
    {
        Rig rig;
        auto* toggle = rig.find<QCheckBox>(u"launchAtLogin"_qs);
        QCOMPARE(rig.text(u"loginStatus"_qs), u"Start at login: off"_qs);

        AutostartEntry elsewhere(rig.dir.filePath(u"config"_qs), rig.program());
        QCOMPARE(elsewhere.setEnabled(true), std::nullopt);
        QTRY_COMPARE(rig.text(u"loginStatus"_qs), rig.autostartOn());
        QVERIFY(toggle->isChecked());

        test::writeFile(rig.entryPath(), "[Desktop Entry]\nExec=/gone/vardelle\n");
        QTRY_COMPARE(
            rig.text(u"loginStatus"_qs),
            u"Start at login: not found — the program has moved; switch this off and on again"_qs);
        QVERIFY(!toggle->isChecked());

        QVERIFY(QFile::remove(rig.entryPath()));
        QTRY_COMPARE(rig.text(u"loginStatus"_qs), u"Start at login: off"_qs);
        QVERIFY(!toggle->isChecked());
        QVERIFY(!QFile::exists(rig.entryPath())); // following it writes nothing
    }

    void replayAndAnnounceNow()
    {
        Rig rig([](Rig& r) { r.makeSettings().setEnabledCategories({}); });
        rig.find<QPushButton>(u"replayLastBriefing"_qs)->click();
        QTRY_COMPARE(rig.engine->spoken().size(), 1);
        QCOMPARE(rig.engine->spoken().last().text, AppCoordinator::nothingToReplayMessage);

        rig.find<QPushButton>(u"announceNow"_qs)->click();
        QTRY_COMPARE(rig.engine->spoken().size(), 2);
        QCOMPARE(rig.engine->spoken().last().text, AppCoordinator::noCategoriesMessage);
    }

    void closingKeepsTheWindow()
    {
        Rig rig;
        QPointer<SettingsWindow> window = rig.window.get();
        rig.showTab(2);
        rig.find<QCheckBox>(u"bubbleCompact"_qs)->setChecked(true);
        rig.reopen();
        QVERIFY(window);
        QCOMPARE(rig.window->tabs()->currentIndex(), 2);
        QVERIFY(rig.find<QCheckBox>(u"bubbleCompact"_qs)->isChecked());
    }

    // Every tab and button answers to Alt and a letter of its own among what shows at once.
    void mnemonics()
    {
        Rig rig;
        QTabWidget* tabs = rig.window->tabs();
        QStringList tabKeys;
        for (int i = 0; i < tabs->count(); ++i)
            tabKeys.append(QKeySequence::mnemonic(tabs->tabText(i)).toString());
        QCOMPARE(QSet<QString>(tabKeys.cbegin(), tabKeys.cend()).size(), tabs->count());
        for (int i = 0; i < tabs->count(); ++i) {
            QStringList keys = tabKeys;
            for (const QPushButton* button : tabs->widget(i)->findChildren<QPushButton*>()) {
                const QString key = QKeySequence::mnemonic(button->text()).toString();
                QVERIFY2(!key.isEmpty() && !keys.contains(key), qPrintable(button->text()));
                keys.append(key);
            }
        }
    }

    // Feed and settings text is shown as written, never as markup.
    void plainText()
    {
        Rig rig;
        for (const QLabel* label : rig.window->findChildren<QLabel*>())
            QCOMPARE(label->textFormat(), Qt::PlainText);
    }

    // "Your feeds": add through the dialog (a refusal shown in place), switch, remove; "Watch
    // list": add (a refusal shown in place) and remove. Each change is stored at once.
    void ownFeedsAndWatchList()
    {
        Rig rig;
        test::TestHttpServer server;
        QVERIFY(server.listen());
        server.setResponse(u"/vendor.xml"_qs, test::TestHttpResponse::ok(
                                                  "<rss><channel><title>Vendor</title><item>"
                                                  "<title>Story</title></item></channel></rss>"));
        HeadlineSettingsTab* tab = rig.window->headlineTab();
        rig.window->tabs()->setCurrentIndex(1);
        QVERIFY(!rig.find<QPushButton>(u"add-feed"_qs)->isEnabled());
        Library library(*rig.settings, *rig.news);
        tab->setLibrary(&library);
        QVERIFY(rig.find<QPushButton>(u"add-feed"_qs)->isEnabled());

        QPointer<QDialog> dialog = tab->openAddFeed();
        QVERIFY(dialog);
        const auto add = [&](const QString& address) {
            dialog->findChild<QLineEdit*>(u"feed-address"_qs)->setText(address);
            auto* buttons = dialog->findChild<QDialogButtonBox*>();
            buttons->button(QDialogButtonBox::Ok)->click();
        };
        add(server.url(u"/missing.xml"_qs).toString());
        auto* refusal = dialog->findChild<QLabel*>(u"feed-refusal"_qs);
        QTRY_VERIFY(refusal->text().contains(u"HTTP 404"_qs));
        QVERIFY(dialog->isVisible());
        QVERIFY(refusal->isVisible());
        // Editing the address clears the reason given for the one before.
        QTest::keyClick(dialog->findChild<QLineEdit*>(u"feed-address"_qs), Qt::Key_Backspace);
        QVERIFY(!refusal->isVisible());
        QVERIFY(rig.settings->ownFeeds().isEmpty());

        auto* category = dialog->findChild<QComboBox*>(u"feed-category"_qs);
        category->setCurrentIndex(2);
        add(server.url(u"/vendor.xml"_qs).toString());
        QTRY_VERIFY(!dialog);
        QCOMPARE(rig.settings->ownFeeds().size(), 1);
        QCOMPARE(rig.settings->ownFeeds().first().category, NewsCategory::malware);
        auto* toggle = rig.find<QCheckBox>(HeadlineSettingsTab::ownFeedName(u"vendor"_qs));
        QVERIFY(toggle && toggle->isChecked());
        QCOMPARE(toggle->text(), u"Vendor"_qs);

        toggle->click();
        QCOMPARE(rig.stored().value(u"customFeeds"_qs).toArray().at(0)[u"enabled"_qs], false);
        rig.find<QPushButton>(HeadlineSettingsTab::removeName(u"vendor"_qs))->click();
        QCOMPARE(rig.stored().value(u"customFeeds"_qs).toArray().size(), 0);

        auto* term = rig.find<QLineEdit>(u"watch-term"_qs);
        auto* terms = rig.find<QListWidget>(u"watch-terms"_qs);
        term->setText(u"Ivanti"_qs);
        rig.find<QPushButton>(u"add-term"_qs)->click();
        QTRY_COMPARE(terms->count(), 1);
        QVERIFY(term->text().isEmpty());
        QCOMPARE(rig.stored().value(u"watchTerms"_qs).toArray(), QJsonArray{u"Ivanti"_qs});
        term->setText(u"IVANTI"_qs);
        rig.find<QPushButton>(u"add-term"_qs)->click();
        QTRY_VERIFY(rig.shown(u"watch-refusal"_qs));
        QVERIFY(rig.text(u"watch-refusal"_qs).contains(u"already on the watch list"_qs));
        QCOMPARE(terms->count(), 1);
        terms->item(0)->setSelected(true);
        rig.find<QPushButton>(u"remove-terms"_qs)->click();
        QCOMPARE(terms->count(), 0);
        QVERIFY(rig.settings->watchTerms().isEmpty());
    }

    // A refusal quoting a long term, one word, keeps the tab within its window: the Remove
    // button stays in view; the whole refusal is in the tooltip.
    void longTermRefusalKeepsTheWidth()
    {
        Rig rig;
        Library library(*rig.settings, *rig.news);
        rig.window->headlineTab()->setLibrary(&library);
        rig.window->tabs()->setCurrentIndex(1);
        auto* remove = rig.find<QPushButton>(u"remove-terms"_qs);
        QScrollArea* page = nullptr;
        for (QWidget* up = remove; up && !page; up = up->parentWidget())
            page = qobject_cast<QScrollArea*>(up);
        QVERIFY(page);
        QTRY_VERIFY(remove->isVisible());
        const int width = rig.window->width();

        const QString term(101, u'x');
        rig.find<QLineEdit>(u"watch-term"_qs)->setText(term);
        rig.find<QPushButton>(u"add-term"_qs)->click();
        QTRY_VERIFY(rig.shown(u"watch-refusal"_qs));
        auto* refusal = rig.find<QLabel>(u"watch-refusal"_qs);
        QVERIFY(refusal->toolTip().contains(term));
        QVERIFY(!refusal->text().contains(term));
        QVERIFY(test::deliverPostedEvents());
        QCOMPARE(rig.window->width(), width);
        QVERIFY2(page->widget()->minimumSizeHint().width() <= page->viewport()->width(),
                 qPrintable(QString::number(page->widget()->minimumSizeHint().width())));
        QTRY_VERIFY(remove->mapTo(page->viewport(), QPoint(remove->width(), 0)).x() <=
                    page->viewport()->width());
    }
};

QTEST_MAIN(SettingsWindowTest)
#include "tst_settingswindow.moc"
