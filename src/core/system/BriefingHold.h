#pragma once

#include "briefing/AnnounceReason.h"
#include "system/BusySignal.h"

#include <QList>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace vardelle {

// Keeps automatic briefings (launch, unlock, wake, session) from starting while the user is
// busy, and runs one of them once the user no longer is.
//
// A request is held while holding is enabled and any sign is busy or not yet known. A held
// request is not started at all. When the last hold ends (every sign known and not busy, or
// holding switched off), the held reasons are asked for again, in the order they came, until
// one starts a run: so several requests held together give at most one briefing, and it passes
// the announcer's guards (the quiet interval, the settings) as if it were asked for at that
// moment. A sign that stays unknown longer than `settleTime` after start counts as not busy.
// Manual requests are never held.
//
// Main thread.
class BriefingHold : public QObject {
    Q_OBJECT

public:
    // Asks for a briefing; true when a run started.
    using Announce = std::function<bool(AnnounceReason)>;

    static constexpr std::chrono::milliseconds defaultSettleTime{3000};

    explicit BriefingHold(Announce announce, QObject* parent = nullptr);
    ~BriefingHold() override;

    // Owns the signs and starts them; signs added before start() start with it.
    void addSignal(std::unique_ptr<BusySignal> signal);
    // Starts the signs added so far and the settle timer. Only the first call does anything.
    void start(std::chrono::milliseconds settleTime = defaultSettleTime);

    // Whether holding is on (the holdWhenBusy preference). Switching it off releases what is
    // held.
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }

    // Asks for a briefing now, or holds the request while the user is busy.
    void request(AnnounceReason reason);

    // True while requests would be held.
    bool isHolding() const;
    // The requests held, oldest first.
    QList<AnnounceReason> held() const { return m_held; }

signals:
    void holdingChanged(bool holding);

private:
    void reconsider();

    Announce m_announce;
    std::vector<std::unique_ptr<BusySignal>> m_signals;
    QList<AnnounceReason> m_held;
    bool m_enabled = true;
    bool m_started = false;
    bool m_settled = false;
    bool m_wasHolding = false;
};

} // namespace vardelle
