#pragma once

#include <QImage>
#include <QRegion>
#include <QSize>
#include <QtGlobal>

#include <array>
#include <memory>

struct xcb_connection_t;

namespace vardelle::x11 {

// Puts animation frames on an X window through shared-memory images of its own (MIT-SHM), two
// used in turn, without ever waiting for the X server. After a frame's images are put, the server
// is asked for a cheap reply; an image is drawn into again only once that reply has come, which
// means the server has read it. The window's own backing store is neither used nor changed, so
// whatever paints it (an expose, a state change) still draws through it as usual.
class FramePresenter {
public:
    // A presenter for frames of `size` device pixels on the X window `window`, over `connection`
    // (null: the application's own connection to its X server). Null where that cannot be done:
    // not on X, no MIT-SHM extension or no shared memory with the server (a remote display), a
    // window whose depth is neither 24 nor 32, or a server whose pixels of that depth are not 32
    // bits in this machine's byte order.
    static std::unique_ptr<FramePresenter> create(quintptr window, QSize size,
                                                  xcb_connection_t* connection = nullptr);
    ~FramePresenter();
    FramePresenter(const FramePresenter&) = delete;
    FramePresenter& operator=(const FramePresenter&) = delete;

    quintptr window() const { return m_window; }
    QSize size() const { return m_size; }

    // The image to draw the next frame into: premultiplied ARGB of `size()`, its pixels as the
    // frame before last left them. Null while the server has not yet read either image (it is
    // more than a frame behind): that frame is better skipped than waited for.
    QImage* nextFrame();
    // Puts the parts `region` (device pixels in the image) of the frame drawn into the image
    // nextFrame() gave, with the image's corner at `origin` (device pixels in the window), and
    // sends the requests without waiting for anything.
    void present(const QRegion& region, QPoint origin);

private:
    struct Buffer {
        quint32 segment = 0; // the server's name for the shared memory
        uchar* pixels = nullptr;
        QImage image;
        // The sequence number of the request whose reply tells that the server has read the
        // image, while that reply has not come.
        unsigned int fence = 0;
        bool fenced = false;
    };

    FramePresenter(xcb_connection_t* connection, quintptr window, QSize size, quint8 depth);
    bool allocate(Buffer& buffer);
    void release(Buffer& buffer);
    // Whether the server has read `buffer`'s image, collecting the reply if it has come.
    bool isFree(Buffer& buffer);

    xcb_connection_t* m_connection;
    quintptr m_window;
    QSize m_size;
    quint8 m_depth;
    quint32 m_gc = 0;
    std::array<Buffer, 2> m_buffers;
    int m_current = -1; // the buffer nextFrame() gave
};

} // namespace vardelle::x11
