#include "linux/desktop/X11FramePresenter.h"

#include "linux/desktop/X11Window.h"

#include <QGuiApplication>

#include <xcb/shm.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdlib>

namespace vardelle::x11 {

namespace {

// Whether pixels of `depth` are 32 bits, least significant byte first, as QImage's ARGB32 on a
// little-endian machine.
bool pixelsMatchImages(xcb_connection_t* c, quint8 depth)
{
    if (Q_BYTE_ORDER != Q_LITTLE_ENDIAN)
        return false;
    const xcb_setup_t* setup = xcb_get_setup(c);
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem > 0; xcb_format_next(&it)) {
        if (it.data->depth == depth)
            return it.data->bits_per_pixel == 32;
    }
    return false;
}

} // namespace

std::unique_ptr<FramePresenter> FramePresenter::create(quintptr window, QSize size,
                                                       xcb_connection_t* connection)
{
    xcb_connection_t* c = connection ? connection : x11::connection();
    if (!c || !window || size.isEmpty() || xcb_connection_has_error(c))
        return nullptr;
    const xcb_query_extension_reply_t* shm = xcb_get_extension_data(c, &xcb_shm_id);
    if (!shm || !shm->present)
        return nullptr;
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(c, xcb_get_geometry(c, xcb_drawable_t(window)), nullptr);
    if (!geometry)
        return nullptr;
    const quint8 depth = geometry->depth;
    std::free(geometry);
    if ((depth != 24 && depth != 32) || !pixelsMatchImages(c, depth))
        return nullptr;
    std::unique_ptr<FramePresenter> presenter(new FramePresenter(c, window, size, depth));
    for (Buffer& buffer : presenter->m_buffers) {
        if (!presenter->allocate(buffer))
            return nullptr;
    }
    return presenter;
}

FramePresenter::FramePresenter(xcb_connection_t* connection, quintptr window, QSize size,
                               quint8 depth)
    : m_connection(connection)
    , m_window(window)
    , m_size(size)
    , m_depth(depth)
{
    m_gc = xcb_generate_id(m_connection);
    const quint32 noExposures = 0;
    xcb_create_gc(m_connection, m_gc, xcb_drawable_t(m_window), XCB_GC_GRAPHICS_EXPOSURES,
                  &noExposures);
}

FramePresenter::~FramePresenter()
{
    for (Buffer& buffer : m_buffers)
        release(buffer);
    xcb_free_gc(m_connection, m_gc);
    xcb_flush(m_connection);
}

bool FramePresenter::allocate(Buffer& buffer)
{
    const qsizetype stride = qsizetype(m_size.width()) * 4;
    const auto bytes = size_t(stride) * size_t(m_size.height());
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0)
        return false;
    void* pixels = shmat(id, nullptr, 0);
    if (pixels == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return false;
    }
    const xcb_shm_seg_t segment = xcb_generate_id(m_connection);
    // The one wait: whether the server could attach the memory (it cannot from another host).
    xcb_generic_error_t* error = xcb_request_check(
        m_connection, xcb_shm_attach_checked(m_connection, segment, quint32(id), 0));
    // Gone once both sides let go, even if this process ends without doing so.
    shmctl(id, IPC_RMID, nullptr);
    if (error) {
        std::free(error);
        shmdt(pixels);
        return false;
    }
    buffer.segment = segment;
    buffer.pixels = static_cast<uchar*>(pixels);
    buffer.image = QImage(buffer.pixels, m_size.width(), m_size.height(), stride,
                          QImage::Format_ARGB32_Premultiplied);
    return true;
}

void FramePresenter::release(Buffer& buffer)
{
    if (!buffer.pixels)
        return;
    if (buffer.fenced)
        xcb_discard_reply(m_connection, buffer.fence);
    xcb_shm_detach(m_connection, buffer.segment);
    buffer.image = QImage();
    // The server keeps its own mapping until it handles the detach.
    shmdt(buffer.pixels);
    buffer = Buffer();
}

bool FramePresenter::isFree(Buffer& buffer)
{
    if (!buffer.fenced)
        return true;
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (!xcb_poll_for_reply(m_connection, buffer.fence, &reply, &error))
        return false;
    std::free(reply);
    std::free(error);
    buffer.fenced = false;
    return true;
}

QImage* FramePresenter::nextFrame()
{
    // The last frame's image again once the server has read it, as it mostly has a frame later:
    // its pixels are the likelier to be in a cache. The other while the server is behind.
    if (m_current < 0)
        m_current = 0;
    else if (!isFree(m_buffers[size_t(m_current)]))
        m_current = 1 - m_current;
    if (!isFree(m_buffers[size_t(m_current)]))
        return nullptr;
    return &m_buffers[size_t(m_current)].image;
}

void FramePresenter::present(const QRegion& region, QPoint origin)
{
    if (m_current < 0)
        return;
    Buffer& buffer = m_buffers[size_t(m_current)];
    const QRect bounds(QPoint(0, 0), m_size);
    for (const QRect& part : region) {
        const QRect r = part.intersected(bounds);
        if (r.isEmpty())
            continue;
        xcb_shm_put_image(m_connection, xcb_drawable_t(m_window), m_gc, quint16(m_size.width()),
                          quint16(m_size.height()), quint16(r.x()), quint16(r.y()),
                          quint16(r.width()), quint16(r.height()), qint16(origin.x() + r.x()),
                          qint16(origin.y() + r.y()), m_depth, XCB_IMAGE_FORMAT_Z_PIXMAP, 0,
                          buffer.segment, 0);
    }
    // The server answers requests in order: this reply comes once it has read the image.
    buffer.fence = xcb_get_input_focus(m_connection).sequence;
    buffer.fenced = true;
    xcb_flush(m_connection);
}

} // namespace vardelle::x11
