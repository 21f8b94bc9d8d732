#pragma once

#include "system/BusySignal.h"

#include <QByteArray>

#include <cstdint>

struct xcb_connection_t;
class QSocketNotifier;

namespace vardelle {

// Busy while the window in front is full screen, on an X server: the window that the root's
// `_NET_ACTIVE_WINDOW` names carries `_NET_WM_STATE_FULLSCREEN` in its `_NET_WM_STATE`. Both
// properties are followed as they change, and a window destroyed while the root still names it
// is not full screen. A connection of its own to $DISPLAY (or `display`),
// so it works whatever platform the widgets use; without an X server, or where the window
// manager does not publish the active window, never busy.
class FullScreenSignal final : public BusySignal {
    Q_OBJECT

public:
    explicit FullScreenSignal(const QByteArray& display = {}, QObject* parent = nullptr);
    ~FullScreenSignal() override;

    void start() override;

private:
    void refresh();
    void drain();
    void watch(uint32_t window, uint32_t mask);
    uint32_t atom(const char* name) const;

    QByteArray m_display;
    xcb_connection_t* m_connection = nullptr;
    QSocketNotifier* m_notifier = nullptr;
    uint32_t m_root = 0;
    uint32_t m_active = 0;
    uint32_t m_activeAtom = 0;
    uint32_t m_stateAtom = 0;
    uint32_t m_fullScreenAtom = 0;
};

} // namespace vardelle
