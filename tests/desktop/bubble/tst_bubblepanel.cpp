#include "bubble/BubblePanel.h"
#include "bubble/BubbleWidget.h"

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QStyleHints>
#include <QtTest>

#include <memory>

using namespace vardelle;

namespace {

// A shown panel with its container, counting what the container reports. Mouse events carry the
// time stamps the test gives them, so double clicks do not depend on the test's pace.
struct Bubble {
    BubblePanel panel;
    BubbleWidget* view = new BubbleWidget;
    int clicks = 0;
    int doubleClicks = 0;
    int menusBuilt = 0;
    QSignalSpy moved{view, &BubbleWidget::moved};
    quint64 time = 10'000;

    explicit Bubble(bool compact = false)
        : panel(BubblePanel::side(compact))
    {
        panel.setWidget(view);
        view->onClick = [this] { ++clicks; };
        view->onDoubleClick = [this] { ++doubleClicks; };
        panel.move(300, 200);
        panel.show();
    }

    QPointF global(QPointF local) const { return view->mapToGlobal(local); }

    void send(QEvent::Type type, QPointF globalPosition, Qt::MouseButton button,
              Qt::MouseButtons buttons)
    {
        const QPointF local = globalPosition - view->mapToGlobal(QPointF(0, 0));
        QMouseEvent event(type, local, local, globalPosition, button, buttons, Qt::NoModifier);
        event.setTimestamp(time);
        QApplication::sendEvent(view, &event);
    }
    void press(QPointF at, Qt::MouseButton button = Qt::LeftButton)
    {
        send(QEvent::MouseButtonPress, at, button, button);
    }
    void move(QPointF to) { send(QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton); }
    void release(QPointF at, Qt::MouseButton button = Qt::LeftButton)
    {
        send(QEvent::MouseButtonRelease, at, button, Qt::NoButton);
    }
    void click(QPointF at)
    {
        press(at);
        release(at);
    }
};

QPointF centreOf(const Bubble& bubble)
{
    return bubble.global(QPointF(bubble.view->width() / 2.0, bubble.view->height() / 2.0));
}

} // namespace

class BubblePanelTest : public QObject {
    Q_OBJECT

private slots:
    void sizes()
    {
        QCOMPARE(BubblePanel::orbDiameter(false), 96);
        QCOMPARE(BubblePanel::orbDiameter(true), 44);
        QCOMPARE(BubblePanel::side(false), 182); // 182.4
        QCOMPARE(BubblePanel::side(true), 84);   // 83.6
    }

    // What keeps the bubble from taking the focus or activating the application is the window's
    // kind; the offscreen platform activates every window it shows, so only the kind is checked
    // here.
    void windowKind()
    {
        Bubble bubble;
        const Qt::WindowFlags flags = bubble.panel.windowFlags();
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
        for (Qt::WindowType flag :
             {Qt::FramelessWindowHint, Qt::WindowStaysOnTopHint, Qt::WindowDoesNotAcceptFocus})
            QVERIFY(flags.testFlag(flag));
        QVERIFY(bubble.panel.testAttribute(Qt::WA_ShowWithoutActivating));
        QVERIFY(bubble.panel.testAttribute(Qt::WA_TranslucentBackground));
        QCOMPARE(bubble.panel.focusPolicy(), Qt::NoFocus);
        // A click never gives the bubble the focus; the keyboard can.
        QCOMPARE(bubble.view->focusPolicy(), Qt::TabFocus);
    }

    // Assistive technologies see one button named "Vardelle" that tells its state, with nothing
    // inside; its press action is a click, and it can open the context menu.
    void accessibleButton()
    {
        Bubble bubble;
        new QWidget(bubble.view); // the orb, a picture of the button
        bubble.view->setAccessibleDescription(u"Gathering"_qs);
        bubble.view->menuProvider = [&bubble] {
            ++bubble.menusBuilt;
            auto menu = std::make_unique<QMenu>();
            menu->addAction(u"entry"_qs);
            return menu;
        };
        QAccessibleInterface* button = QAccessible::queryAccessibleInterface(bubble.view);
        QVERIFY(button);
        QCOMPARE(button->role(), QAccessible::Button);
        QCOMPARE(button->text(QAccessible::Name), u"Vardelle"_qs);
        QCOMPARE(button->text(QAccessible::Description), u"Gathering"_qs);
        QCOMPARE(button->childCount(), 0);
        QVERIFY(button->state().focusable);
        QAccessibleActionInterface* actions = button->actionInterface();
        QVERIFY(actions);
        QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
        actions->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(bubble.clicks, 1);
        actions->doAction(QAccessibleActionInterface::showMenuAction());
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        menu->close();
        QCOMPARE(bubble.menusBuilt, 1);
    }

    // With the focus, the keys of a button click it and the keys of a context menu open it,
    // once: the Menu key also comes as a context menu event on X.
    void keyboard_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<bool>("alsoContextEvent");
        QTest::addColumn<int>("clicks");
        QTest::addColumn<int>("menus");
        QTest::newRow("Space") << int(Qt::Key_Space) << Qt::KeyboardModifiers() << false << 1 << 0;
        QTest::newRow("Enter") << int(Qt::Key_Return) << Qt::KeyboardModifiers() << false << 1 << 0;
        QTest::newRow("Menu") << int(Qt::Key_Menu) << Qt::KeyboardModifiers() << false << 0 << 1;
        QTest::newRow("Menu, and its context menu event")
            << int(Qt::Key_Menu) << Qt::KeyboardModifiers() << true << 0 << 1;
        QTest::newRow("Shift+F10")
            << int(Qt::Key_F10) << Qt::KeyboardModifiers(Qt::ShiftModifier) << false << 0 << 1;
        QTest::newRow("F10 alone")
            << int(Qt::Key_F10) << Qt::KeyboardModifiers() << false << 0 << 0;
        QTest::newRow("Ctrl+Space")
            << int(Qt::Key_Space) << Qt::KeyboardModifiers(Qt::ControlModifier) << false << 0 << 0;
    }
    void keyboard()
    {
        QFETCH(int, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(bool, alsoContextEvent);
        QFETCH(int, clicks);
        QFETCH(int, menus);
        Bubble bubble;
        bubble.view->menuProvider = [&bubble] {
            ++bubble.menusBuilt;
            auto menu = std::make_unique<QMenu>();
            menu->addAction(u"entry"_qs);
            return menu;
        };
        QTest::keyClick(bubble.view, Qt::Key(key), modifiers);
        if (alsoContextEvent) {
            const QPoint centre = bubble.view->rect().center();
            QContextMenuEvent event(QContextMenuEvent::Keyboard, centre,
                                    bubble.view->mapToGlobal(centre));
            QApplication::sendEvent(bubble.view, &event);
        }
        QCOMPARE(bubble.clicks, clicks);
        QCOMPARE(bubble.menusBuilt, menus);
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget()))
            menu->close();
    }

    // Only the circle inscribed in the panel takes input; the transparent corners do not.
    void hitTest_data()
    {
        QTest::addColumn<bool>("compact");
        QTest::addColumn<QPointF>("offset"); // from the centre
        QTest::addColumn<bool>("hits");

        for (bool compact : {false, true}) {
            const double r = BubblePanel::side(compact) / 2.0;
            const char* size = compact ? "compact" : "normal";
            QTest::addRow("%s centre", size) << compact << QPointF(0, 0) << true;
            QTest::addRow("%s on the circle", size) << compact << QPointF(-r, 0) << true;
            QTest::addRow("%s inside at 45 degrees", size)
                << compact << QPointF(r * 0.7, r * 0.7) << true;
            QTest::addRow("%s outside at 45 degrees", size)
                << compact << QPointF(r * 0.72, -r * 0.72) << false;
            QTest::addRow("%s corner", size) << compact << QPointF(-r + 1, -r + 1) << false;
        }
    }
    void hitTest()
    {
        QFETCH(bool, compact);
        QFETCH(QPointF, offset);
        QFETCH(bool, hits);

        Bubble bubble(compact);
        bubble.view->menuProvider = [&bubble] {
            ++bubble.menusBuilt;
            return std::unique_ptr<QMenu>();
        };
        const QPointF at = centreOf(bubble) + offset;
        bubble.click(at);
        bubble.time += 5000;
        bubble.press(at, Qt::RightButton);
        bubble.release(at, Qt::RightButton);

        QCOMPARE(bubble.clicks, hits ? 1 : 0);
        QCOMPARE(bubble.menusBuilt, hits ? 1 : 0);
        QCOMPARE(bubble.doubleClicks, 0);
    }

    // |dx| + |dy| below three points stays a click; from three on, the panel follows the
    // pointer, also back inside the three-point area, and the release reports one move.
    void dragThreshold_data()
    {
        QTest::addColumn<QList<QPointF>>("path"); // pointer offsets from the press, in order
        QTest::addColumn<bool>("drags");

        QTest::newRow("2 right, 0.9 up") << QList<QPointF>{{2, -0.9}} << false;
        QTest::newRow("2 right, 1 up") << QList<QPointF>{{2, -1}} << true;
        QTest::newRow("3 down") << QList<QPointF>{{0, 3}} << true;
        QTest::newRow("wobble under the threshold")
            << QList<QPointF>{{1, 1}, {-1, 1.5}, {0, -2.9}, {0, 0}} << false;
        QTest::newRow("out and back to the start")
            << QList<QPointF>{{40, 25}, {-12, 7}, {1, 0}, {0, 0}} << true;
    }
    void dragThreshold()
    {
        QFETCH(QList<QPointF>, path);
        QFETCH(bool, drags);

        Bubble bubble;
        const QPoint origin = bubble.panel.pos();
        const QPointF start = centreOf(bubble);
        bubble.press(start);
        bool dragging = false;
        for (const QPointF& offset : path) {
            bubble.move(start + offset);
            dragging = dragging || std::abs(offset.x()) + std::abs(offset.y()) >= 3;
            // The pointer keeps its place on the bubble.
            QCOMPARE(bubble.panel.pos(), dragging ? origin + offset.toPoint() : origin);
        }
        bubble.release(start + path.last());

        QCOMPARE(bubble.moved.count(), drags ? 1 : 0);
        QCOMPARE(bubble.clicks, drags ? 0 : 1);
        if (drags)
            QCOMPARE(bubble.moved.first().first().value<QWidget*>(), &bubble.panel);
    }

    // The second press of a double click may come as a press plus a double-click event with the
    // same time stamp, or as the double-click event alone; both count once.
    void clickCounts_data()
    {
        QTest::addColumn<int>("presses");
        QTest::addColumn<bool>("withDoubleClickEvents");
        QTest::addColumn<bool>("withCompanionPress");
        QTest::addColumn<int>("apart"); // milliseconds between presses, in double-click intervals
        QTest::addColumn<int>("clicks");
        QTest::addColumn<int>("doubleClicks");

        QTest::newRow("single") << 1 << false << false << 0 << 1 << 0;
        QTest::newRow("double") << 2 << false << false << 0 << 1 << 1;
        QTest::newRow("triple") << 3 << false << false << 0 << 1 << 2;
        QTest::newRow("double, press and event") << 2 << true << true << 0 << 1 << 1;
        QTest::newRow("double, event alone") << 2 << true << false << 0 << 1 << 1;
        QTest::newRow("triple, press and events") << 3 << true << true << 0 << 1 << 2;
        QTest::newRow("two slow clicks") << 2 << false << false << 2 << 2 << 0;
    }
    void clickCounts()
    {
        QFETCH(int, presses);
        QFETCH(bool, withDoubleClickEvents);
        QFETCH(bool, withCompanionPress);
        QFETCH(int, apart);
        QFETCH(int, clicks);
        QFETCH(int, doubleClicks);

        Bubble bubble;
        const int interval = QGuiApplication::styleHints()->mouseDoubleClickInterval();
        const QPointF at = centreOf(bubble);
        for (int n = 0; n < presses; ++n) {
            if (n > 0 && withDoubleClickEvents) {
                if (withCompanionPress)
                    bubble.press(at);
                bubble.send(QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
            } else {
                bubble.press(at);
            }
            bubble.time += 20;
            bubble.release(at);
            bubble.time += apart ? apart * interval : 60;
        }
        QCOMPARE(bubble.clicks, clicks);
        QCOMPARE(bubble.doubleClicks, doubleClicks);
    }

    void pressAfterDragStartsNewClicks()
    {
        Bubble bubble;
        const QPointF at = centreOf(bubble);
        bubble.press(at);
        bubble.move(at + QPointF(10, 0));
        bubble.release(at + QPointF(10, 0));
        bubble.time += 10;
        bubble.click(centreOf(bubble));
        QCOMPARE(bubble.moved.count(), 1);
        QCOMPARE(bubble.clicks, 1);
        QCOMPARE(bubble.doubleClicks, 0);
    }

    // The menu is built anew at every request and pops up; no provider, no menu.
    void contextMenu()
    {
        Bubble bubble;
        const QPointF at = centreOf(bubble);
        bubble.press(at, Qt::RightButton);
        bubble.release(at, Qt::RightButton);
        QVERIFY(!QApplication::activePopupWidget());

        QStringList titles{u"first"_qs, u"second"_qs};
        bubble.view->menuProvider = [&] {
            ++bubble.menusBuilt;
            auto menu = std::make_unique<QMenu>();
            menu->addAction(titles.takeFirst());
            return menu;
        };
        for (const QString& expected : {u"first"_qs, u"second"_qs}) {
            bubble.press(at, Qt::RightButton);
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QVERIFY(menu);
            QCOMPARE(menu->actions().first()->text(), expected);
            bubble.release(at, Qt::RightButton);
            menu->close();
        }
        QCOMPARE(bubble.menusBuilt, 2);
        QCOMPARE(bubble.clicks, 0);
    }

    // Clicks on the transparent corners belong to the windows beneath, at every size and with
    // or without a compositor.
    void inputOnlyInsideTheCircle()
    {
        Bubble bubble;
        for (bool compositing : {true, false}) {
            bubble.panel.setCompositing(compositing);
            for (bool compact : {false, true}) {
                const int side = BubblePanel::side(compact);
                bubble.panel.resize(side, side);
                const QRegion input = bubble.panel.inputRegion();
                QVERIFY(input.contains(QPoint(side / 2, side / 2)));
                QVERIFY(input.contains(QPoint(side / 2, 1)));
                QVERIFY(input.contains(QPoint(1, side / 2)));
                QVERIFY(!input.contains(QPoint(2, 2)));
                QVERIFY(!input.contains(QPoint(side - 3, 2)));
                QVERIFY(!input.contains(QPoint(side - 3, side - 3)));
                QVERIFY(!input.contains(QPoint(side + 1, side / 2)));
            }
        }
    }

    // Without a compositor the panel clips itself to its inscribed circle, at every size.
    void roundMaskWithoutCompositor()
    {
        Bubble bubble;
        QVERIFY(bubble.panel.compositing()); // nothing to fall back from off X
        QVERIFY(bubble.panel.mask().isEmpty());

        bubble.panel.setCompositing(false);
        for (bool compact : {false, true}) {
            const int side = BubblePanel::side(compact);
            bubble.panel.resize(side, side);
            const QRegion mask = bubble.panel.mask();
            QVERIFY(mask.contains(QPoint(side / 2, side / 2)));
            QVERIFY(mask.contains(QPoint(side / 2, 1)));
            QVERIFY(!mask.contains(QPoint(2, 2)));
            QVERIFY(!mask.contains(QPoint(side - 3, side - 3)));
            QCOMPARE(bubble.view->size(), QSize(side, side));
        }
        bubble.panel.setCompositing(true);
        QVERIFY(bubble.panel.mask().isEmpty());
    }
};

QTEST_MAIN(BubblePanelTest)
#include "tst_bubblepanel.moc"
