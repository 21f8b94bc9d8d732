#include "system/BriefingHold.h"

#include <QTimer>

#include <algorithm>
#include <utility>

namespace vardelle {

BriefingHold::BriefingHold(Announce announce, QObject* parent)
    : QObject(parent)
    , m_announce(std::move(announce))
{
}

BriefingHold::~BriefingHold() = default;

void BriefingHold::addSignal(std::unique_ptr<BusySignal> signal)
{
    BusySignal* added = signal.get();
    m_signals.push_back(std::move(signal));
    connect(added, &BusySignal::busyChanged, this, &BriefingHold::reconsider);
    if (m_started)
        added->start();
    m_wasHolding = isHolding();
}

void BriefingHold::start(std::chrono::milliseconds settleTime)
{
    if (m_started)
        return;
    m_started = true;
    for (const auto& signal : m_signals)
        signal->start();
    // A sign whose first reading never comes (a service that does not answer) stops counting.
    QTimer::singleShot(settleTime, this, [this] {
        m_settled = true;
        reconsider();
    });
    m_wasHolding = isHolding();
}

void BriefingHold::setEnabled(bool enabled)
{
    m_enabled = enabled;
    reconsider();
}

bool BriefingHold::isHolding() const
{
    if (!m_enabled)
        return false;
    return std::any_of(m_signals.cbegin(), m_signals.cend(), [this](const auto& signal) {
        return signal->isBusy() || (!signal->isKnown() && !m_settled);
    });
}

void BriefingHold::request(AnnounceReason reason)
{
    if (reason == AnnounceReason::manual || !isHolding()) {
        m_announce(reason);
        return;
    }
    if (!m_held.contains(reason))
        m_held.append(reason);
}

void BriefingHold::reconsider()
{
    const bool holding = isHolding();
    if (holding == m_wasHolding)
        return;
    m_wasHolding = holding;
    emit holdingChanged(holding);
    if (holding)
        return;
    const QList<AnnounceReason> held = std::exchange(m_held, {});
    for (AnnounceReason reason : held) {
        if (m_announce(reason))
            break;
    }
}

} // namespace vardelle
