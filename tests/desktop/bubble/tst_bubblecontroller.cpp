#include "bubble/BubbleController.h"

#include "briefing/AppCoordinator.h"
#include "bubble/BubblePanel.h"
#include "bubble/BubbleWidget.h"
#include "news/FeedSource.h"
#include "news/NewsService.h"
#include "orb/OrbView.h"
#include "settings/AppSettings.h"
#include "shell/DesktopActions.h"
#include "speech/Speaker.h"
#include "store/HeadlineStore.h"
#include "support/CoordinatorRig.h"
#include "support/FakeSpeechEngine.h"
#include "support/FeedMirror.h"
#include "support/ManualClock.h"
#include "support/PostedEvents.h"
#include "support/TestData.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleHints>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QToolTip>
#include <QtTest>

#include <ctime>
#include <memory>
#include <optional>

using namespace vardelle;
using namespace std::chrono_literals;
using test::utc;
using Kind = AnnouncerState::Kind;

namespace {

// Counts the tooltip events a widget receives: the event that shows a tooltip, or shows none.
struct ToolTipEvents : QObject {
    explicit ToolTipEvents(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::ToolTip)
            ++count;
        return false;
    }
    int count = 0;
};

const Instant now = utc(2026, 12, 10, 12, 0);
constexpr int normal = 182;
constexpr int compact = 84;

NewsItem headline(int n, NewsCategory category = NewsCategory::cybersecurity,
                  QString link = QString())
{
    NewsItem item;
    item.id = QString::number(n);
    item.title = u"Headline "_qs + QString::number(n);
    item.link = link.isNull() ? u"https://example.org/"_qs + QString::number(n) : link;
    item.source = u"Source"_qs;
    item.category = category;
    item.published = now - 1h;
    item.summary = u"Summary"_qs;
    return item;
}

// The controller over the coordinator's rig, screens the test chooses and a URL opener that only
// records. No automatic briefing passes the coordinator's guards, so every request it sees is a
// manual one.
struct Rig : test::CoordinatorRig {
    std::unique_ptr<DesktopActions> actions;
    std::unique_ptr<BubbleController> controller;
    QList<QRect> screens{QRect(0, 24, 1280, 752)};
    QList<QUrl> opened;
    int settingsOpened = 0;
    int quits = 0;

    // `lastItems` are the stories of the last briefing, as the coordinator finds them at start.
    explicit Rig(const QList<NewsItem>& lastItems = {})
        : CoordinatorRig(now, Start::later)
    {
        makeSettings().setAnnounceOnLaunch(false);
        settings->setAnnounceOnUnlock(false);
        if (!lastItems.isEmpty())
            makeStore().record(lastItems, u"Earlier briefing."_qs, true);
        start();
        actions = std::make_unique<DesktopActions>(*coordinator);
        controller =
            std::make_unique<BubbleController>(*coordinator, *settings, *store, clock, *actions);
        controller->setScreenAreas([this] { return screens; });
        controller->setUrlOpener([this](const QUrl& url) { opened.append(url); });
        QObject::connect(actions->settings(), &QAction::triggered, [this] { ++settingsOpened; });
        QObject::connect(actions->quit(), &QAction::triggered, [this] { ++quits; });
        QObject::connect(actions->toggleBubble(), &QAction::triggered, [this] {
            if (controller->isVisible())
                controller->hide();
            else
                controller->show();
        });
    }

    void store_(QPoint origin) { settings->setBubbleOrigin(QPointF(origin)); }
    std::optional<QPoint> stored() const
    {
        const auto origin = settings->savedBubbleOrigin();
        return origin ? std::optional<QPoint>(origin->toPoint()) : std::nullopt;
    }
    QRect frame() const { return controller->panel()->geometry(); }

    QAction* entry(QMenu& menu, const QString& title)
    {
        for (QAction* action : menu.actions()) {
            if (action->text() == title)
                return action;
        }
        return nullptr;
    }
    void trigger(const QString& title)
    {
        std::unique_ptr<QMenu> menu = controller->buildMenu();
        QAction* action = entry(*menu, title);
        QVERIFY2(action, qPrintable(title));
        action->trigger();
    }
};

// The titles of a menu, "-" for a separator, "(off) " before a disabled entry, "> " before one
// with a submenu, the shortcut in brackets after.
QStringList titles(const QMenu& menu)
{
    QStringList list;
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            list.append(u"-"_qs);
            continue;
        }
        QString title = action->text();
        if (!action->shortcut().isEmpty())
            title += u" ["_qs + action->shortcut().toString(QKeySequence::PortableText) + u']';
        if (action->menu())
            title.prepend(u"> "_qs);
        if (!action->isEnabled())
            title.prepend(u"(off) "_qs);
        list.append(title);
    }
    return list;
}

// Every geometry `window` takes, appended to `frames` while the recorder lives.
class FrameRecorder : public QObject {
public:
    FrameRecorder(QWidget* window, QList<QRect>& frames)
        : m_window(window)
        , m_frames(frames)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_window &&
            (event->type() == QEvent::Resize || event->type() == QEvent::Move))
            m_frames.append(m_window->geometry());
        return false;
    }

private:
    QWidget* m_window;
    QList<QRect>& m_frames;
};

// Left clicks at the centre of `view`, at given event times in milliseconds, as the window
// system sends them: the second press of a double click comes with a double-click event.
struct Mouse {
    QWidget* view;

    void send(QEvent::Type type, quint64 time) const
    {
        const QPointF local = QRectF(view->rect()).center();
        const Qt::MouseButtons buttons =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, local, local, view->mapToGlobal(local), Qt::LeftButton, buttons,
                          Qt::NoModifier);
        event.setTimestamp(time);
        QApplication::sendEvent(view, &event);
    }
    void click(quint64 time) const
    {
        send(QEvent::MouseButtonPress, time);
        send(QEvent::MouseButtonRelease, time + 80);
    }
    void doubleClick(quint64 time) const
    {
        send(QEvent::MouseButtonPress, time);
        send(QEvent::MouseButtonDblClick, time);
        send(QEvent::MouseButtonRelease, time + 80);
    }
};

// The tooltip window on screen, if any.
QLabel* shownToolTip()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("QTipLabel") && widget->isVisible())
            return qobject_cast<QLabel*>(widget);
    }
    return nullptr;
}

QPoint corner(QRect area, int side)
{
    return {area.x() + area.width() - side - 24, area.y() + area.height() - side - 48};
}

} // namespace

class BubbleControllerTest : public QObject {
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

    void placement_data()
    {
        QTest::addColumn<QList<QRect>>("screens"); // available areas, the main screen first
        QTest::addColumn<std::optional<QPoint>>("stored");
        QTest::addColumn<bool>("compact");
        QTest::addColumn<QPoint>("expected");

        const QRect laptop(0, 24, 1280, 752);
        const QRect right(1280, 0, 1920, 1040);
        const std::optional<QPoint> none;
        QTest::newRow("first show: default corner")
            << QList<QRect>{laptop} << none << false << corner(laptop, normal);
        QTest::newRow("first show, compact")
            << QList<QRect>{laptop} << none << true << corner(laptop, compact);
        QTest::newRow("default corner of the main screen, which is not leftmost")
            << QList<QRect>{right, laptop} << none << false << corner(right, normal);
        QTest::newRow("stored, on screen")
            << QList<QRect>{laptop} << std::optional<QPoint>({100, 300}) << false
            << QPoint(100, 300);
        QTest::newRow("stored, partly on screen")
            << QList<QRect>{laptop} << std::optional<QPoint>({1270, -150}) << false
            << QPoint(1270, -150);
        QTest::newRow("stored, on the second screen")
            << QList<QRect>{laptop, right} << std::optional<QPoint>({2400, 500}) << false
            << QPoint(2400, 500);
        QTest::newRow("stored, on a screen no longer there")
            << QList<QRect>{laptop} << std::optional<QPoint>({2400, 500}) << false
            << corner(laptop, normal);
        QTest::newRow("stored, touching the screen's edge only")
            << QList<QRect>{laptop} << std::optional<QPoint>({1280, 300}) << false
            << corner(laptop, normal);
        QTest::newRow("stored, above the available area")
            << QList<QRect>{laptop} << std::optional<QPoint>({100, 24 - normal}) << false
            << corner(laptop, normal);
    }
    void placement()
    {
        QFETCH(QList<QRect>, screens);
        QFETCH(std::optional<QPoint>, stored);
        QFETCH(bool, compact);
        QFETCH(QPoint, expected);

        Rig rig;
        rig.screens = screens;
        rig.settings->setBubbleCompact(compact);
        if (stored)
            rig.store_(*stored);
        rig.controller->show();

        QVERIFY(rig.controller->isVisible());
        QCOMPARE(rig.frame().topLeft(), expected);
        QCOMPARE(rig.frame().size(), QSize(BubblePanel::side(compact), BubblePanel::side(compact)));
        QCOMPARE(rig.stored(), expected); // written at once when the default corner was taken
        QCOMPARE(rig.settings->bubbleHidden(), false);
    }

    void noScreenLeavesThePanelAndWritesNothing()
    {
        Rig rig;
        rig.screens.clear();
        rig.controller->show();
        QVERIFY(rig.controller->panel());
        QCOMPARE(rig.stored(), std::nullopt);
    }

    // Showing again places again: a bubble left on a screen that has gone comes back.
    void screenDisappearsWhileHidden()
    {
        Rig rig;
        const QRect laptop = rig.screens.first();
        rig.screens.append(QRect(1280, 0, 1920, 1040));
        rig.store_({2400, 500});
        rig.controller->show();
        QCOMPARE(rig.frame().topLeft(), QPoint(2400, 500));

        rig.controller->hide();
        QVERIFY(!rig.controller->isVisible());
        QCOMPARE(rig.settings->bubbleHidden(), true);
        rig.screens.removeLast();
        rig.controller->show();
        QCOMPARE(rig.frame().topLeft(), corner(laptop, normal));
        QCOMPARE(rig.stored(), corner(laptop, normal));
    }

    void dragStoresThePosition()
    {
        Rig rig;
        rig.controller->show();
        const QPoint before = rig.frame().topLeft();
        BubbleWidget* view = rig.controller->bubbleWidget();
        const QPointF local(normal / 2.0, normal / 2.0);
        auto send = [&](QEvent::Type type, QPointF global, Qt::MouseButton button,
                        Qt::MouseButtons buttons) {
            QMouseEvent event(type, local, local, global, button, buttons, Qt::NoModifier);
            QApplication::sendEvent(view, &event);
        };
        const QPointF start = view->mapToGlobal(local);
        send(QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseMove, start + QPointF(-200, -100), Qt::NoButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, start + QPointF(-200, -100), Qt::LeftButton, Qt::NoButton);
        QCOMPARE(rig.frame().topLeft(), before + QPoint(-200, -100));
        QCOMPARE(rig.stored(), before + QPoint(-200, -100));
        QCOMPARE(rig.coordinator->state(), AnnouncerState::idle()); // no click
    }

    // The lower-left corner stays put both ways, at every step of the resize, which takes a
    // moment; the orb is drawn at exactly 44 and 96 (in panels of 84 and 182 whole pixels), and
    // the stored top-left follows, so the next start puts the bubble in the same place.
    void compactResizeKeepsLowerLeft()
    {
        Rig rig;
        rig.store_({300, 400});
        rig.controller->show();
        QCOMPARE(rig.frame(), QRect(300, 400, normal, normal));
        QCOMPARE(rig.controller->orb()->diameter(), 96.0);
        QList<QRect> frames;
        FrameRecorder recorder(rig.controller->panel(), frames);

        rig.trigger(u"Minimise Bubble"_qs);
        QVERIFY(rig.settings->bubbleCompact());
        QTRY_COMPARE(rig.stored(), QPoint(300, 400 + normal - compact));
        QCOMPARE(rig.frame(), QRect(300, 400 + normal - compact, compact, compact));
        QCOMPARE(rig.controller->bubbleWidget()->geometry(), QRect(0, 0, compact, compact));
        QCOMPARE(rig.controller->orb()->geometry(), QRect(0, 0, compact, compact));
        QCOMPARE(rig.controller->orb()->diameter(), 44.0);
        QVERIFY2(frames.size() >= 3, "the bubble shrinks in steps");
        for (const QRect& frame : frames) {
            QCOMPARE(frame.bottomLeft(), QPoint(300, 400 + normal - 1));
            QVERIFY(frame.width() >= compact && frame.width() <= normal);
        }

        frames.clear();
        rig.trigger(u"Expand Bubble"_qs);
        QTRY_COMPARE(rig.stored(), QPoint(300, 400));
        QCOMPARE(rig.frame(), QRect(300, 400, normal, normal));
        QCOMPARE(rig.controller->orb()->geometry(), QRect(0, 0, normal, normal));
        QCOMPARE(rig.controller->orb()->diameter(), 96.0);
        QVERIFY2(frames.size() >= 3, "the bubble grows in steps");
        for (const QRect& frame : frames)
            QCOMPARE(frame.bottomLeft(), QPoint(300, 400 + normal - 1));
    }

    // Resized while hidden, or before it was ever built (hidden at launch), the bubble comes
    // back with its lower-left corner where it was.
    void resizeWhileHiddenKeepsLowerLeft_data()
    {
        QTest::addColumn<bool>("built");
        QTest::addColumn<bool>("startCompact");
        QTest::newRow("hidden, expand") << true << true;
        QTest::newRow("hidden, minimise") << true << false;
        QTest::newRow("never shown, expand") << false << true;
        QTest::newRow("never shown, minimise") << false << false;
    }
    void resizeWhileHiddenKeepsLowerLeft()
    {
        QFETCH(bool, built);
        QFETCH(bool, startCompact);
        const int from = startCompact ? compact : normal;
        const int to = startCompact ? normal : compact;
        Rig rig;
        rig.settings->setBubbleCompact(startCompact);
        QCoreApplication::processEvents();
        rig.store_({300, 400});
        if (built) {
            rig.controller->show();
            rig.controller->hide();
        }

        rig.settings->setBubbleCompact(!startCompact);
        QCoreApplication::processEvents();
        rig.controller->show();
        QCOMPARE(rig.frame(), QRect(300, 400 + from - to, to, to));
        QCOMPARE(rig.stored(), QPoint(300, 400 + from - to));
        QCOMPARE(rig.controller->orb()->diameter(), startCompact ? 96.0 : 44.0);
        // The orb is drawn round the centre of the new size, not the old one.
        QTRY_COMPARE(rig.controller->orb()->geometry(), QRect(0, 0, to, to));
    }

    void compactBeforeTheFirstShow()
    {
        Rig rig;
        rig.settings->setBubbleCompact(true);
        QCoreApplication::processEvents();
        QVERIFY(!rig.controller->panel());
        rig.controller->show();
        QCOMPARE(rig.frame().size(), QSize(compact, compact));
    }

    void orbFollowsTheState()
    {
        Rig rig;
        rig.coordinator->setState(AnnouncerState::gathering());
        rig.controller->show();
        OrbView* orb = rig.controller->orb();
        QCOMPARE(orb->state(), AnnouncerState::gathering());
        for (const AnnouncerState& state :
             {AnnouncerState::speaking(), AnnouncerState::failed(u"offline"_qs),
              AnnouncerState::idle()}) {
            rig.coordinator->setState(state);
            QTRY_COMPARE(orb->state(), state);
        }
        QVERIFY(orb->testAttribute(Qt::WA_TransparentForMouseEvents));
    }

    // Assistive technologies hear the bubble's state as its description.
    void accessibleDescription_data()
    {
        QTest::addColumn<AnnouncerState>("state");
        QTest::addColumn<QString>("description");
        QTest::newRow("idle") << AnnouncerState::idle() << u"Ready"_qs;
        QTest::newRow("gathering") << AnnouncerState::gathering() << u"Gathering"_qs;
        QTest::newRow("speaking, no story") << AnnouncerState::speaking() << u"Speaking"_qs;
        QTest::newRow("failed") << AnnouncerState::failed(u"No network"_qs)
                                << u"Problem: No network"_qs;
    }
    void accessibleDescription()
    {
        QFETCH(AnnouncerState, state);
        QFETCH(QString, description);
        Rig rig;
        rig.coordinator->setState(AnnouncerState::failed(u"earlier"_qs));
        rig.controller->show();
        BubbleWidget* bubble = rig.controller->bubbleWidget();
        QCOMPARE(bubble->accessibleName(), u"Vardelle"_qs);
        QCOMPARE(bubble->window()->windowTitle(), u"Vardelle"_qs);
        QCOMPARE(bubble->accessibleDescription(), u"Problem: earlier"_qs);
        rig.coordinator->setState(state);
        QTRY_COMPARE(bubble->accessibleDescription(), description);
    }

    // While a briefing is read, the description follows the story read, counted among the
    // stories (the opening and the closing are none).
    void accessibleDescriptionFollowsTheStory()
    {
        Rig rig;
        rig.serve(u"bleepingcomputer"_qs,
                  {{u"a"_qs, now - 1h, u"Alpha"_qs}, {u"b"_qs, now - 2h, u"Beta"_qs}});
        rig.controller->show();
        rig.announce(AnnounceReason::manual);
        BubbleWidget* bubble = rig.controller->bubbleWidget();
        QTRY_COMPARE(bubble->accessibleDescription(), u"Speaking"_qs); // the opening
        rig.engine->finish(rig.engine->lastId());
        QTRY_COMPARE(bubble->accessibleDescription(), u"Reading story 1 of 2: Alpha"_qs);
        rig.engine->finish(rig.engine->lastId());
        QTRY_COMPARE(bubble->accessibleDescription(), u"Reading story 2 of 2: Beta"_qs);
        rig.engine->finish(rig.engine->lastId());
        QTRY_COMPARE(bubble->accessibleDescription(), u"Speaking"_qs); // the closing
    }

    // The pointer resting on the orb shows the tooltip, although the bubble is never the active
    // window; resting on a transparent corner shows none.
    void hoverShowsTheToolTip_data()
    {
        QTest::addColumn<AnnouncerState>("state");
        QTest::newRow("idle") << AnnouncerState::idle();
        QTest::newRow("gathering") << AnnouncerState::gathering();
        QTest::newRow("speaking") << AnnouncerState::speaking();
        QTest::newRow("failed") << AnnouncerState::failed(u"offline"_qs);
    }
    void hoverShowsTheToolTip()
    {
        QFETCH(AnnouncerState, state);
        Rig rig;
        rig.controller->show();
        rig.coordinator->setState(state);
        BubbleWidget* view = rig.controller->bubbleWidget();
        QVERIFY(QTest::qWaitForWindowExposed(view->window()));
        // The user works in another window meanwhile.
        QWidget elsewhere;
        elsewhere.show();
        elsewhere.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&elsewhere));
        QVERIFY(!view->window()->isActiveWindow());

        // A corner, outside the circle: the tooltip event comes, and shows nothing.
        ToolTipEvents asked(view);
        QTest::mouseMove(view, QPoint(3, 3));
        QTRY_VERIFY(asked.count > 0);
        QVERIFY(test::deliverPostedEvents());
        QVERIFY(!shownToolTip());

        QTest::mouseMove(view, view->rect().center());
        QTRY_VERIFY(shownToolTip());
        QCOMPARE(shownToolTip()->text(), BubbleController::toolTip);
        QCOMPARE(BubbleController::toolTip,
                 u"Vardelle — click for a briefing, right-click for options"_qs);
        QToolTip::hideText();
        QTRY_VERIFY(!shownToolTip());
    }

    // A click stops speech once no second click can follow; in every other state it asks for a
    // manual briefing at once (with no category enabled, the coordinator answers with its spoken
    // message), heard once no second click can take it back.
    void clickByState_data()
    {
        QTest::addColumn<AnnouncerState>("state");
        QTest::addColumn<bool>("announces");

        QTest::newRow("idle") << AnnouncerState::idle() << true;
        QTest::newRow("gathering") << AnnouncerState::gathering() << true;
        QTest::newRow("failed") << AnnouncerState::failed(u"offline"_qs) << true;
        QTest::newRow("speaking") << AnnouncerState::speaking() << false;
    }
    void clickByState()
    {
        QFETCH(AnnouncerState, state);
        QFETCH(bool, announces);

        Rig rig;
        rig.settings->setEnabledCategories({});
        rig.controller->show();
        rig.speaker.speak(u"An earlier briefing."_qs, {}, 0.5);
        rig.coordinator->setState(state);
        QSignalSpy spoken(rig.coordinator.get(), &AppCoordinator::speaking);

        rig.controller->bubbleWidget()->onClick();
        if (announces) {
            QCOMPARE(rig.coordinator->state(), AnnouncerState::gathering());
            QCOMPARE(spoken.count(), 0);
            QTRY_COMPARE(spoken.count(), 1);
            QCOMPARE(spoken.first().at(1).toString(), AppCoordinator::noCategoriesMessage);
        } else {
            // Once it is clear that no second click follows.
            QVERIFY(rig.speaker.isSpeaking());
            QTRY_VERIFY(!rig.speaker.isSpeaking());
            QCOMPARE(rig.coordinator->state(), AnnouncerState::idle());
            QCoreApplication::processEvents();
            QCOMPARE(spoken.count(), 0);
        }
    }

    // A double click opens the settings and leaves nothing of its first click behind: a
    // briefing that click started is stopped before it speaks or records anything, a briefing
    // already under way goes on, and speech the click would have stopped goes on. The first
    // click's briefing starts at once, not after the double-click interval; when its feeds answer
    // before the second press, it is recorded and taken back again, never heard.
    void doubleClickOnlyOpensSettings_data()
    {
        QTest::addColumn<AnnouncerState>("state");
        QTest::addColumn<bool>("feedsFirst");
        QTest::newRow("idle: the first click starts a briefing") << AnnouncerState::idle() << false;
        QTest::newRow("idle: its feeds answer before the second press")
            << AnnouncerState::idle() << true;
        QTest::newRow("gathering: the first click is dropped")
            << AnnouncerState::gathering() << false;
        QTest::newRow("speaking: the first click would stop it")
            << AnnouncerState::speaking() << false;
    }
    void doubleClickOnlyOpensSettings()
    {
        QFETCH(AnnouncerState, state);
        QFETCH(bool, feedsFirst);
        const Kind before = state.kind;
        Rig rig;
        rig.serve(FeedSource::catalog().first().id, {{u"s1"_qs, now - 1h, u"A story"_qs}});
        rig.controller->show();
        if (before == Kind::gathering)
            rig.coordinator->announce(AnnounceReason::manual);
        if (before == Kind::speaking)
            rig.coordinator->replayLastBriefing();
        QCOMPARE(rig.coordinator->state().kind, before);
        const qsizetype spokenBefore = rig.engine->spoken().size();

        Mouse mouse{rig.controller->bubbleWidget()};
        mouse.click(1000);
        QCOMPARE(rig.coordinator->state().kind, before == Kind::idle ? Kind::gathering : before);
        if (feedsFirst) {
            // Recorded, and still not heard.
            QTRY_VERIFY_WITH_TIMEOUT(rig.store->lastGather(), 350);
            QCOMPARE(rig.engine->spoken().size(), spokenBefore);
            QCOMPARE(rig.coordinator->state().kind, Kind::gathering);
        }
        mouse.doubleClick(1250);
        QCOMPARE(rig.settingsOpened, 1);

        switch (before) {
        case Kind::idle: {
            // The taken-back run ended at once, and the next run gathers after it: had its
            // gather been heard or recorded, the next one would be dropped or find nothing new.
            QCOMPARE(rig.coordinator->state(), AnnouncerState::idle());
            QCOMPARE(rig.engine->spoken().size(), spokenBefore);
            QCOMPARE(rig.store->lastGather(), std::nullopt);
            QVERIFY(rig.announce(AnnounceReason::manual) != 0);
            QCOMPARE(rig.spoken().size(), 1);
            QVERIFY(rig.spoken().last().contains(u"A story"_qs));
            break;
        }
        case Kind::gathering:
            // The run the first click found goes on to be heard.
            QTRY_COMPARE_WITH_TIMEOUT(rig.engine->spoken().size(), spokenBefore + 1, 10000);
            QVERIFY(rig.coordinator->lastBriefing().contains(u"A story"_qs));
            break;
        default: {
            // A stop the first click left pending would come at the double-click interval: a
            // precise timer started after it, a little longer, fires after it would have.
            const int interval = QGuiApplication::styleHints()->mouseDoubleClickInterval();
            bool past = false;
            QTimer::singleShot(interval * 21 / 20 + 50, Qt::PreciseTimer, [&past] { past = true; });
            QTRY_VERIFY_WITH_TIMEOUT(past, 10000);
            QCOMPARE(rig.engine->stops(), 0);
            QVERIFY(rig.speaker.isSpeaking());
            QCOMPARE(rig.coordinator->state().kind, Kind::speaking);
        }
        }
        QCOMPARE(rig.settingsOpened, 1);
    }

    void menuByState_data()
    {
        QTest::addColumn<AnnouncerState>("state");
        QTest::addColumn<std::optional<Instant>>("lastGather");
        QTest::addColumn<bool>("compact");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("sizeEntry");

        const std::optional<Instant> none;
        QTest::newRow("idle, never gathered")
            << AnnouncerState::idle() << none << false << u"Ready"_qs << u"Minimise Bubble"_qs;
        QTest::newRow("idle, gathered 5 minutes ago")
            << AnnouncerState::idle() << std::optional<Instant>(now - 5min - 20s) << false
            << u"Last gather 5 min. ago"_qs << u"Minimise Bubble"_qs;
        QTest::newRow("idle, gathered 3 hours ago, compact")
            << AnnouncerState::idle() << std::optional<Instant>(now - 3h) << true
            << u"Last gather 3 hr. ago"_qs << u"Expand Bubble"_qs;
        QTest::newRow("gathering")
            << AnnouncerState::gathering() << std::optional<Instant>(now - 3h) << false
            << u"Gathering headlines…"_qs << u"Minimise Bubble"_qs;
        QTest::newRow("speaking") << AnnouncerState::speaking() << none << true
                                  << u"Speaking — click the orb to stop"_qs << u"Expand Bubble"_qs;
        // An ampersand in the message is shown, not taken as a mnemonic.
        QTest::newRow("failed") << AnnouncerState::failed(u"Feeds & DNS down"_qs) << none << false
                                << u"Problem: Feeds && DNS down"_qs << u"Minimise Bubble"_qs;
    }
    void menuByState()
    {
        QFETCH(AnnouncerState, state);
        QFETCH(std::optional<Instant>, lastGather);
        QFETCH(bool, compact);
        QFETCH(QString, status);
        QFETCH(QString, sizeEntry);

        Rig rig;
        if (lastGather) {
            rig.clock.set(*lastGather);
            rig.store->record({}, {}, false);
            rig.clock.set(now);
        }
        rig.settings->setBubbleCompact(compact);
        rig.controller->show();
        rig.coordinator->setState(state);

        // The commands are the status menu's, with its shortcuts and its rule for Stop.
        const std::unique_ptr<QMenu> menu = rig.controller->buildMenu();
        const QString stop = state.kind == Kind::idle || state.kind == Kind::failed
                                 ? u"(off) Stop Speaking"_qs
                                 : u"Stop Speaking"_qs;
        const QStringList expected{u"(off) "_qs + status,
                                   u"-"_qs,
                                   u"Announce Latest Headlines"_qs,
                                   u"Announce Everything from Today"_qs,
                                   u"Replay Last Briefing"_qs,
                                   stop,
                                   u"-"_qs,
                                   u"(off) No headlines yet"_qs,
                                   u"-"_qs,
                                   sizeEntry,
                                   u"Hide Bubble"_qs,
                                   u"Reset Bubble Position"_qs,
                                   u"-"_qs,
                                   u"Settings… [Ctrl+,]"_qs,
                                   u"Quit Vardelle [Ctrl+Q]"_qs};
        QCOMPARE(titles(*menu), expected);
    }

    // A headline on the watch list is marked with its own icon, and its tooltip names the term.
    void watchedHeadlinesAreMarked()
    {
        QList<NewsItem> items{headline(1, NewsCategory::malware),
                              headline(2, NewsCategory::malware),
                              headline(3, NewsCategory::threatIntel)};
        items[1].summary = u"Ivanti's gateway & more"_qs;
        // Two terms match; the one named is the first of the list, not the first in the text.
        items[2].summary = u"Ivanti's gateway and Citrix ADC"_qs;
        // Without a summary the source stands alone.
        items.append(headline(4, NewsCategory::threatIntel));
        items[3].title = u"Ivanti patches"_qs;
        items[3].summary = u" "_qs;
        Rig rig(items);
        rig.settings->setWatchTerms({u"Citrix"_qs, u" ivanti "_qs});

        const std::unique_ptr<QMenu> menu = rig.controller->buildMenu();
        QAction* recent = rig.entry(*menu, u"Recent Headlines"_qs);
        QVERIFY(recent && recent->menu());
        const QList<QAction*> entries = recent->menu()->actions();
        QCOMPARE(entries.size(), 4);
        QTextDocument tip;
        const auto bare = std::find_if(entries.cbegin(), entries.cend(), [](const QAction* entry) {
            return entry->text().contains(u"Ivanti patches"_qs);
        });
        QVERIFY(bare != entries.cend());
        tip.setHtml((*bare)->toolTip());
        QCOMPARE(tip.toPlainText(), u"On your watch list: ivanti\n\nSource"_qs);
        tip.setHtml(entries[1]->toolTip());
        QCOMPARE(tip.toPlainText(),
                 u"On your watch list: ivanti\n\nSource — Ivanti's gateway & more"_qs);
        tip.setHtml(entries[2]->toolTip());
        QCOMPARE(tip.toPlainText(),
                 u"On your watch list: Citrix\n\nSource — Ivanti's gateway and Citrix ADC"_qs);
        tip.setHtml(entries[0]->toolTip());
        QVERIFY(!tip.toPlainText().contains(u"watch list"_qs));
        QVERIFY(entries[0]->icon().pixmap(32).toImage() != entries[1]->icon().pixmap(32).toImage());
    }

    // Reports of one event from several feeds are listed once, by the earliest; its tooltip
    // names the other feeds.
    void oneEventListedOnce()
    {
        QList<NewsItem> items{headline(1), headline(2), headline(3)};
        items[0].title = u"Hackers fooled Cognizant help desk, says Clorox in $380M lawsuit"_qs;
        items[0].source = u"BleepingComputer"_qs;
        items[1].title = u"Clorox Sues Cognizant for $380 Million Over 2023 Hack"_qs;
        items[1].source = u"SecurityWeek"_qs;
        items[1].published = now - 2h;
        Rig rig(items);

        const std::unique_ptr<QMenu> menu = rig.controller->buildMenu();
        const QList<QAction*> entries = rig.entry(*menu, u"Recent Headlines"_qs)->menu()->actions();
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0]->text(), items[1].title);
        QCOMPARE(entries[1]->text(), items[2].title);
        QTextDocument tip;
        tip.setHtml(entries[0]->toolTip());
        QCOMPARE(tip.toPlainText(),
                 u"Also reported by BleepingComputer\n\nSecurityWeek — Summary"_qs);
        tip.setHtml(entries[1]->toolTip());
        QCOMPARE(tip.toPlainText(), u"Source — Summary"_qs);
    }

    // Up to eight of the last stories, in order, as plain text, with the category's icon; only
    // web links open, through the opener.
    void recentHeadlines()
    {
        QList<NewsItem> items;
        for (int n = 1; n <= 10; ++n)
            items.append(headline(n, allNewsCategories[n % 3]));
        items[0].title = u"Q&A: <b>patch</b>\tnow"_qs;
        items[0].summary = u"<i>Fix</i> & reboot"_qs;
        items[1].link = QString();
        items[2].link = u"javascript:alert(1)"_qs;
        items[3].link = u"file:///etc/passwd"_qs;
        items[4].link = u"not a link at all"_qs;
        items[5].link = u"HTTP://Example.org/upper"_qs;
        Rig rig(items);
        rig.coordinator->setState(AnnouncerState::speaking());

        const std::unique_ptr<QMenu> menu = rig.controller->buildMenu();
        QAction* recent = rig.entry(*menu, u"Recent Headlines"_qs);
        QVERIFY(recent && recent->menu() && recent->isEnabled());
        const QList<QAction*> entries = recent->menu()->actions();
        QCOMPARE(entries.size(), 8);

        QCOMPARE(entries[0]->text(), u"Q&&A: <b>patch</b> now"_qs);
        QTextDocument tip;
        tip.setHtml(entries[0]->toolTip());
        QCOMPARE(tip.toPlainText(), u"Source — <i>Fix</i> & reboot"_qs);
        for (int n = 1; n < 8; ++n)
            QCOMPARE(entries[n]->text(), items[n].title);

        const QList<bool> enabled{true, false, false, false, false, true, true, true};
        for (int n = 0; n < 8; ++n)
            QCOMPARE(entries[n]->isEnabled(), enabled[n]);

        for (QAction* entry : entries) {
            if (entry->isEnabled())
                entry->trigger();
        }
        QCOMPARE(
            rig.opened,
            (QList<QUrl>{QUrl(u"https://example.org/1"_qs), QUrl(u"http://example.org/upper"_qs),
                         QUrl(u"https://example.org/7"_qs), QUrl(u"https://example.org/8"_qs)}));

        // Each category has its own icon.
        const QImage first = entries[0]->icon().pixmap(32).toImage();
        const QImage second = entries[1]->icon().pixmap(32).toImage();
        const QImage third = entries[2]->icon().pixmap(32).toImage();
        QVERIFY(!first.isNull());
        QVERIFY(first != second && second != third && first != third);
        QCOMPARE(entries[3]->icon().pixmap(32).toImage(), first);
    }

    // A headline's tooltip reads as lines of text, not as a tall narrow column.
    void headlineToolTipShape_data()
    {
        QTest::addColumn<QString>("summary");
        QTest::newRow("short") << u"Patch now."_qs;
        QTest::newRow("long") << u"A critical vulnerability in a widely deployed VPN appliance "
                                 "is being exploited in the wild, letting attackers run code "
                                 "without logging in; the vendor has released fixes and urges "
                                 "customers to patch at once and look for signs of compromise."_qs;
    }
    void headlineToolTipShape()
    {
        QFETCH(QString, summary);
        NewsItem item = headline(1);
        item.source = u"BleepingComputer"_qs;
        item.summary = summary;
        Rig rig({item});
        const std::unique_ptr<QMenu> menu = rig.controller->buildMenu();
        const QString tip =
            rig.entry(*menu, u"Recent Headlines"_qs)->menu()->actions()[0]->toolTip();
        QWidget anchor;
        anchor.show();
        QToolTip::showText(QPoint(10, 10), tip, &anchor);
        QTRY_VERIFY(shownToolTip());
        const QLabel* label = shownToolTip();
        QVERIFY2(label->width() >= 3 * label->height(),
                 qPrintable(u"%1 x %2"_qs.arg(label->width()).arg(label->height())));
        QToolTip::hideText();
    }

    // A long headline read aloud or listed is cut short with an ellipsis, so that the menu keeps
    // a readable width; the whole text is in the entry's tooltip.
    void longTitlesAreCut()
    {
        const QString title =
            u"CISA Adds Three Known Exploited Vulnerabilities to Catalog: Multi-Vendor Gateway "
            "Appliance Authentication Bypass, Path Traversal and Code Execution Flaws Under "
            "Active Attack"_qs;
        Rig rig;
        rig.serve(u"bleepingcomputer"_qs, {{u"a"_qs, now - 1h, title}});
        rig.announce(AnnounceReason::manual);
        rig.engine->finish(rig.engine->lastId()); // the opening; the story follows
        QTRY_VERIFY(rig.coordinator->reading() && rig.coordinator->reading()->part.story);

        const std::unique_ptr<QMenu> menu = rig.controller->buildMenu();
        const QFontMetrics metrics(menu->font());
        const int readable = metrics.averageCharWidth() * 80;
        QVERIFY2(menu->sizeHint().width() <= readable,
                 qPrintable(QString::number(menu->sizeHint().width())));
        QAction* recent = rig.entry(*menu, u"Recent Headlines"_qs);
        QVERIFY(recent && recent->menu());
        QVERIFY(recent->menu()->sizeHint().width() <= readable);

        const QAction* status = menu->actions().first();
        const QAction* headline = recent->menu()->actions().first();
        QTextDocument tip;
        for (const QAction* entry : {status, headline}) {
            QVERIFY2(entry->text().endsWith(u'…'), qPrintable(entry->text()));
            tip.setHtml(entry->toolTip());
            QVERIFY2(tip.toPlainText().simplified().contains(title), qPrintable(tip.toPlainText()));
        }
        QVERIFY(menu->toolTipsVisible());
    }

    // "Announce Everything from Today" gathers from local midnight, "Announce Latest Headlines"
    // from the last gather: a story of this morning is new only to the first.
    void announceEntries_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("hearsTheMorningStory");

        QTest::newRow("latest") << u"Announce Latest Headlines"_qs << false;
        QTest::newRow("today") << u"Announce Everything from Today"_qs << true;
    }
    void announceEntries()
    {
        QFETCH(QString, entry);
        QFETCH(bool, hearsTheMorningStory);

        Rig rig;
        const FeedSource feed = FeedSource::catalog().first();
        rig.serve(feed.id, {{u"m1"_qs, utc(2026, 12, 10, 6, 0), u"Morning story"_qs}});
        // The last check at 11:00 left the morning story out of its briefing (its cap): the
        // latest headlines pass over it, everything from today offers it again.
        rig.clock.set(utc(2026, 12, 10, 11, 0));
        rig.store->recordGather({u"m1"_qs});
        rig.clock.set(now);

        QSignalSpy spoken(rig.coordinator.get(), &AppCoordinator::speaking);
        rig.trigger(entry);
        QTRY_COMPARE_WITH_TIMEOUT(spoken.count(), 1, 20000);
        const QString text = spoken.first().at(1).toString();
        QCOMPARE(text.contains(u"Morning story"_qs), hearsTheMorningStory);
        if (!hearsTheMorningStory)
            QCOMPARE(text, AppCoordinator::upToDateMessage);
    }

    void shellEntries()
    {
        Rig rig;
        rig.controller->show();

        QSignalSpy spoken(rig.coordinator.get(), &AppCoordinator::speaking);
        rig.trigger(u"Replay Last Briefing"_qs);
        QCOMPARE(spoken.count(), 1);
        QCOMPARE(spoken.first().at(1).toString(), AppCoordinator::nothingToReplayMessage);

        QVERIFY(rig.speaker.isSpeaking());
        rig.trigger(u"Stop Speaking"_qs);
        QVERIFY(!rig.speaker.isSpeaking());
        QCOMPARE(rig.coordinator->state(), AnnouncerState::idle());

        rig.trigger(u"Settings…"_qs);
        QCOMPARE(rig.settingsOpened, 1);
        rig.trigger(u"Quit Vardelle"_qs);
        QCOMPARE(rig.quits, 1);

        rig.trigger(u"Hide Bubble"_qs);
        QVERIFY(!rig.controller->isVisible());
        QCOMPARE(rig.settings->bubbleHidden(), true);
        rig.controller->show();
        QVERIFY(rig.controller->isVisible());
        QCOMPARE(rig.settings->bubbleHidden(), false);
    }

    // Reset returns the bubble to the default corner even from a stored place on screen.
    void resetPosition()
    {
        Rig rig;
        const QRect laptop = rig.screens.first();
        rig.store_({100, 300});
        rig.controller->show();
        QCOMPARE(rig.frame().topLeft(), QPoint(100, 300));

        rig.trigger(u"Reset Bubble Position"_qs);
        QCOMPARE(rig.frame().topLeft(), corner(laptop, normal));
        QCOMPARE(rig.stored(), corner(laptop, normal));
    }

    void menuProviderOutlivesTheController()
    {
        Rig rig;
        rig.controller->show();
        BubblePanel* panel = rig.controller->panel();
        auto provider = rig.controller->bubbleWidget()->menuProvider;
        auto click = rig.controller->bubbleWidget()->onClick;
        QPointer<BubblePanel> guard(panel);
        rig.controller.reset();
        QVERIFY(!guard); // the panel goes with the controller
        QVERIFY(provider()->actions().isEmpty());
        click(); // nothing happens
        QCoreApplication::processEvents();
        QCOMPARE(rig.coordinator->state(), AnnouncerState::idle());
    }
};

QTEST_MAIN(BubbleControllerTest)
#include "tst_bubblecontroller.moc"
