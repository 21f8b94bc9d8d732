#include "linux/busy/PortalBannerSignal.h"

namespace vardelle {

namespace {

const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString interface = QStringLiteral("org.freedesktop.portal.Settings");
const QString settingNamespace = QStringLiteral("org.gnome.desktop.notifications");
const QString settingKey = QStringLiteral("show-banners");
const QString readOne = QStringLiteral("ReadOne");

QDBusMessage readWith(const QString& method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments({settingNamespace, settingKey});
    return call;
}

} // namespace

PortalBannerSignal::PortalBannerSignal(QObject* parent)
    : PortalBannerSignal(QDBusConnection::sessionBus(), parent)
{
}

PortalBannerSignal::PortalBannerSignal(const QDBusConnection& bus, QObject* parent)
    : DBusBusySignal(bus, service, parent)
{
}

void PortalBannerSignal::subscribe()
{
    bus().connect(service, path, interface, QStringLiteral("SettingChanged"), this,
                  SLOT(onSettingChanged(QString, QString, QDBusVariant)));
}

QDBusMessage PortalBannerSignal::readCall() const
{
    return readWith(readOne);
}

void PortalBannerSignal::replied(const QDBusMessage& call, const QDBusMessage& reply)
{
    if (reply.type() == QDBusMessage::ErrorMessage && call.member() == readOne &&
        reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod")) {
        read(readWith(QStringLiteral("Read"))); // a portal from before ReadOne
        return;
    }
    const bool answered =
        reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
    const std::optional<bool> banners =
        answered ? booleanIn(reply.arguments().constFirst()) : std::nullopt;
    setBusy(banners == false);
}

void PortalBannerSignal::onSettingChanged(const QString& changedNamespace, const QString& key,
                                          const QDBusVariant& value)
{
    if (changedNamespace == settingNamespace && key == settingKey)
        setBusy(booleanIn(value.variant()) == false);
}

} // namespace vardelle
