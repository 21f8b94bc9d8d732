#include "linux/busy/DBusBusySignal.h"

#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace vardelle {

DBusBusySignal::DBusBusySignal(const QDBusConnection& bus, const QString& service, QObject* parent)
    : BusySignal(parent)
    , m_bus(bus)
    , m_service(service)
{
}

DBusBusySignal::~DBusBusySignal() = default;

void DBusBusySignal::start()
{
    if (m_started)
        return;
    m_started = true;
    if (!m_bus.isConnected()) {
        setBusy(false);
        return;
    }
    m_watcher =
        new QDBusServiceWatcher(m_service, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                ++m_generation;
                if (owner.isEmpty())
                    setBusy(false);
                else
                    read(readCall());
            });
    subscribe();
    read(readCall());
}

void DBusBusySignal::read(QDBusMessage call)
{
    call.setAutoStartService(false);
    auto* pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call, readTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, pending, call, generation = m_generation] {
                pending->deleteLater();
                if (generation == m_generation)
                    replied(call, pending->reply());
            });
}

std::optional<bool> DBusBusySignal::booleanIn(QVariant value)
{
    while (value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    if (value.metaType() != QMetaType::fromType<bool>())
        return std::nullopt;
    return value.toBool();
}

} // namespace vardelle
