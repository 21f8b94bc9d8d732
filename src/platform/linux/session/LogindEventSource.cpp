#include "linux/session/LogindEventSource.h"

#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include <unistd.h>

namespace vardelle {

namespace {

const QString loginService = QStringLiteral("org.freedesktop.login1");
const QString managerPath = QStringLiteral("/org/freedesktop/login1");
const QString managerInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString sessionInterface = QStringLiteral("org.freedesktop.login1.Session");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
// The freedesktop screen saver, and GNOME Shell's own, which sends the same signal.
const QString screenSaverInterfaces[] = {QStringLiteral("org.freedesktop.ScreenSaver"),
                                         QStringLiteral("org.gnome.ScreenSaver")};
const QString activeProperty = QStringLiteral("Active");
// logind's Unlock signal asks the screen locker to unlock; the locker reports that the screen
// is unlocked by setting the session's LockedHint to false.
const QString lockedHintProperty = QStringLiteral("LockedHint");

QDBusMessage managerCall(const QString& method, const QVariantList& arguments)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(loginService, managerPath, managerInterface, method);
    call.setArguments(arguments);
    return call;
}

bool isTrue(const QVariant& value)
{
    return value.metaType() == QMetaType::fromType<bool>() && value.toBool();
}

} // namespace

LogindEventSource::LogindEventSource(QObject* parent)
    : LogindEventSource(QDBusConnection::systemBus(), QDBusConnection::sessionBus(), parent)
{
}

LogindEventSource::LogindEventSource(const QDBusConnection& systemBus,
                                     const QDBusConnection& sessionBus, QObject* parent)
    : SystemEventSource(parent)
    , m_system(systemBus)
    , m_session(sessionBus)
{
}

// QtDBus drops the subscriptions of a destroyed receiver by itself, and pending lookups die with
// their watchers, which are children of this object.
LogindEventSource::~LogindEventSource() = default;

void LogindEventSource::start()
{
    if (m_started)
        return;
    m_started = true;

    if (m_session.isConnected()) {
        // No service and no path: any sender on any object path.
        for (const QString& interface : screenSaverInterfaces) {
            m_session.connect(QString(), QString(), interface, QStringLiteral("ActiveChanged"),
                              this, SLOT(onScreenSaverActiveChanged(bool)));
        }
    }

    if (!m_system.isConnected()) {
        QMetaObject::invokeMethod(this, &LogindEventSource::ready, Qt::QueuedConnection);
        return;
    }
    m_system.connect(loginService, managerPath, managerInterface, QStringLiteral("PrepareForSleep"),
                     this, SLOT(onPrepareForSleep(bool)));

    m_lookups = {
        managerCall(QStringLiteral("GetSessionByPID"), {quint32(::getpid())}),
        managerCall(QStringLiteral("GetSession"), {QStringLiteral("auto")}),
    };
    const QString sessionId = qEnvironmentVariable("XDG_SESSION_ID");
    if (!sessionId.isEmpty())
        m_lookups.append(managerCall(QStringLiteral("GetSession"), {sessionId}));
    lookUpNextCandidate();
}

void LogindEventSource::lookUpNextCandidate()
{
    if (m_lookups.isEmpty()) {
        emit ready();
        return;
    }
    auto* watcher = new QDBusPendingCallWatcher(m_system.asyncCall(m_lookups.takeFirst()), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QDBusObjectPath> reply = *finished;
                if (reply.isError() || reply.value().path().isEmpty()) {
                    lookUpNextCandidate();
                    return;
                }
                followSession(reply.value().path());
            });
}

void LogindEventSource::followSession(const QString& path)
{
    m_lookups.clear();
    m_sessionPath = path;
    m_system.connect(loginService, path, sessionInterface, QStringLiteral("Unlock"), this,
                     SLOT(onSessionUnlock()));
    m_system.connect(loginService, path, sessionInterface, QStringLiteral("Lock"), this,
                     SLOT(onSessionLock()));
    m_system.connect(loginService, path, propertiesInterface, QStringLiteral("PropertiesChanged"),
                     this, SLOT(onSessionPropertiesChanged(QString, QVariantMap, QStringList)));
    emit ready();
}

void LogindEventSource::onSessionUnlock()
{
    emit screenUnlocked();
}

void LogindEventSource::onSessionLock()
{
    emit screenLocked();
}

// logind sends the new value; a property that is only invalidated is read back before it counts.
void LogindEventSource::onSessionPropertiesChanged(const QString& interface,
                                                   const QVariantMap& changed,
                                                   const QStringList& invalidated)
{
    if (interface != sessionInterface)
        return;
    const auto locked = changed.constFind(lockedHintProperty);
    if (locked != changed.constEnd() && locked->metaType() == QMetaType::fromType<bool>()) {
        if (locked->toBool())
            emit screenLocked();
        else
            emit screenUnlocked();
    }
    const auto active = changed.constFind(activeProperty);
    if (active != changed.constEnd()) {
        if (isTrue(*active))
            emit sessionActivated();
    } else if (invalidated.contains(activeProperty)) {
        fetchActive();
    }
}

void LogindEventSource::fetchActive()
{
    QDBusMessage get = QDBusMessage::createMethodCall(loginService, m_sessionPath,
                                                      propertiesInterface, QStringLiteral("Get"));
    get.setArguments({sessionInterface, activeProperty});
    auto* watcher = new QDBusPendingCallWatcher(m_system.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *finished;
                if (!reply.isError() && isTrue(reply.value().variant()))
                    emit sessionActivated();
            });
}

void LogindEventSource::onPrepareForSleep(bool starting)
{
    if (starting)
        emit goingToSleep();
    else
        emit wokeFromSleep();
}

void LogindEventSource::onScreenSaverActiveChanged(bool active)
{
    if (active)
        emit screenSaverStarted();
    else
        emit screenSaverStopped();
}

} // namespace vardelle
