#pragma once

#include "linux/busy/DBusBusySignal.h"

#include <QDBusVariant>

namespace vardelle {

// Do not disturb as GNOME keeps it: the setting `show-banners` of `org.gnome.desktop.
// notifications` turned false, read through the desktop portal's org.freedesktop.portal.Settings
// (ReadOne, or Read on portals older than it) and followed through SettingChanged. Without the
// portal or the setting, never busy.
class PortalBannerSignal final : public DBusBusySignal {
    Q_OBJECT

public:
    // On the process's session bus.
    explicit PortalBannerSignal(QObject* parent = nullptr);
    PortalBannerSignal(const QDBusConnection& bus, QObject* parent = nullptr);

protected:
    void subscribe() override;
    QDBusMessage readCall() const override;
    void replied(const QDBusMessage& call, const QDBusMessage& reply) override;

private slots:
    void onSettingChanged(const QString& settingNamespace, const QString& key,
                          const QDBusVariant& value);
};

} // namespace vardelle
