#pragma once

#include "linux/busy/DBusBusySignal.h"

#include <QStringList>
#include <QVariantMap>

namespace vardelle {

// Do not disturb as the notification server tells it: the `Inhibited` property of
// org.freedesktop.Notifications (KDE Plasma and other servers offer it), followed through
// PropertiesChanged. A server without the property is never busy.
class NotificationInhibitSignal final : public DBusBusySignal {
    Q_OBJECT

public:
    // On the process's session bus.
    explicit NotificationInhibitSignal(QObject* parent = nullptr);
    NotificationInhibitSignal(const QDBusConnection& bus, QObject* parent = nullptr);

protected:
    void subscribe() override;
    QDBusMessage readCall() const override;
    void replied(const QDBusMessage& call, const QDBusMessage& reply) override;

private slots:
    void onPropertiesChanged(const QString& interface, const QVariantMap& changed,
                             const QStringList& invalidated);
};

} // namespace vardelle
