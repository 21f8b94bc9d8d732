#include "linux/busy/NotificationInhibitSignal.h"

namespace vardelle {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString inhibited = QStringLiteral("Inhibited");

} // namespace

NotificationInhibitSignal::NotificationInhibitSignal(QObject* parent)
    : NotificationInhibitSignal(QDBusConnection::sessionBus(), parent)
{
}

NotificationInhibitSignal::NotificationInhibitSignal(const QDBusConnection& bus, QObject* parent)
    : DBusBusySignal(bus, service, parent)
{
}

void NotificationInhibitSignal::subscribe()
{
    bus().connect(service, path, properties, QStringLiteral("PropertiesChanged"), this,
                  SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
}

QDBusMessage NotificationInhibitSignal::readCall() const
{
    QDBusMessage get =
        QDBusMessage::createMethodCall(service, path, properties, QStringLiteral("Get"));
    get.setArguments({interface, inhibited});
    return get;
}

void NotificationInhibitSignal::replied(const QDBusMessage&, const QDBusMessage& reply)
{
    const bool answered =
        reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
    setBusy(answered && booleanIn(reply.arguments().constFirst()).value_or(false));
}

void NotificationInhibitSignal::onPropertiesChanged(const QString& changedInterface,
                                                    const QVariantMap& changed,
                                                    const QStringList& invalidated)
{
    if (changedInterface != interface)
        return;
    if (changed.contains(inhibited))
        setBusy(booleanIn(changed.value(inhibited)).value_or(false));
    else if (invalidated.contains(inhibited))
        read(readCall());
}

} // namespace vardelle
