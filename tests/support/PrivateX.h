#pragma once

#include <QByteArray>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/prctl.h>
#include <unistd.h>

// Header only: the X client library comes with the platform library that tests using it link.
namespace vardelle::test {

// An X server of the test's own; windows and properties are set through a connection of the
// test, as a window manager would.
class PrivateX {
public:
    ~PrivateX()
    {
        if (c)
            xcb_disconnect(c);
        if (m_server.state() != QProcess::NotRunning) {
            m_server.terminate();
            m_server.waitForFinished(30000);
        }
    }

    bool start()
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (program.isEmpty())
            return false;
        for (int n = 140 + getpid() % 100; n < 400; ++n) {
            if (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) ||
                QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
                continue;
            display = ":" + QByteArray::number(n);
            break;
        }
        m_server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_server.setStandardErrorFile(QProcess::nullDevice());
        m_server.start(program, {QString::fromLatin1(display), QStringLiteral("-nolisten"),
                                 QStringLiteral("tcp"), QStringLiteral("-screen"),
                                 QStringLiteral("0"), QStringLiteral("640x480x24")});
        if (!m_server.waitForStarted())
            return false;
        for (int tries = 0; tries < 300; ++tries) {
            c = xcb_connect(display.constData(), nullptr);
            if (!xcb_connection_has_error(c))
                break;
            xcb_disconnect(c);
            c = nullptr;
            QTest::qWait(50);
        }
        if (!c)
            return false;
        root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        return true;
    }

    xcb_atom_t atom(const char* name)
    {
        auto* reply = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return a;
    }
    xcb_window_t window()
    {
        const xcb_window_t w = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, root, 0, 0, 100, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_flush(c);
        return w;
    }
    void setFullScreen(xcb_window_t w, bool on)
    {
        const xcb_atom_t state = atom("_NET_WM_STATE_FULLSCREEN");
        const xcb_atom_t states[2] = {atom("_NET_WM_STATE_ABOVE"), state};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 32,
                            on ? 2 : 1, states);
        xcb_flush(c);
    }
    void activate(xcb_window_t w)
    {
        if (w == XCB_WINDOW_NONE)
            xcb_delete_property(c, root, atom("_NET_ACTIVE_WINDOW"));
        else
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, atom("_NET_ACTIVE_WINDOW"),
                                XCB_ATOM_WINDOW, 32, 1, &w);
        xcb_flush(c);
    }

    QByteArray display;
    xcb_connection_t* c = nullptr;
    xcb_window_t root = 0;

private:
    QProcess m_server;
};

} // namespace vardelle::test
