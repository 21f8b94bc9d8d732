#pragma once

#include <QImage>

namespace vardelle {

// Blurs a premultiplied ARGB image in place with three box passes per axis, which together come
// within a few percent of a Gaussian of the given standard deviation (in device pixels). Pixels
// beyond the edges count as transparent, so leave a margin of three deviations around the content.
// Costs the same for any deviation: meant for images that are drawn once and reused.
void blurImage(QImage& image, qreal sigma);

} // namespace vardelle
