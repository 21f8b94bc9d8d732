#pragma once

#include "briefing/AnnouncerState.h"

#include <QImage>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

// Pixel arithmetic and tables shared by the orb's two frame builders, OrbScene and
// OrbFullResolutionScene.
namespace vardelle::orbpixels {

// Four floats handled as one: a premultiplied pixel in the order of its bytes in memory (blue,
// green, red, alpha), so packing and unpacking are plain vector conversions.
using Px = float __attribute__((vector_size(16)));
using PxInt = int __attribute__((vector_size(16)));
using PxBytes = unsigned char __attribute__((vector_size(4)));

constexpr double kHighlightReach = 0.6; // the blurred highlight's farthest point, over d
constexpr double kRipplePeriod = 0.9;   // ripple cycles per radian of phase
constexpr double kRippleGrowth = 0.45;
constexpr double kRippleOpacity = 0.55;
constexpr double kRippleWidth = 2; // points
// One pulse of the gathering symbol, in seconds, and its faintest opacity.
constexpr double kPulsePeriod = 1.4;
constexpr double kPulseLow = 0.35;

inline Px load(const float* p)
{
    Px v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store(float* p, Px v)
{
    std::memcpy(p, &v, sizeof v);
}

inline Px splat(float f)
{
    return Px{f, f, f, f};
}

#if defined(__SSE2__)

// A pixel's four bytes as floats from 0 to 255, in three instructions (the compiler's generic
// conversion takes them one byte at a time).
inline Px widen(quint32 p)
{
    const __m128i zero = _mm_setzero_si128();
    return _mm_cvtepi32_ps(
        _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(p)), zero), zero));
}

inline Px minOne(Px v)
{
    return _mm_min_ps(v, splat(1));
}

inline quint32 pack(Px v)
{
    const __m128i c = _mm_cvtps_epi32(_mm_max_ps(_mm_min_ps(v, splat(1)), splat(0)) * 255.0f);
    const __m128i words = _mm_packs_epi32(c, c);
    return quint32(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
}

#else

inline Px widen(quint32 p)
{
    PxBytes bytes;
    std::memcpy(&bytes, &p, sizeof bytes);
    return __builtin_convertvector(bytes, Px);
}

inline Px minOne(Px v)
{
    const Px one = splat(1);
    return v < one ? v : one;
}

inline quint32 pack(Px v)
{
    const Px zero = splat(0), one = splat(1);
    v = v > zero ? v : zero;
    v = v < one ? v : one;
    const PxBytes bytes =
        __builtin_convertvector(__builtin_convertvector(v * 255.0f + 0.5f, PxInt), PxBytes);
    quint32 p;
    std::memcpy(&p, &bytes, sizeof p);
    return p;
}

#endif

inline Px unpack(quint32 p)
{
    return widen(p) * (1.0f / 255);
}

// Mixes two premultiplied pixels, `w` of 256 toward `b`.
inline quint32 mix(quint32 a, quint32 b, quint32 w)
{
    const quint32 rb = (((a & 0xff00ff) * (256 - w) + (b & 0xff00ff) * w) >> 8) & 0xff00ff;
    const quint32 ag = (((a >> 8) & 0xff00ff) * (256 - w) + ((b >> 8) & 0xff00ff) * w) & 0xff00ff00;
    return rb | ag;
}

// The pixels a frame is composed into: `side` rows of `side` premultiplied ARGB pixels, `stride`
// pixels apart. An image of the painter's own, or a square of the window's backing store.
struct FrameRows {
    quint32* first = nullptr;
    qsizetype stride = 0;
    int side = 0;
    quint32* row(int y) const { return first + qsizetype(y) * stride; }
};

// The `side` × `side` square of `image` (premultiplied ARGB) from the device pixel `origin`; the
// image must hold it. Without a side, the image's width.
FrameRows frameRows(QImage& image, QPoint origin = {}, int side = -1);

// The instructions the composing loops use (the glow's table look-ups): AVX2 where the processor
// has it, else SSE2. Both give the same pixels.
enum class Simd { sse2, avx2 };
Simd simd();
// Makes the loops use `simd` if the processor has it (for tests and benchmarks); returns whether
// it does.
bool setSimd(Simd simd);

// The mean of two premultiplied pixels, each byte rounded up.
inline quint32 average(quint32 a, quint32 b)
{
    return (a | b) - (((a ^ b) & 0xfefefefe) >> 1);
}

// Frame pixel x of a row from a half-resolution grid: grid point i lies on pixel 2i, pixel
// 2i + 1 takes the mean of points i and i + 1. On odd rows the grid row is the mean of rows `a`
// and `b` (null on even rows).
inline quint32 upsampled(int x, const quint32* a, const quint32* b)
{
    auto at = [&](int i) { return b ? average(a[i], b[i]) : a[i]; };
    const int i = x >> 1;
    return (x & 1) ? average(at(i), at(i + 1)) : at(i);
}

// Frame pixels x0 to x1 of a row, upsampled as above. The grid rows must hold eight points
// beyond the last one read.
void upsample(quint32* out, int x0, int x1, const quint32* a, const quint32* b);

// Makes `frame` a premultiplied ARGB image of `side` × `side` pixels with the pixel ratio `dpr`,
// reallocating it only when its size or format differ.
void prepareFrame(QImage& frame, int side, qreal dpr);

// Mixes two premultiplied frames of one size in place: `into` becomes
// into × (1 − w) + other × w, w in 256ths, so the mix is as opaque as either side.
void mixInto(const FrameRows& into, const QImage& other, double weight);

// Pixels x0 to x1 of a row from a table of colours against squared distance from the centre:
// `dx` is the first pixel's horizontal distance, `dy2` the row's squared vertical distance and
// `index` the table entries per squared pixel.
void glowSpan(quint32* out, int x0, int x1, float dx, float dy2, float index,
              const std::vector<quint32>& table);
// The same in floating point, four floats a pixel.
void glowSpan(float* out, int x0, int x1, float dx, float dy2, float index,
              const std::vector<float>& table);

// The round layers of a state's orb as tables against squared distance from their centres, in
// device pixels at rest size.
struct RadialTables {
    // Glow colour (premultiplied, in the pixels' channel order): entry k holds squared distances
    // from k / glowStep up to the next entry.
    double glowStep = 1;
    std::vector<float> glow;
    std::vector<quint32> glowPixels;
    // Blob alpha, and the blobs' colours.
    double blobStep = 1;
    std::array<std::vector<float>, 3> blobs;
    std::array<std::array<float, 4>, 3> blobColors{};
    std::array<float, 4> ringColor{};
};
RadialTables radialTables(AnnouncerState::Kind kind, double d, qreal dpr);

// A layer image as premultiplied floats, four a pixel.
std::vector<float> toFloats(const QImage& image);

// The square that holds the orb's rest-size layers: `side` pixels from `origin` (in frame pixels,
// both axes), with the orb's centre at `centre` in it; for an orb of diameter `d` points centred
// at `frameCentre` device pixels.
struct DiscSquare {
    DiscSquare(double d, qreal dpr, double frameCentre);
    // A layer that `paint(canvas, centre)` draws on a transparent canvas of the square (`centre`
    // in the canvas's logical coordinates), as premultiplied floats.
    std::vector<float> layer(const std::function<void(QImage&, QPointF)>& paint) const;

    qreal dpr;
    int side;
    int origin;
    double centre;
};

// Half-open spans of pixels per row where a layer of `channels` floats a pixel has a channel
// above `floor`.
struct Runs {
    std::vector<int> rowStart;
    std::vector<std::pair<int, int>> spans;
};
Runs findRuns(const std::vector<float>& layer, int side, int channels = 4, float floor = 0);

// The animation at a moment: the breathing scale, the glow's own scale and the symbol's opacity.
struct Motion {
    double phase = 0;
    double breathing = 1;
    double glowScale = 1;
    float symbolOpacity = 1;
};
Motion motion(AnnouncerState::Kind kind, double seconds);

// The centre of blob `i` at `phase`, from the orb's centre, in points.
std::pair<double, double> blobOffset(int i, double phase, double d);

// Two rings, half a cycle apart, each growing from the orb's edge to 1.45 times its size while
// fading out; drawn over everything in `frame`, only where they cover. `centre` in device pixels.
void drawRipples(const FrameRows& frame, double centre, double d, qreal dpr,
                 const std::array<float, 4>& color, double phase, double breathing);

} // namespace vardelle::orbpixels
