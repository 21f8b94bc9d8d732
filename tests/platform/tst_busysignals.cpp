#include "linux/busy/FullScreenSignal.h"
#include "linux/busy/NotificationInhibitSignal.h"
#include "linux/busy/PortalBannerSignal.h"
#include "support/PrivateBus.h"
#include "support/PrivateX.h"
#include "system/BriefingHold.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/prctl.h>
#include <unistd.h>

using namespace vardelle;
using namespace Qt::StringLiterals;

namespace {

constexpr int patience = 30000; // ms; only a bound on waiting, never a requirement

const QString notificationService = u"org.freedesktop.Notifications"_s;
const QString notificationPath = u"/org/freedesktop/Notifications"_s;
const QString portalService = u"org.freedesktop.portal.Desktop"_s;
const QString portalPath = u"/org/freedesktop/portal/desktop"_s;
const QString portalInterface = u"org.freedesktop.portal.Settings"_s;
const QString bannersNamespace = u"org.gnome.desktop.notifications"_s;
const QString bannersKey = u"show-banners"_s;

// A notification server with do not disturb; the property is read through QtDBus's own
// org.freedesktop.DBus.Properties.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
    Q_PROPERTY(bool Inhibited READ inhibited)

public:
    bool inhibited() const { return m_inhibited; }
    void setInhibited(bool on, QDBusConnection& bus)
    {
        m_inhibited = on;
        QDBusMessage changed = QDBusMessage::createSignal(
            notificationPath, u"org.freedesktop.DBus.Properties"_s, u"PropertiesChanged"_s);
        changed.setArguments(
            {notificationService, QVariantMap{{u"Inhibited"_s, on}}, QStringList()});
        bus.send(changed);
    }

    bool m_inhibited = false;
};

// The desktop portal's settings with GNOME's banner switch. An old portal knows only Read,
// which wraps the value in one more variant.
class FakePortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    void setBanners(bool on, QDBusConnection& bus)
    {
        banners = on;
        QDBusMessage changed =
            QDBusMessage::createSignal(portalPath, portalInterface, u"SettingChanged"_s);
        changed.setArguments({bannersNamespace, bannersKey, QVariant::fromValue(QDBusVariant(on))});
        bus.send(changed);
    }

    bool banners = true;
    bool old = false;

public slots:
    QDBusVariant ReadOne(const QString& ns, const QString& key)
    {
        if (old) {
            sendErrorReply(QDBusError::UnknownMethod, u"no ReadOne here"_s);
            return {};
        }
        return value(ns, key);
    }
    QDBusVariant Read(const QString& ns, const QString& key)
    {
        return QDBusVariant(QVariant::fromValue(value(ns, key)));
    }

private:
    QDBusVariant value(const QString& ns, const QString& key)
    {
        if (ns != bannersNamespace || key != bannersKey) {
            sendErrorReply(u"org.freedesktop.portal.Error.NotFound"_s, u"no such setting"_s);
            return {};
        }
        return QDBusVariant(banners);
    }
};

} // namespace

// A hold of automatic briefings on the full-screen signal of the display `x` runs, counting the
// briefings it lets start.
struct HeldByFullScreen {
    int briefings = 0;
    BriefingHold hold{[this](AnnounceReason) {
        ++briefings;
        return true;
    }};
    FullScreenSignal* sign = nullptr;

    explicit HeldByFullScreen(test::PrivateX& x)
    {
        auto owned = std::make_unique<FullScreenSignal>(x.display);
        sign = owned.get();
        hold.addSignal(std::move(owned));
        hold.start(std::chrono::hours(1));
    }
};

class BusySignalsTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    test::PrivateBus m_bus;
    int m_connections = 0;

    // A fresh connection to the private bus, named `role`.
    QDBusConnection connect(const QString& role)
    {
        return QDBusConnection::connectToBus(m_bus.address(),
                                             role + QString::number(++m_connections));
    }

private slots:
    void initTestCase()
    {
        const QString daemon = QStandardPaths::findExecutable(u"dbus-daemon"_s);
        if (daemon.isEmpty())
            QSKIP("dbus-daemon is not installed (Debian package dbus-daemon or dbus-bin)");
        QVERIFY(m_home.isValid());
        QVERIFY(m_bus.start(m_home.path(), daemon));
    }

    // Do not disturb on when watching starts holds an unlock briefing; when it ends (the switch
    // turns off, or the service leaves the bus) the briefing runs once, and a later busy spell
    // brings it back no more.
    void doNotDisturbHoldsAndReleases_data()
    {
        QTest::addColumn<QString>("server"); // "notifications", "portal", "old portal"
        QTest::addColumn<bool>("leaves");    // released by leaving the bus, not by the switch
        QTest::newRow("notification server, switched off") << u"notifications"_s << false;
        QTest::newRow("notification server leaves") << u"notifications"_s << true;
        QTest::newRow("portal, banners back on") << u"portal"_s << false;
        QTest::newRow("portal leaves") << u"portal"_s << true;
        QTest::newRow("portal before ReadOne") << u"old portal"_s << false;
    }
    void doNotDisturbHoldsAndReleases()
    {
        QFETCH(QString, server);
        QFETCH(bool, leaves);
        const bool notifications = server == u"notifications";
        QDBusConnection fake = connect(u"fake"_s);
        FakeNotifications notifier;
        FakePortal portal;
        portal.old = server == u"old portal";
        const QString service = notifications ? notificationService : portalService;
        // Busy before anyone looks.
        notifier.m_inhibited = true;
        portal.banners = false;
        QVERIFY(fake.registerObject(notifications ? notificationPath : portalPath,
                                    notifications ? static_cast<QObject*>(&notifier) : &portal,
                                    QDBusConnection::ExportAllContents));
        QVERIFY(fake.registerService(service));

        int briefings = 0;
        BriefingHold hold([&briefings](AnnounceReason) {
            ++briefings;
            return true;
        });
        QDBusConnection app = connect(u"app"_s);
        std::unique_ptr<BusySignal> sign;
        if (notifications)
            sign = std::make_unique<NotificationInhibitSignal>(app);
        else
            sign = std::make_unique<PortalBannerSignal>(app);
        BusySignal* watched = sign.get();
        hold.addSignal(std::move(sign));
        hold.start(std::chrono::hours(1));
        QTRY_VERIFY_WITH_TIMEOUT(watched->isKnown(), patience);
        QVERIFY(watched->isBusy());

        hold.request(AnnounceReason::unlock);
        hold.request(AnnounceReason::wake);
        QCOMPARE(briefings, 0);

        if (leaves)
            QVERIFY(fake.unregisterService(service));
        else if (notifications)
            notifier.setInhibited(false, fake);
        else
            portal.setBanners(true, fake);
        QTRY_COMPARE_WITH_TIMEOUT(briefings, 1, patience);
        QVERIFY(!watched->isBusy());

        // Busy and free again: nothing was asked for meanwhile, so nothing runs.
        if (leaves) {
            QVERIFY(fake.registerService(service));
        } else if (notifications) {
            notifier.setInhibited(true, fake);
        } else {
            portal.setBanners(false, fake);
        }
        QTRY_VERIFY_WITH_TIMEOUT(watched->isBusy(), patience);
        if (notifications)
            notifier.setInhibited(false, fake);
        else
            portal.setBanners(true, fake);
        QTRY_VERIFY_WITH_TIMEOUT(!watched->isBusy(), patience);
        QCOMPARE(briefings, 1);

        fake.unregisterService(service);
        fake.unregisterObject(notifications ? notificationPath : portalPath);
        QDBusConnection::disconnectFromBus(fake.name());
    }

    // Without the services, or with a notification server that has no do not disturb, nothing
    // holds and nothing fails.
    void missingSignsDoNotHold()
    {
        QDBusConnection fake = connect(u"plain"_s);
        QObject plainServer; // no Inhibited property
        QVERIFY(fake.registerObject(notificationPath, &plainServer));
        QVERIFY(fake.registerService(notificationService));

        int briefings = 0;
        BriefingHold hold([&briefings](AnnounceReason) {
            ++briefings;
            return true;
        });
        QDBusConnection app = connect(u"app"_s);
        auto notifications = std::make_unique<NotificationInhibitSignal>(app);
        auto portal = std::make_unique<PortalBannerSignal>(app);
        auto noX = std::make_unique<FullScreenSignal>(":999");
        const QList<BusySignal*> signs{notifications.get(), portal.get(), noX.get()};
        hold.addSignal(std::move(notifications));
        hold.addSignal(std::move(portal));
        hold.addSignal(std::move(noX));
        hold.start(std::chrono::hours(1));
        for (BusySignal* sign : signs) {
            QTRY_VERIFY_WITH_TIMEOUT(sign->isKnown(), patience);
            QVERIFY(!sign->isBusy());
        }
        hold.request(AnnounceReason::launch);
        QCOMPARE(briefings, 1);

        fake.unregisterService(notificationService);
        QDBusConnection::disconnectFromBus(fake.name());
    }

    // The window in front, as the window manager names it on the root, decides: full screen
    // holds; leaving full screen, another window in front, or none, releases.
    void fullScreenWindowInFront()
    {
        test::PrivateX x;
        if (!x.start())
            QSKIP("Xvfb is not installed or did not start");
        const xcb_window_t film = x.window();
        const xcb_window_t editor = x.window();
        x.setFullScreen(film, true);
        x.setFullScreen(editor, false);
        x.activate(film);

        HeldByFullScreen held(x);
        int& briefings = held.briefings;
        BriefingHold& hold = held.hold;
        FullScreenSignal* sign = held.sign;
        QVERIFY(sign->isKnown());
        QVERIFY(sign->isBusy());
        hold.request(AnnounceReason::unlock);
        QCOMPARE(briefings, 0);

        x.activate(editor);
        QTRY_COMPARE_WITH_TIMEOUT(briefings, 1, patience);
        x.activate(film);
        QTRY_VERIFY_WITH_TIMEOUT(sign->isBusy(), patience);
        hold.request(AnnounceReason::wake);
        x.setFullScreen(film, false); // the film leaves full screen in front
        QTRY_COMPARE_WITH_TIMEOUT(briefings, 2, patience);
        x.setFullScreen(film, true);
        QTRY_VERIFY_WITH_TIMEOUT(sign->isBusy(), patience);
        x.activate(XCB_WINDOW_NONE);
        QTRY_VERIFY_WITH_TIMEOUT(!sign->isBusy(), patience);
        QCOMPARE(briefings, 2);
    }

    // Some window managers go on naming the window in front after it is destroyed: a held
    // briefing starts once the full-screen window is gone.
    void destroyedWindowInFrontReleases()
    {
        test::PrivateX x;
        if (!x.start())
            QSKIP("Xvfb is not installed or did not start");
        const xcb_window_t film = x.window();
        x.setFullScreen(film, true);
        x.activate(film);

        HeldByFullScreen held(x);
        int& briefings = held.briefings;
        BriefingHold& hold = held.hold;
        FullScreenSignal* sign = held.sign;
        QVERIFY(sign->isBusy());
        hold.request(AnnounceReason::launch);
        QCOMPARE(briefings, 0);

        xcb_destroy_window(x.c, film);
        xcb_flush(x.c);
        QTRY_COMPARE_WITH_TIMEOUT(briefings, 1, patience);
        QVERIFY(!sign->isBusy());
    }
};

QTEST_GUILESS_MAIN(BusySignalsTest)
#include "tst_busysignals.moc"
