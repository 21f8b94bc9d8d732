#pragma once

#include <QRegion>
#include <QtGlobal>

struct xcb_connection_t;

namespace vardelle::x11 {

// Small window-manager requests for windows of this application on an X server. Every function
// does nothing (or answers the neutral value) when the application does not run on X (the
// offscreen platform of the tests, a native Wayland session).

// To be called before the application object exists. On a Wayland session a client cannot place
// its own windows, and the bubble must; so when XWayland is there ($DISPLAY is set) and no
// platform was chosen ($QT_QPA_PLATFORM is unset), this chooses the xcb platform.
void preferXWayland();

// True when the application's windows live on an X server.
bool isAvailable();

// The application's connection to its X server, or null when not on X.
xcb_connection_t* connection();

// Puts the window on every virtual desktop: the sticky state and desktop 0xFFFFFFFF, both as the
// window's own properties (read by the window manager when it maps the window) and as requests to
// the root window (for a window that is already mapped). `window` is the X window id.
void showOnAllDesktops(quintptr window);

// Whether a compositing manager runs for the default screen: whether the selection
// _NET_WM_CM_S<n> has an owner. Without a compositor, transparent pixels show black. True when
// not on X, where there is nothing to fall back from.
bool compositorRunning();

// Lets pointer input reach the window only inside `region`, in the window's logical coordinates
// at `dpr` native pixels each; elsewhere clicks and wheel turns go to the windows beneath, while
// the window still shows everywhere. Uses the X shape extension's input shape; does nothing
// without it.
void setInputRegion(quintptr window, const QRegion& region, qreal dpr);

} // namespace vardelle::x11
