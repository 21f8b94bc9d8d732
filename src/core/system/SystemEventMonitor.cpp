#include "system/SystemEventMonitor.h"

#include <utility>

namespace vardelle {

SystemEventMonitor::SystemEventMonitor(Handler handler, std::unique_ptr<SystemEventSource> source,
                                       QObject* parent)
    : QObject(parent)
    , m_handler(std::move(handler))
    , m_source(std::move(source))
{
}

// The source goes first, with its connections; events already queued to this object are
// discarded by QObject's destructor before they can run.
SystemEventMonitor::~SystemEventMonitor()
{
    m_source.reset();
}

void SystemEventMonitor::start()
{
    if (m_started || !m_source)
        return;
    m_started = true;

    // The context object is the monitor itself: a direct call on its own thread, a queued one from
    // any other, and nothing at all once the monitor is gone.
    const SystemEventSource* source = m_source.get();
    connect(source, &SystemEventSource::screenUnlocked, this,
            [this] { deliver(AnnounceReason::unlock); });
    connect(source, &SystemEventSource::screenSaverStopped, this,
            [this] { deliver(AnnounceReason::unlock); });
    connect(source, &SystemEventSource::wokeFromSleep, this,
            [this] { deliver(AnnounceReason::wake); });
    connect(source, &SystemEventSource::sessionActivated, this,
            [this] { deliver(AnnounceReason::sessionActive); });
    m_source->start();
}

void SystemEventMonitor::deliver(AnnounceReason reason)
{
    if (m_handler)
        m_handler(reason);
}

} // namespace vardelle
