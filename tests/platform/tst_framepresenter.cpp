#include "linux/desktop/X11FramePresenter.h"
#include "support/PrivateX.h"

#include <QtTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

using namespace vardelle;

namespace {

// A mapped window of `depth` on the private server (24: the root's visual; 32: an ARGB visual
// with its own colormap, as translucent windows have), filled with `background`.
xcb_window_t mappedWindow(test::PrivateX& x, quint8 depth, QSize size, quint32 background)
{
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x.c)).data;
    xcb_visualid_t visual = screen->root_visual;
    xcb_colormap_t colormap = screen->default_colormap;
    if (depth != screen->root_depth) {
        visual = 0;
        for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem > 0 && !visual;
             xcb_depth_next(&d)) {
            if (d.data->depth == depth && d.data->visuals_len > 0)
                visual = xcb_depth_visuals_iterator(d.data).data->visual_id;
        }
        if (!visual)
            return XCB_WINDOW_NONE;
        colormap = xcb_generate_id(x.c);
        xcb_create_colormap(x.c, XCB_COLORMAP_ALLOC_NONE, colormap, screen->root, visual);
    }
    const xcb_window_t w = xcb_generate_id(x.c);
    const quint32 values[] = {background, 0, colormap};
    xcb_create_window(x.c, depth, w, screen->root, 10, 10, quint16(size.width()),
                      quint16(size.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_COLORMAP, values);
    xcb_map_window(x.c, w);
    std::free(xcb_get_input_focus_reply(x.c, xcb_get_input_focus(x.c), nullptr));
    return w;
}

// The window's pixels as the server holds them.
QImage windowPixels(test::PrivateX& x, xcb_window_t w, QSize size)
{
    std::unique_ptr<xcb_get_image_reply_t, decltype(&std::free)> reply(
        xcb_get_image_reply(x.c,
                            xcb_get_image(x.c, XCB_IMAGE_FORMAT_Z_PIXMAP, w, 0, 0,
                                          quint16(size.width()), quint16(size.height()), ~0u),
                            nullptr),
        &std::free);
    if (!reply)
        return {};
    return QImage(xcb_get_image_data(reply.get()), size.width(), size.height(),
                  QImage::Format_ARGB32_Premultiplied)
        .copy();
}

void sync(xcb_connection_t* c)
{
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

} // namespace

class FramePresenterTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void notWithoutAnXWindow();
    void putsOnlyTheRegion_data();
    void putsOnlyTheRegion();
    void neverDrawsIntoAnImageTheServerHasNotRead();

private:
    test::PrivateX m_x;
};

void FramePresenterTest::initTestCase()
{
    if (!m_x.start())
        QSKIP("Xvfb is not installed or did not start");
}

void FramePresenterTest::notWithoutAnXWindow()
{
    // The application itself is not on X here (the offscreen platform).
    QVERIFY(!x11::FramePresenter::create(1, QSize(10, 10)));
    QVERIFY(!x11::FramePresenter::create(0, QSize(10, 10), m_x.c));
    const xcb_window_t w = mappedWindow(m_x, 24, QSize(20, 20), 0);
    QVERIFY(!x11::FramePresenter::create(w, QSize(), m_x.c));
    xcb_destroy_window(m_x.c, w);
}

void FramePresenterTest::putsOnlyTheRegion_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<QRegion>("region");
    QTest::addColumn<QPoint>("origin");
    const QRegion bands = QRegion(10, 0, 20, 8) + QRegion(0, 8, 40, 20) + QRegion(10, 28, 20, 8);
    QTest::newRow("opaque window, whole frame") << 24 << QRegion(0, 0, 40, 36) << QPoint(0, 0);
    QTest::newRow("translucent window, bands") << 32 << bands << QPoint(0, 0);
    QTest::newRow("translucent window, bands, frame inset") << 32 << bands << QPoint(7, 5);
    QTest::newRow("region past the frame") << 32 << QRegion(30, 30, 50, 50) << QPoint(3, 3);
}

// What lies in the region is the frame's pixels, placed at the origin; everything else keeps
// the window's background.
void FramePresenterTest::putsOnlyTheRegion()
{
    QFETCH(int, depth);
    QFETCH(QRegion, region);
    QFETCH(QPoint, origin);
    const QSize windowSize(60, 50), frameSize(40, 36);
    const quint32 background = depth == 32 ? 0x00000000 : 0xff202020;
    const xcb_window_t w = mappedWindow(m_x, quint8(depth), windowSize, background);
    if (!w)
        QSKIP("the server offers no visual of that depth");
    auto presenter = x11::FramePresenter::create(w, frameSize, m_x.c);
    QVERIFY(presenter);
    QCOMPARE(presenter->size(), frameSize);

    QImage* frame = presenter->nextFrame();
    QVERIFY(frame);
    QCOMPARE(frame->size(), frameSize);
    QCOMPARE(frame->format(), QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < frameSize.height(); ++y) {
        for (int x = 0; x < frameSize.width(); ++x)
            frame->setPixel(x, y, qPremultiply(qRgba(x * 6, y * 7, 200, 40 + x + y)));
    }
    presenter->present(region, origin);
    sync(m_x.c);

    const QImage shown = windowPixels(m_x, w, windowSize);
    QCOMPARE(shown.size(), windowSize);
    const quint32 mask = depth == 32 ? 0xffffffff : 0x00ffffff;
    const QRegion put = region.intersected(QRect(QPoint(), frameSize)).translated(origin);
    for (int y = 0; y < windowSize.height(); ++y) {
        for (int x = 0; x < windowSize.width(); ++x) {
            const QPoint p(x, y);
            const quint32 expected = put.contains(p) ? frame->pixel(p - origin) : background;
            if ((shown.pixel(p) & mask) != (expected & mask))
                QFAIL(qPrintable(QStringLiteral("%1,%2: %3, not %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(shown.pixel(p), 8, 16)
                                     .arg(expected, 8, 16)));
        }
    }
    presenter.reset();
    xcb_destroy_window(m_x.c, w);
}

// While another client holds the server, it reads none of the frames put: after two frames
// there is no image to draw into, rather than one the server may still read. Once the server
// has caught up, the last frame is what shows.
void FramePresenterTest::neverDrawsIntoAnImageTheServerHasNotRead()
{
    const QSize size(16, 16);
    const xcb_window_t w = mappedWindow(m_x, 24, size, 0xff000000);
    auto presenter = x11::FramePresenter::create(w, size, m_x.c);
    QVERIFY(presenter);
    xcb_connection_t* other = xcb_connect(m_x.display.constData(), nullptr);
    QVERIFY(!xcb_connection_has_error(other));
    xcb_grab_server(other);
    sync(other);

    QImage* first = presenter->nextFrame();
    QVERIFY(first);
    first->fill(0xffff0000);
    presenter->present(QRegion(0, 0, 16, 16), {});
    QImage* second = presenter->nextFrame();
    QVERIFY(second);
    QVERIFY(second != first);
    second->fill(0xff00ff00);
    presenter->present(QRegion(0, 0, 16, 16), {});
    QVERIFY(!presenter->nextFrame());
    QVERIFY(!presenter->nextFrame());

    xcb_ungrab_server(other);
    sync(other);
    xcb_disconnect(other);
    sync(m_x.c);
    QImage* third = presenter->nextFrame();
    QVERIFY(third);
    QCOMPARE(windowPixels(m_x, w, size).pixel(8, 8) & 0xffffff, 0x00ff00u);
    // The last frame's image again, as the server is done with it.
    QCOMPARE(third, second);
    presenter.reset();
    xcb_destroy_window(m_x.c, w);
}

QTEST_MAIN(FramePresenterTest)
#include "tst_framepresenter.moc"
