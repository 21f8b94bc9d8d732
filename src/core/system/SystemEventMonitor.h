#pragma once

#include "briefing/AnnounceReason.h"
#include "system/SystemEventSource.h"

#include <QObject>

#include <functional>
#include <memory>

namespace vardelle {

// Turns the events of a SystemEventSource into calls of one handler with an AnnounceReason:
// screen unlocked and screen saver stopped give `unlock`, waking from sleep gives `wake`, and the
// session becoming active gives `sessionActive`.
//
// No filtering, delay or coalescing: every event the source reports after start() is exactly one
// handler call, on the monitor's thread, in the order the events arrive. Whether an event leads to
// a briefing is for the handler to decide. Events the source reports from another thread are
// queued to the monitor's thread. Once the monitor is destroyed the handler is never called again,
// also not for events that were already queued.
//
// Owns its source. Main thread.
class SystemEventMonitor : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<void(AnnounceReason)>;

    SystemEventMonitor(Handler handler, std::unique_ptr<SystemEventSource> source,
                       QObject* parent = nullptr);
    ~SystemEventMonitor() override;

    // Subscribes to the source's four events and starts the source. Only the first call does
    // anything, so an event never reaches the handler twice.
    void start();

    // The source the events come from, for others that follow the same session.
    const SystemEventSource& source() const { return *m_source; }

private:
    void deliver(AnnounceReason reason);

    const Handler m_handler;
    std::unique_ptr<SystemEventSource> m_source;
    bool m_started = false;
};

} // namespace vardelle
