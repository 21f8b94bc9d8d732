// Cost of the orb, against the way it was drawn before (the full-resolution renderer, which
// composes every layer at full resolution, its frame painted over the window in a repaint of the
// widget at every frame), measured in the same run. Now a frame is composed straight into the
// window's backing store.
//
// First the time to draw one frame offscreen, for each state at both diameters and at pixel
// ratios 1, 1.5 and 2, as the process's CPU time (which other programs on the machine do not
// inflate the way they do wall time) and as wall time. Then, on an X display, the process's
// share of a core while the bubble's own window (panel, container, orb) is shown at the display's
// rate in each state and size, at scale factors 1 and 2 (each in a child process, since Qt reads
// QT_SCALE_FACTOR once), and while hidden. The two ways take turns in alternating rounds, so
// that load from other programs falls on both alike. For a true figure the display needs a
// compositing manager, so the window is translucent as users get it: bench/orb-on-xvfb starts a
// private Xvfb with xcompmgr and runs this there.
//
//   bench_orb [--rounds N] [--scales 1,2]
//                             the figures; N alternating rounds of each renderer (default 3)
//   bench_orb ... --sse2     the same with the composing loops' SSE2 path on a processor with AVX2
//   bench_orb --show STATE [--compact] [--seconds N] [--over] [--full-resolution]
//                             only shows the bubble in that state (idle, gathering, speaking,
//                             failed) at 100,100 for N seconds (default 4), for screenshots;
//                             --over puts a patterned window under it to show its transparency

#include "bubble/BubblePanel.h"
#include "bubble/BubbleWidget.h"
#include "linux/desktop/X11Window.h"
#include "orb/OrbLook.h"
#include "orb/OrbPainter.h"
#include "orb/OrbPixels.h"
#include "orb/OrbView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <numbers>
#include <optional>
#include <vector>

using namespace vardelle;
using Kind = AnnouncerState::Kind;
using Renderer = OrbPainter::Renderer;

namespace {

const std::vector<std::pair<const char*, AnnouncerState>> kStates{
    {"idle", AnnouncerState::idle()},
    {"gathering", AnnouncerState::gathering()},
    {"speaking", AnnouncerState::speaking()},
    {"failed", AnnouncerState::failed("offline")}};

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

// Frames drawn by `draw` into an image of the panel's square, as into the window's backing store.
Timing timeFrames(const std::function<void(QImage&, const QRectF&, double)>& draw, double d,
                  qreal dpr)
{
    const double side = orblook::kPanelRatio * d;
    QImage image(QSize(int(std::ceil(side * dpr)), int(std::ceil(side * dpr))),
                 QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    const QRectF square(0, 0, side, side);
    constexpr int warmUp = 30, frames = 300;
    std::vector<double> cpu, wall;
    cpu.reserve(frames);
    wall.reserve(frames);
    QElapsedTimer clock;
    for (int i = 0; i < warmUp + frames; ++i) {
        image.fill(Qt::transparent); // as the window's backing store is cleared before a frame
        const double cpu0 = processCpuMs();
        clock.start();
        draw(image, square, 1000.0 + i / 60.0);
        if (i >= warmUp) {
            wall.push_back(double(clock.nsecsElapsed()) / 1e6);
            cpu.push_back(processCpuMs() - cpu0);
        }
    }
    return {stats(cpu), stats(wall)};
}

// A frame now, composed into the image, or before: the full-resolution renderer's frame painted
// over it, the painter done once it lets go.
void drawFrame(OrbPainter& painter, QImage& image, const QRectF& square, const AnnouncerState& from,
               const AnnouncerState& to, double d, double t, double progress)
{
    if (painter.renderer() == Renderer::fast) {
        painter.drawInto(image, square, from, to, d, t, progress);
        return;
    }
    QPainter p(&image);
    painter.paintCrossFade(p, square, from, to, d, t, progress);
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

// The ways of drawing the bubble's frames compared on screen: now (the orb's own images put on
// the window), the fast renderer straight into the window's backing store, and before (the
// full-resolution renderer repainting the widget).
enum class Way { now, backingStore, before };
constexpr std::array kWays{Way::before, Way::backingStore, Way::now};

// The orb as the bubble hosts it, counting its frames and the thread time spent drawing them,
// without a paint event or through one.
class TimedOrb : public OrbView {
public:
    using OrbView::OrbView;
    int frames = 0;
    double paintMs = 0;

    void drawAs(Way way)
    {
        setRenderer(way == Way::before ? Renderer::fullResolution : Renderer::fast);
        setPresentation(way == Way::now            ? Presentation::ownImages
                        : way == Way::backingStore ? Presentation::backingStore
                                                   : Presentation::repaint);
    }

protected:
    bool drawFrame() override
    {
        const double cpu0 = threadCpuMs();
        const qint64 skipped = skippedFrames();
        const bool drawn = OrbView::drawFrame();
        if (drawn && skippedFrames() == skipped) {
            paintMs += threadCpuMs() - cpu0;
            ++frames;
        }
        return drawn;
    }
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
        panel->setWidget(container);
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

int showOnly(const QString& name, bool compact, int seconds, bool over, Renderer renderer)
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
    bubble.orb->drawAs(renderer == Renderer::fullResolution ? Way::before : Way::now);
    bubble.panel->show();
    bubble.orb->setState(*state); // through the cross-fade, as the bubble does
    runEventLoop(seconds * 1000);
    return 0;
}

// Share of a core, in percent, of each round.
struct Shares {
    std::vector<double> values;
    double mean() const
    {
        double sum = 0;
        for (const double v : values)
            sum += v;
        return values.empty() ? 0 : sum / double(values.size());
    }
    QString range() const
    {
        const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
        return QString::asprintf("%5.2f-%5.2f", *lo, *hi);
    }
};

struct Round {
    double share = 0; // process CPU over wall time, percent
    double fps = 0;
    double paintMs = 0; // per frame, the orb's paint events alone
};

Round measure(Bubble& bubble, int ms)
{
    bubble.orb->frames = 0;
    bubble.orb->paintMs = 0;
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runEventLoop(ms);
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    Round r;
    r.share = 100 * (cpuSeconds() - cpu0) / seconds;
    r.fps = bubble.orb->frames / seconds;
    r.paintMs = bubble.orb->frames ? bubble.orb->paintMs / bubble.orb->frames : 0;
    return r;
}

// The bubble's window in each state and size at this process's scale factor, the ways of drawing
// in alternating rounds.
void measureOnScreen(int rounds)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    std::printf("\nScale factor %s (device pixel ratio %.2f) on %s, %.0f Hz, %s\n",
                qgetenv("QT_SCALE_FACTOR").isEmpty() ? "1" : qgetenv("QT_SCALE_FACTOR").constData(),
                screen->devicePixelRatio(), qgetenv("DISPLAY").constData(), screen->refreshRate(),
                x11::compositorRunning() ? "translucent over a compositing manager"
                                         : "NO compositing manager (clipped to a circle)");
    std::printf("%-10s %4s | %5s | %13s %8s | %13s %8s | %13s %8s | %6s %6s\n", "state", "d", "fps",
                "now: CPU %", "paint ms", "store: CPU %", "paint ms", "before: CPU %", "paint ms",
                "/store", "/before");
    constexpr int kRoundMs = 2000, kSettleMs = 400;
    for (const bool compact : {false, true}) {
        Bubble bubble(compact, AnnouncerState::idle());
        bubble.panel->show();
        runEventLoop(1000); // first frames
        for (const auto& [name, state] : kStates) {
            bubble.orb->setState(state);
            std::array<Shares, 3> shares;
            std::array<double, 3> paint{};
            double fps = 0;
            for (int round = 0; round < rounds; ++round) {
                for (const Way way : kWays) {
                    bubble.orb->drawAs(way);
                    runEventLoop(kSettleMs); // past the cross-fade, the scene made
                    const Round r = measure(bubble, kRoundMs);
                    shares[size_t(way)].values.push_back(r.share);
                    paint[size_t(way)] += r.paintMs / rounds;
                    if (way == Way::now)
                        fps += r.fps / rounds;
                }
            }
            std::array<QByteArray, 3> share;
            for (size_t i = 0; i < share.size(); ++i)
                share[i] = shares[i].range().toLatin1();
            auto ratio = [&](Way way) {
                return shares[size_t(way)].mean() / std::max(shares[0].mean(), 1e-9);
            };
            std::printf(
                "%-10s %4d | %5.1f | %13s %8.3f | %13s %8.3f | %13s %8.3f | %5.1fx %5.1fx\n", name,
                BubblePanel::orbDiameter(compact), fps, share[0].constData(),
                paint[size_t(Way::now)], share[1].constData(), paint[size_t(Way::backingStore)],
                share[2].constData(), paint[size_t(Way::before)], ratio(Way::backingStore),
                ratio(Way::before));
        }
        if (!compact) {
            bubble.orb->drawAs(Way::now);
            bubble.panel->hide();
            const Round r = measure(bubble, 3000);
            std::printf("%-10s %4d | %5.1f | %13.2f %8s |\n", "hidden", 96, r.fps, r.share, "");
        }
    }
}

// Runs this program once per scale factor for the on-screen figures.
void measureScales(const QStringList& scales, int rounds)
{
    for (const QString& scale : scales) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), scale);
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        QStringList arguments{QStringLiteral("--on-screen"), QStringLiteral("--rounds"),
                              QString::number(rounds)};
        if (orbpixels::simd() == orbpixels::Simd::sse2)
            arguments << QStringLiteral("--sse2");
        child.start(QCoreApplication::applicationFilePath(), arguments);
        child.waitForFinished(-1);
    }
    std::printf(
        "(CPU %%: user + system time of the whole process over wall time, the lowest and "
        "highest of the rounds; paint ms: thread CPU per frame, composing and putting it "
        "on screen, or the paint event; now: the orb's own shared images put on the "
        "window; store: the same frames composed into the window's backing store, which "
        "is flushed; before: the full-resolution renderer repainting the widget, as the orb was "
        "first drawn; /store, /before: their mean share over now's)\n");
}

QString argument(const QStringList& args, const QString& name, const QString& fallback)
{
    const qsizetype at = args.indexOf(name);
    return at >= 0 && at + 1 < args.size() ? args[at + 1] : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // rows as they come, also into a pipe or file
    const QStringList args = app.arguments();
    const int rounds = std::max(1, argument(args, QStringLiteral("--rounds"), "3").toInt());
    if (args.contains(QStringLiteral("--sse2")))
        orbpixels::setSimd(orbpixels::Simd::sse2);
    std::printf("Composing loops: %s\n",
                orbpixels::simd() == orbpixels::Simd::avx2 ? "AVX2" : "SSE2");
    if (args.contains(QStringLiteral("--show"))) {
        return showOnly(argument(args, QStringLiteral("--show"), {}),
                        args.contains(QStringLiteral("--compact")),
                        argument(args, QStringLiteral("--seconds"), "4").toInt(),
                        args.contains(QStringLiteral("--over")),
                        args.contains(QStringLiteral("--full-resolution"))
                            ? Renderer::fullResolution
                            : Renderer::fast);
    }
    if (args.contains(QStringLiteral("--on-screen"))) {
        measureOnScreen(rounds);
        return 0;
    }

    std::printf("Time per frame, ms (frames into an ARGB32 premultiplied image of the panel's "
                "square, 1.9 d):\nthe orb as drawn now, and before: the full-resolution renderer, "
                "every layer at full resolution\n");
    std::printf("%-10s %4s %4s | %15s | %15s | %15s | %6s\n", "", "", "", "orb: CPU", "orb: wall",
                "before: CPU", "");
    std::printf("%-10s %4s %4s | %7s %7s | %7s %7s | %7s %7s | %6s\n", "state", "d", "dpr", "mean",
                "p95", "mean", "p95", "mean", "p95", "ratio");
    auto row = [](const char* name, double d, qreal dpr, const Timing& orb, const Timing& base) {
        std::printf("%-10s %4.0f %4.1f | %7.3f %7.3f | %7.3f %7.3f | %7.3f %7.3f | %5.1fx\n", name,
                    d, dpr, orb.cpu.mean, orb.cpu.p95, orb.wall.mean, orb.wall.p95, base.cpu.mean,
                    base.cpu.p95, base.cpu.mean / orb.cpu.mean);
    };
    for (const qreal dpr : {1.0, 1.5, 2.0}) {
        for (const double d : {96.0, 44.0}) {
            for (const auto& [name, state] : kStates) {
                Timing timing[2];
                for (const Renderer renderer : {Renderer::fast, Renderer::fullResolution}) {
                    OrbPainter painter(renderer);
                    timing[renderer == Renderer::fullResolution] = timeFrames(
                        [&](QImage& image, const QRectF& sq, double t) {
                            drawFrame(painter, image, sq, state, state, d, t, 1);
                        },
                        d, dpr);
                }
                row(name, d, dpr, timing[0], timing[1]);
            }
        }
    }
    for (const qreal dpr : {1.0, 2.0}) {
        // A state change: both looks drawn and mixed every frame for 0.45 s.
        Timing timing[2];
        for (const Renderer renderer : {Renderer::fast, Renderer::fullResolution}) {
            OrbPainter painter(renderer);
            timing[renderer == Renderer::fullResolution] = timeFrames(
                [&](QImage& image, const QRectF& sq, double t) {
                    drawFrame(painter, image, sq, AnnouncerState::idle(),
                              AnnouncerState::speaking(), 96, t, 0.5);
                },
                96, dpr);
        }
        row("cross-fade", 96, dpr, timing[0], timing[1]);
    }
    std::printf("(CPU: time of every thread of the process; wall: elapsed time, which other "
                "programs on the machine inflate)\n");

    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        std::printf("\nNo DISPLAY: the on-screen CPU share is not measured.\n");
        return 0;
    }
    measureScales(
        argument(args, QStringLiteral("--scales"), QStringLiteral("1,2")).split(QLatin1Char(',')),
        rounds);
    return 0;
}
