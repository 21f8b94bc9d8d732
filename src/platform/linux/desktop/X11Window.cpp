#include "linux/desktop/X11Window.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

namespace vardelle::x11 {

xcb_connection_t* connection()
{
    auto* app = qGuiApp;
    if (!app)
        return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

namespace {

template <class Reply> using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

xcb_atom_t atom(xcb_connection_t* c, const QByteArray& name)
{
    ReplyPtr<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, quint16(name.size()), name.constData()),
                              nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The screen named by $DISPLAY (":0.1" is screen 1), else the first.
int screenNumber()
{
    int screen = 0;
    char* host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen) == 0)
        return 0;
    std::free(host);
    return screen;
}

xcb_window_t rootWindow(xcb_connection_t* c)
{
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int n = screenNumber(); n > 0 && it.rem > 1; --n)
        xcb_screen_next(&it);
    return it.rem > 0 ? it.data->root : xcb_window_t(XCB_WINDOW_NONE);
}

// An EWMH request about `window`, sent to the root window, where the window manager listens.
void sendToRoot(xcb_connection_t* c, xcb_window_t root, xcb_window_t window, xcb_atom_t type,
                quint32 d0, quint32 d1, quint32 d2)
{
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    event.data.data32[0] = d0;
    event.data.data32[1] = d1;
    event.data.data32[2] = d2;
    event.data.data32[3] = 1; // source: an application
    xcb_send_event(c, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
}

} // namespace

void preferXWayland()
{
    const bool wayland = qEnvironmentVariable("XDG_SESSION_TYPE") == u"wayland" ||
                         qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
    if (wayland && qEnvironmentVariableIsSet("DISPLAY") &&
        !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

bool isAvailable()
{
    return connection() != nullptr;
}

void showOnAllDesktops(quintptr window)
{
    xcb_connection_t* c = connection();
    if (!c || window == 0)
        return;
    const auto id = xcb_window_t(window);
    const xcb_atom_t desktop = atom(c, "_NET_WM_DESKTOP");
    const xcb_atom_t state = atom(c, "_NET_WM_STATE");
    const xcb_atom_t sticky = atom(c, "_NET_WM_STATE_STICKY");
    constexpr quint32 allDesktops = 0xFFFFFFFF;
    constexpr quint32 add = 1;

    if (desktop != XCB_ATOM_NONE)
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, desktop, XCB_ATOM_CARDINAL, 32, 1,
                            &allDesktops);
    if (state != XCB_ATOM_NONE && sticky != XCB_ATOM_NONE)
        xcb_change_property(c, XCB_PROP_MODE_APPEND, id, state, XCB_ATOM_ATOM, 32, 1, &sticky);

    if (const xcb_window_t root = rootWindow(c); root != XCB_WINDOW_NONE) {
        if (desktop != XCB_ATOM_NONE)
            sendToRoot(c, root, id, desktop, allDesktops, 0, 0);
        if (state != XCB_ATOM_NONE && sticky != XCB_ATOM_NONE)
            sendToRoot(c, root, id, state, add, sticky, 0);
    }
    xcb_flush(c);
}

bool compositorRunning()
{
    xcb_connection_t* c = connection();
    if (!c)
        return true;
    const xcb_atom_t selection = atom(c, "_NET_WM_CM_S" + QByteArray::number(screenNumber()));
    if (selection == XCB_ATOM_NONE)
        return false;
    ReplyPtr<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr),
        &std::free);
    return reply && reply->owner != XCB_WINDOW_NONE;
}

void setInputRegion(quintptr window, const QRegion& region, qreal dpr)
{
    xcb_connection_t* c = connection();
    if (!c || !window)
        return;
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(c, &xcb_shape_id);
    if (!shape || !shape->present)
        return;
    std::vector<xcb_rectangle_t> rectangles;
    rectangles.reserve(size_t(region.rectCount()));
    for (const QRect& r : region) {
        // Outward to whole native pixels, so neighbouring rectangles still meet when scaled.
        const auto x0 = int(std::floor(r.x() * dpr)), y0 = int(std::floor(r.y() * dpr));
        const auto x1 = int(std::ceil((r.x() + r.width()) * dpr));
        const auto y1 = int(std::ceil((r.y() + r.height()) * dpr));
        rectangles.push_back(
            {qint16(x0), qint16(y0), quint16(std::max(0, x1 - x0)), quint16(std::max(0, y1 - y0))});
    }
    xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED,
                         xcb_window_t(window), 0, 0, quint32(rectangles.size()), rectangles.data());
    xcb_flush(c);
}

} // namespace vardelle::x11
