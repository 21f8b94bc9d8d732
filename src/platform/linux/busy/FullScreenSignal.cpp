#include "linux/busy/FullScreenSignal.h"

#include <QSocketNotifier>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace vardelle {

namespace {

template <class Reply> using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

// A property of 32-bit items (windows, atoms), empty when it is missing or of another format.
std::vector<uint32_t> property32(xcb_connection_t* c, uint32_t window, uint32_t name, uint32_t type)
{
    ReplyPtr<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, name, type, 0, 64), nullptr),
        &std::free);
    if (!reply || reply->format != 32)
        return {};
    const auto* items = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    return std::vector<uint32_t>(items, items + count);
}

} // namespace

FullScreenSignal::FullScreenSignal(const QByteArray& display, QObject* parent)
    : BusySignal(parent)
    , m_display(display)
{
}

FullScreenSignal::~FullScreenSignal()
{
    delete m_notifier;
    if (m_connection)
        xcb_disconnect(m_connection);
}

uint32_t FullScreenSignal::atom(const char* name) const
{
    ReplyPtr<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(m_connection,
                              xcb_intern_atom(m_connection, 0, uint16_t(std::strlen(name)), name),
                              nullptr),
        &std::free);
    return reply ? reply->atom : uint32_t(XCB_ATOM_NONE);
}

void FullScreenSignal::start()
{
    if (m_connection || isKnown())
        return;
    const bool named = !m_display.isEmpty() || std::getenv("DISPLAY");
    int screen = 0;
    if (named)
        m_connection = xcb_connect(m_display.isEmpty() ? nullptr : m_display.constData(), &screen);
    if (!m_connection || xcb_connection_has_error(m_connection)) {
        setBusy(false);
        return;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (; screen > 0 && it.rem > 1; --screen)
        xcb_screen_next(&it);
    m_root = it.data->root;
    m_activeAtom = atom("_NET_ACTIVE_WINDOW");
    m_stateAtom = atom("_NET_WM_STATE");
    m_fullScreenAtom = atom("_NET_WM_STATE_FULLSCREEN");
    watch(m_root, XCB_EVENT_MASK_PROPERTY_CHANGE);

    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(m_connection), QSocketNotifier::Read);
    connect(m_notifier, &QSocketNotifier::activated, this, &FullScreenSignal::drain);
    refresh();
    drain();
}

void FullScreenSignal::watch(uint32_t window, uint32_t mask)
{
    xcb_change_window_attributes(m_connection, window, XCB_CW_EVENT_MASK, &mask);
}

void FullScreenSignal::refresh()
{
    const std::vector<uint32_t> active =
        property32(m_connection, m_root, m_activeAtom, XCB_ATOM_WINDOW);
    const uint32_t window = active.empty() ? 0 : active.front();
    if (window != m_active) {
        // Only the window in front is followed; the one before is let go.
        if (m_active != 0)
            watch(m_active, XCB_EVENT_MASK_NO_EVENT);
        // Its structure too: a window manager may go on naming a window after it is destroyed.
        if (window != 0)
            watch(window, XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY);
        m_active = window;
    }
    bool fullScreen = false;
    if (window != 0) {
        for (uint32_t state : property32(m_connection, window, m_stateAtom, XCB_ATOM_ATOM))
            fullScreen = fullScreen || state == m_fullScreenAtom;
    }
    xcb_flush(m_connection);
    setBusy(fullScreen);
}

void FullScreenSignal::drain()
{
    bool changed = true;
    while (changed) {
        changed = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
            const uint8_t type = event->response_type & 0x7f;
            if (type == XCB_PROPERTY_NOTIFY) {
                const auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event);
                changed = changed || (notify->window == m_root && notify->atom == m_activeAtom) ||
                          (notify->window == m_active && notify->atom == m_stateAtom);
            } else if (type == XCB_DESTROY_NOTIFY) {
                // A window that no longer exists is not full screen, whatever the root still
                // names; its properties can no longer be read, so the refresh finds it so.
                const auto* notify = reinterpret_cast<xcb_destroy_notify_event_t*>(event);
                changed = changed || notify->window == m_active;
            }
            std::free(event);
        }
        if (xcb_connection_has_error(m_connection)) {
            // The X server went away: nothing is in front any more.
            m_notifier->setEnabled(false);
            setBusy(false);
            return;
        }
        if (changed)
            refresh();
    }
}

} // namespace vardelle
