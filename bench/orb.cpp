// Cost of the orb. First the time to draw one frame offscreen, for each state at both diameters
// and device pixel ratios, against a plain frame drawn from the seven layers' shapes and
// gradients every time (nothing kept between frames); measured as the process's CPU time, which
// other programs on the machine do not inflate the way they do wall time, and as wall time. Then,
// on an X display, the process's CPU share while the bubble's own window (panel, container, orb) is
// shown at the display's rate in each state and size, the part of it spent painting the orb, and
// while hidden. For a true figure the display needs a compositing manager, so the window is
// translucent as users get it: bench/orb-on-xvfb starts a private Xvfb with xcompmgr and runs this
// there.
//
//   bench_orb                 the figures
//   bench_orb --show STATE [--compact] [--seconds N] [--over]
//                             only shows the bubble in that state (idle, gathering, speaking,
//                             failed) at 100,100 for N seconds (default 4), for screenshots;
//                             --over puts a patterned window under it to show its transparency

#include "bubble/BubblePanel.h"
#include "bubble/BubbleWidget.h"
#include "linux/desktop/X11Window.h"
#include "orb/OrbPainter.h"
#include "orb/OrbSymbols.h"
#include "orb/OrbView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <numbers>
#include <optional>
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

struct Stats {
    double mean = 0, p95 = 0;
};

struct Timing {
    Stats cpu, wall;
};

Stats stats(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    Stats s;
    for (const double v : ms)
        s.mean += v;
    s.mean /= double(ms.size());
    s.p95 = ms[size_t(double(ms.size()) * 0.95)];
    return s;
}

double cpuMs(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// All threads: QPainter hands larger fills to a pool of its own.
double processCpuMs()
{
    return cpuMs(CLOCK_PROCESS_CPUTIME_ID);
}

double threadCpuMs()
{
    return cpuMs(CLOCK_THREAD_CPUTIME_ID);
}

Timing timeFrames(const std::function<void(QPainter&, const QRectF&, double)>& draw, double d,
                  qreal dpr)
{
    const double side = OrbPainter::kPanelRatio * d;
    QImage image(QSize(int(std::ceil(side * dpr)), int(std::ceil(side * dpr))),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    const QRectF square(0, 0, side, side);
    constexpr int warmUp = 30, frames = 600;
    std::vector<double> cpu, wall;
    cpu.reserve(frames);
    wall.reserve(frames);
    QElapsedTimer clock;
    for (int i = 0; i < warmUp + frames; ++i) {
        image.fill(Qt::transparent); // as the window's backing store is cleared before a frame
        QPainter p(&image);
        const double cpu0 = processCpuMs();
        clock.start();
        draw(p, square, 1000.0 + i / 60.0);
        p.end(); // the frame is done once the painter lets go
        if (i >= warmUp) {
            wall.push_back(double(clock.nsecsElapsed()) / 1e6);
            cpu.push_back(processCpuMs() - cpu0);
        }
    }
    return {stats(cpu), stats(wall)};
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

// The orb as the bubble hosts it, counting its frames and the thread time spent painting them.
class TimedOrb : public OrbView {
public:
    using OrbView::OrbView;
    int frames = 0;
    double paintMs = 0;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        const double cpu0 = threadCpuMs();
        OrbView::paintEvent(event);
        paintMs += threadCpuMs() - cpu0;
        ++frames;
    }
};

// The bubble's window as the controller builds it: panel, container, orb filling it.
struct Bubble {
    BubblePanel* panel = nullptr;
    TimedOrb* orb = nullptr;

    Bubble(bool compact, const AnnouncerState& state)
    {
        panel = new BubblePanel(BubblePanel::side(compact));
        auto* container = new BubbleWidget;
        panel->setContentView(container);
        orb = new TimedOrb(container);
        orb->setGeometry(container->rect());
        orb->setState(state);
        panel->move(100, 100);
    }
    ~Bubble() { delete panel; }
};

// A patterned window for the bubble to float over, so that its transparency shows.
class Backdrop : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        constexpr int cell = 16;
        for (int y = 0; y < height(); y += cell) {
            for (int x = 0; x < width(); x += cell) {
                const bool dark = ((x + y) / cell) % 2 == 0;
                p.fillRect(x, y, cell, cell, dark ? QColor(70, 70, 80) : QColor(200, 190, 170));
            }
        }
        p.fillRect(0, height() / 2 - 12, width(), 24, QColor(220, 60, 40));
    }
};

std::optional<AnnouncerState> stateNamed(const QString& name)
{
    for (const auto& [stateName, state] : kStates) {
        if (name == QLatin1String(stateName))
            return state;
    }
    return std::nullopt;
}

int showOnly(const QString& name, bool compact, int seconds, bool over)
{
    const std::optional<AnnouncerState> state = stateNamed(name);
    if (!state) {
        std::fprintf(stderr, "unknown state: %s\n", qPrintable(name));
        return 2;
    }
    std::unique_ptr<Backdrop> backdrop;
    if (over) {
        backdrop = std::make_unique<Backdrop>();
        backdrop->setGeometry(40, 40, 320, 320);
        backdrop->show();
        runEventLoop(300);
    }
    Bubble bubble(compact, AnnouncerState::idle());
    bubble.panel->show();
    bubble.orb->setState(*state); // through the cross-fade, as the bubble does
    runEventLoop(seconds * 1000);
    return 0;
}

void measureOnScreen()
{
    std::printf("\nOn %s (%s), refresh rate %.1f Hz: the bubble's window shown at the "
                "display's rate, %s\n",
                qPrintable(QGuiApplication::platformName()), qgetenv("DISPLAY").constData(),
                QGuiApplication::primaryScreen()->refreshRate(),
                x11::compositorRunning() ? "translucent over a compositing manager"
                                         : "NO compositing manager (clipped to a circle)");
    std::printf("%-10s %4s | %5s | %13s | %13s | %9s\n", "state", "d", "fps", "process CPU",
                "painting", "ms/frame");
    auto measure = [](Bubble& bubble, int ms, double& fps, double& cpuShare, double& paintShare,
                      double& msPerFrame) {
        bubble.orb->frames = 0;
        bubble.orb->paintMs = 0;
        const double cpu0 = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        runEventLoop(ms);
        const double seconds = double(wall.nsecsElapsed()) / 1e9;
        const double cpu = cpuSeconds() - cpu0;
        fps = bubble.orb->frames / seconds;
        cpuShare = 100 * cpu / seconds;
        paintShare = 100 * bubble.orb->paintMs / 1e3 / seconds;
        msPerFrame = bubble.orb->frames ? 1e3 * cpu / bubble.orb->frames : 0;
    };
    for (const bool compact : {false, true}) {
        Bubble bubble(compact, AnnouncerState::idle());
        bubble.panel->show();
        runEventLoop(1000); // first frames, every layer made
        for (const auto& [name, state] : kStates) {
            bubble.orb->setState(state);
            runEventLoop(1500); // past the cross-fade, the new layers made
            double fps = 0, cpu = 0, paint = 0, perFrame = 0;
            measure(bubble, 5000, fps, cpu, paint, perFrame);
            std::printf("%-10s %4d | %5.1f | %9.2f %% | %9.2f %% | %9.3f\n", name,
                        BubblePanel::orbDiameter(compact), fps, cpu, paint, perFrame);
        }
        if (!compact) {
            bubble.panel->hide();
            double fps = 0, cpu = 0, paint = 0, perFrame = 0;
            measure(bubble, 3000, fps, cpu, paint, perFrame);
            std::printf("%-10s %4d | %5.1f | %9.2f %% | %9.2f %% |\n", "hidden", 96, fps, cpu,
                        paint);
        }
    }
    std::printf("(process CPU: user + system time of the whole process over wall time; "
                "painting: the orb's paint events alone; ms/frame: process CPU per frame)\n");
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // rows as they come, also into a pipe or file
    const QStringList args = app.arguments();
    if (const qsizetype at = args.indexOf(QStringLiteral("--show"));
        at >= 0 && at + 1 < args.size()) {
        const qsizetype secondsAt = args.indexOf(QStringLiteral("--seconds"));
        const int seconds =
            secondsAt >= 0 && secondsAt + 1 < args.size() ? args[secondsAt + 1].toInt() : 4;
        return showOnly(args[at + 1], args.contains(QStringLiteral("--compact")), seconds,
                        args.contains(QStringLiteral("--over")));
    }

    std::printf("Time per frame, ms (600 frames into an ARGB32 premultiplied image of the panel's "
                "square, 1.9 d):\nthe orb as drawn, and the baseline: all seven layers drawn from "
                "shapes every frame\n");
    std::printf("%-10s %4s %3s | %15s | %15s | %15s | %6s\n", "", "", "", "orb: CPU", "orb: wall",
                "baseline: CPU", "");
    std::printf("%-10s %4s %3s | %7s %7s | %7s %7s | %7s %7s | %6s\n", "state", "d", "dpr", "mean",
                "p95", "mean", "p95", "mean", "p95", "ratio");
    auto row = [](const char* name, double d, qreal dpr, const Timing& orb, const Timing* base) {
        std::printf("%-10s %4.0f %3.0f | %7.3f %7.3f | %7.3f %7.3f", name, d, dpr, orb.cpu.mean,
                    orb.cpu.p95, orb.wall.mean, orb.wall.p95);
        if (base)
            std::printf(" | %7.3f %7.3f | %5.1fx\n", base->cpu.mean, base->cpu.p95,
                        base->cpu.mean / orb.cpu.mean);
        else
            std::printf(" |\n");
    };
    for (const qreal dpr : {1.0, 2.0}) {
        for (const double d : {96.0, 44.0}) {
            for (const auto& [name, state] : kStates) {
                OrbPainter painter;
                const Timing orb = timeFrames([&](QPainter& p, const QRectF& sq,
                                                  double t) { painter.paint(p, sq, state, d, t); },
                                              d, dpr);
                const Kind kind = state.kind;
                const Timing base = timeFrames(
                    [&](QPainter& p, const QRectF& sq, double t) { paintNaive(p, sq, kind, d, t); },
                    d, dpr);
                row(name, d, dpr, orb, &base);
            }
        }
    }
    for (const double d : {96.0, 44.0}) {
        // A state change: both looks drawn and mixed every frame for 0.45 s.
        OrbPainter painter;
        const Timing fade = timeFrames(
            [&](QPainter& p, const QRectF& sq, double t) {
                painter.paintCrossFade(p, sq, AnnouncerState::idle(), AnnouncerState::speaking(), d,
                                       t, 0.5);
            },
            d, 1);
        row("cross-fade", d, 1, fade, nullptr);
    }
    std::printf("(CPU: time of every thread of the process, so the baseline's includes the "
                "threads QPainter hands larger fills to; the orb's frames use none)\n");

    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        std::printf("\nNo DISPLAY: the on-screen CPU share is not measured.\n");
        return 0;
    }
    measureOnScreen();
    return 0;
}
