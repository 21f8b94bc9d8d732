// Cost of the orb: time per frame drawn offscreen for each state at both diameters and device
// pixel ratios, against the same frame drawn naively (every layer from shapes and gradients each
// frame, nothing kept); then, on an X display, the process's CPU share while an orb window is
// shown at the display's rate and while it is hidden.
//
//   bench_orb                 the figures
//   bench_orb --show STATE [--compact] [--seconds N]
//                             only shows an orb window in that state (idle, gathering, speaking,
//                             failed) at 100,100 for N seconds (default 4), for screenshots

#include "bubble/OrbPainter.h"
#include "bubble/OrbSymbols.h"
#include "bubble/OrbView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>
#include <vector>

using namespace vardelle;
using Kind = AnnouncerState::Kind;

namespace {

const std::vector<std::pair<const char*, AnnouncerState>> kStates{
    {"idle", AnnouncerState::idle()},
    {"gathering", AnnouncerState::gathering()},
    {"speaking", AnnouncerState::speaking()},
    {"failed", AnnouncerState::failed("offline")}};

QColor alpha(QColor c, double a)
{
    c.setAlphaF(float(a));
    return c;
}

// The whole orb from shapes each frame: soft gradients instead of blurs, a clip path for the
// blobs, no images kept between frames.
void paintNaive(QPainter& p, const QRectF& square, Kind kind, double d, double t)
{
    const auto c = OrbPainter::palette(kind);
    const double phase = t * OrbPainter::speed(kind);
    const double s = 1 + 0.035 * std::sin(1.6 * phase);
    p.save();
    p.setClipRect(square);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(square.center());
    p.scale(s, s);
    p.setPen(Qt::NoPen);

    const double g = (1.3 + 0.05 * std::sin(2.1 * phase)) * 0.5 * d * 1.3;
    QRadialGradient glow(QPointF(0, 0), g);
    glow.setColorAt(0, alpha(c[0], 0.55));
    glow.setColorAt(0.45, alpha(c[0], 0.45));
    glow.setColorAt(0.75, alpha(c[1], 0.15));
    glow.setColorAt(1, alpha(c[1], 0));
    p.setBrush(glow);
    p.drawEllipse(QPointF(0, 0), g, g);

    QPainterPath disc;
    disc.addEllipse(QPointF(0, 0), d / 2, d / 2);
    p.setBrush(QColor::fromRgbF(0.92f, 0.94f, 0.97f, 0.22f));
    p.drawPath(disc);
    QRadialGradient body(QPointF(-0.15 * d, -0.22 * d), 0.78 * d);
    body.setColorAt(0, QColor::fromRgbF(1, 1, 1, 0.28f));
    body.setColorAt(1, QColor::fromRgbF(0, 0, 0, 0.38f));
    p.setBrush(body);
    p.drawPath(disc);

    p.save();
    p.setClipPath(disc, Qt::IntersectClip);
    p.setCompositionMode(QPainter::CompositionMode_Plus);
    for (int i = 0; i < 3; ++i) {
        const double ti = phase + 2.1 * i;
        const double r = d * (0.16 + 0.05 * std::sin(0.9 * ti + i));
        const double a = ti * (i % 2 == 0 ? 1.0 : -0.75);
        const double radius = d * (0.52 - 0.06 * i) / 2 + 0.17 * d;
        const QPointF centre(r * std::cos(a), r * std::sin(a));
        QRadialGradient blob(centre, radius);
        blob.setColorAt(0, alpha(c[i], 0.62));
        blob.setColorAt(0.5, alpha(c[i], 0.55));
        blob.setColorAt(1, alpha(c[i], 0));
        p.setBrush(blob);
        p.drawEllipse(centre, radius, radius);
    }
    p.restore();

    p.setCompositionMode(QPainter::CompositionMode_Screen);
    const QRectF hl(-0.23 * d, -0.39 * d, 0.46 * d, 0.26 * d);
    QLinearGradient highlight(hl.topLeft(), hl.bottomLeft());
    highlight.setColorAt(0, QColor::fromRgbF(1, 1, 1, 0.7f));
    highlight.setColorAt(1, QColor::fromRgbF(1, 1, 1, 0));
    p.setBrush(highlight);
    p.drawEllipse(hl);

    p.setCompositionMode(QPainter::CompositionMode_Plus);
    QConicalGradient rim(QPointF(0, 0), 0);
    rim.setColorAt(0, c[0]);
    rim.setColorAt(1.0 / 3, c[2]);
    rim.setColorAt(2.0 / 3, c[1]);
    rim.setColorAt(1, c[0]);
    const double w = std::max(0.018 * d, 1.0);
    p.setOpacity(0.75);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QBrush(rim), w));
    p.drawEllipse(QPointF(0, 0), (d - w) / 2, (d - w) / 2);
    p.setOpacity(1);

    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    if (d >= OrbPainter::kSymbolMinDiameter) {
        drawOrbSymbol(p, kind, QPointF(0, 1), 0.24 * d, QColor::fromRgbF(0, 0, 0, 0.35f));
        drawOrbSymbol(p, kind, QPointF(0, 0), 0.24 * d, QColor::fromRgbF(1, 1, 1, 0.92f));
    }
    if (kind == Kind::speaking) {
        p.setBrush(Qt::NoBrush);
        for (int i = 0; i < 2; ++i) {
            const double x = 0.9 * phase + i / 2.0;
            const double q = x - std::floor(x);
            p.save();
            p.scale(1 + 0.45 * q, 1 + 0.45 * q);
            p.setPen(QPen(alpha(c[0], (1 - q) * 0.55), 2));
            p.drawEllipse(QPointF(0, 0), d / 2, d / 2);
            p.restore();
        }
    }
    p.restore();
}

struct Timing {
    double mean = 0, p95 = 0;
};

Timing timeFrames(const std::function<void(QPainter&, const QRectF&, double)>& draw, double d,
                  qreal dpr)
{
    const double side = OrbPainter::kPanelRatio * d;
    QImage image(QSize(int(std::ceil(side * dpr)), int(std::ceil(side * dpr))),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    const QRectF square(0, 0, side, side);
    constexpr int warmUp = 30, frames = 600;
    std::vector<double> ms;
    ms.reserve(frames);
    QElapsedTimer clock;
    for (int i = 0; i < warmUp + frames; ++i) {
        image.fill(Qt::transparent);
        QPainter p(&image);
        clock.start();
        draw(p, square, 1000.0 + i / 60.0);
        p.end(); // the frame is done once the painter lets go
        if (i >= warmUp)
            ms.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    Timing t;
    for (const double v : ms)
        t.mean += v;
    t.mean /= double(ms.size());
    t.p95 = ms[size_t(double(ms.size()) * 0.95)];
    return t;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void runEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

class FrameCounter : public QObject {
public:
    int frames = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++frames;
        return false;
    }
};

QWidget* orbWindow(const AnnouncerState& state, double d, OrbView** orbOut)
{
    const int side = int(std::lround(OrbPainter::kPanelRatio * d));
    auto* window = new QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                            Qt::Tool | Qt::WindowDoesNotAcceptFocus);
    window->setAttribute(Qt::WA_TranslucentBackground);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->setGeometry(100, 100, side, side);
    auto* orb = new OrbView(window);
    orb->setGeometry(0, 0, side, side);
    orb->setState(state);
    *orbOut = orb;
    return window;
}

int showOnly(const QString& name, bool compact, int seconds)
{
    for (const auto& [stateName, state] : kStates) {
        if (name == QLatin1String(stateName)) {
            OrbView* orb = nullptr;
            QWidget* window = orbWindow(AnnouncerState::idle(), compact ? 44 : 96, &orb);
            window->show();
            orb->setState(state); // through the cross-fade, as the bubble does
            runEventLoop(seconds * 1000);
            delete window;
            return 0;
        }
    }
    std::fprintf(stderr, "unknown state: %s\n", qPrintable(name));
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (const qsizetype at = args.indexOf(QStringLiteral("--show"));
        at >= 0 && at + 1 < args.size()) {
        const qsizetype secondsAt = args.indexOf(QStringLiteral("--seconds"));
        const int seconds =
            secondsAt >= 0 && secondsAt + 1 < args.size() ? args[secondsAt + 1].toInt() : 4;
        return showOnly(args[at + 1], args.contains(QStringLiteral("--compact")), seconds);
    }

    std::printf("Frame time, ms (600 frames, ARGB32 premultiplied, panel square 1.9 d)\n");
    std::printf("%-10s %4s %4s | %7s %7s | %7s %7s | %6s\n", "state", "d", "dpr", "mean", "p95",
                "naive", "n.p95", "ratio");
    for (const qreal dpr : {1.0, 2.0}) {
        for (const double d : {96.0, 44.0}) {
            for (const auto& [name, state] : kStates) {
                OrbPainter painter;
                const Timing cached =
                    timeFrames([&](QPainter& p, const QRectF& sq,
                                   double t) { painter.paint(p, sq, state, d, t); },
                               d, dpr);
                const Kind kind = state.kind;
                const Timing naive = timeFrames(
                    [&](QPainter& p, const QRectF& sq, double t) { paintNaive(p, sq, kind, d, t); },
                    d, dpr);
                std::printf("%-10s %4.0f %4.0f | %7.3f %7.3f | %7.3f %7.3f | %5.1fx\n", name, d,
                            dpr, cached.mean, cached.p95, naive.mean, naive.p95,
                            naive.mean / cached.mean);
            }
        }
    }
    {
        // A state change: both looks drawn and mixed every frame for 0.45 s.
        OrbPainter painter;
        const Timing fade = timeFrames(
            [&](QPainter& p, const QRectF& sq, double t) {
                painter.paintCrossFade(p, sq, AnnouncerState::idle(), AnnouncerState::speaking(),
                                       96, t, 0.5);
            },
            96, 1);
        std::printf("cross-fade  96    1 | %7.3f %7.3f\n", fade.mean, fade.p95);
    }

    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        std::printf("\nNo DISPLAY: the on-screen CPU share is not measured.\n");
        return 0;
    }
    OrbView* orb = nullptr;
    QWidget* window = orbWindow(AnnouncerState::speaking(), 96, &orb);
    FrameCounter counter;
    orb->installEventFilter(&counter);
    window->show();
    runEventLoop(1000); // first frames, caches

    auto measure = [&](const char* label, int ms) {
        counter.frames = 0;
        const double cpu0 = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        runEventLoop(ms);
        const double seconds = double(wall.nsecsElapsed()) / 1e9;
        const double cpu = cpuSeconds() - cpu0;
        std::printf("%-28s %5.1f fps  CPU %5.2f %% of a core (%.3f s in %.2f s)\n", label,
                    counter.frames / seconds, 100 * cpu / seconds, cpu, seconds);
    };
    std::printf("\nOn %s, refresh rate %.1f Hz, 182x182 translucent window:\n",
                qPrintable(QGuiApplication::platformName()), orb->screen()->refreshRate());
    measure("shown, speaking, d 96", 5000);
    orb->setState(AnnouncerState::idle());
    runEventLoop(500);
    measure("shown, idle, d 96", 5000);
    window->hide();
    measure("hidden", 3000);
    delete window;
    return 0;
}
