#pragma once

#include "system/BusySignal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QVariant>

#include <optional>

class QDBusServiceWatcher;

namespace vardelle {

// A busy sign read from a D-Bus service: read when watching starts and whenever the service
// appears, not busy while the service is absent. Reads never start the service (no
// activation), so a desktop without it is simply never busy. Replies that arrive after the
// service has gone or come back are dropped.
class DBusBusySignal : public BusySignal {
    Q_OBJECT

public:
    ~DBusBusySignal() override;

    void start() override;

    // How long a read may take before it counts as "not busy".
    static constexpr int readTimeoutMs = 2000;

protected:
    DBusBusySignal(const QDBusConnection& bus, const QString& service, QObject* parent);

    // Subscribes to the service's change signals; called once, from start().
    virtual void subscribe() = 0;
    // The call that reads the sign.
    virtual QDBusMessage readCall() const = 0;
    // The reply to `call` (or an error): calls setBusy(), or read() again with another call.
    virtual void replied(const QDBusMessage& call, const QDBusMessage& reply) = 0;

    // Sends `call` to the service without starting it; replied() follows.
    void read(QDBusMessage call);

    QDBusConnection& bus() { return m_bus; }

    // A property or setting value as a Boolean, unwrapping D-Bus variants; nothing else is one.
    static std::optional<bool> booleanIn(QVariant value);

private:
    QDBusConnection m_bus;
    QString m_service;
    QDBusServiceWatcher* m_watcher = nullptr;
    // Counts the service's comings and goings; a reply to an older one is dropped.
    quint64 m_generation = 0;
    bool m_started = false;
};

} // namespace vardelle
