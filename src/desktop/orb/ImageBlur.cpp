#include "ImageBlur.h"

#include <array>
#include <cmath>
#include <vector>

namespace vardelle {

namespace {

// Box widths whose three successive passes have the variance of a Gaussian of `sigma`.
std::array<int, 3> boxRadii(qreal sigma)
{
    constexpr int passes = 3;
    const double ideal = std::sqrt(12.0 * sigma * sigma / passes + 1.0);
    int lower = int(std::floor(ideal));
    if (lower % 2 == 0)
        --lower;
    const int upper = lower + 2;
    const double m =
        (12.0 * sigma * sigma - passes * lower * lower - 4.0 * passes * lower - 3.0 * passes) /
        (-4.0 * lower - 4.0);
    const int lowerCount = int(std::lround(m));
    std::array<int, 3> radii{};
    for (int i = 0; i < passes; ++i)
        radii[i] = ((i < lowerCount ? lower : upper) - 1) / 2;
    return radii;
}

// One box pass over `count` pixels spaced `stride` apart, through `line` as scratch.
void boxLine(QRgb* pixels, int count, qsizetype stride, int radius, std::vector<QRgb>& line)
{
    line.resize(count);
    for (int i = 0; i < count; ++i)
        line[i] = pixels[i * stride];
    const quint32 width = quint32(2 * radius + 1);
    const quint32 half = width / 2;
    quint32 a = 0, r = 0, g = 0, b = 0;
    auto add = [&](QRgb p, int sign) {
        a += quint32(sign * int(qAlpha(p)));
        r += quint32(sign * int(qRed(p)));
        g += quint32(sign * int(qGreen(p)));
        b += quint32(sign * int(qBlue(p)));
    };
    for (int i = 0; i < radius && i < count; ++i)
        add(line[i], 1);
    for (int i = 0; i < count; ++i) {
        if (i + radius < count)
            add(line[i + radius], 1);
        if (i - radius - 1 >= 0)
            add(line[i - radius - 1], -1);
        pixels[i * stride] = qRgba(int((r + half) / width), int((g + half) / width),
                                   int((b + half) / width), int((a + half) / width));
    }
}

} // namespace

void blurImage(QImage& image, qreal sigma)
{
    if (sigma < 0.5 || image.isNull())
        return;
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int w = image.width();
    const int h = image.height();
    const qsizetype stride = image.bytesPerLine() / qsizetype(sizeof(QRgb));
    auto* bits = reinterpret_cast<QRgb*>(image.bits());
    std::vector<QRgb> line;
    for (const int radius : boxRadii(sigma)) {
        if (radius <= 0)
            continue;
        for (int y = 0; y < h; ++y)
            boxLine(bits + y * stride, w, 1, radius, line);
        for (int x = 0; x < w; ++x)
            boxLine(bits + x, h, stride, radius, line);
    }
}

} // namespace vardelle
