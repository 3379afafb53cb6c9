// Capturing a 1280 × 800 rectangle on a private Xvfb desktop: read live (XShm), and as after a
// selection (the whole desktop pictured when the overlay shows, the rectangle cut from it), each
// alone and with PNG encoding as the model does it.
#include "app/platform/linux/x11/X11WindowImages.h"
#include "app/platform/linux/x11/X11WindowList.h"
#include "app/selection/PNGEncoder.h"
#include "app/selection/ScreenCaptureService.h"
#include "fakes/FakeSystem.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/X11Client.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <thread>

// Xlib last: its macros clash with the names above.
#include "app/platform/linux/x11/X11Support.h"

namespace {

using namespace zorvane;

const Rect area(0, 0, 1280, 800);

struct Desktop {
    testing::DesktopSession session {{.twoMonitors = true, .windowManager = true, .accessibilityBus = false}};
    std::shared_ptr<X11WindowImages> images {X11WindowImages::create()};
    std::unique_ptr<X11WindowList> windows {X11WindowList::create()};
    x11::DisplayPtr display {x11::openDisplay()};
    Window panel = 0;
    std::shared_ptr<fakes::FakePermissions> permissions = std::make_shared<fakes::FakePermissions>();
    ScreenCaptureService service {permissions, images};

    Desktop()
    {
        permissions->screenRecording = true;
        Display* d = display.get();
        // A document full of text, a photo-like gradient over part of it, and the panel on top.
        const Window document = window("document", 0xffffff, 0, 0, 1280, 800);
        GC gc = XCreateGC(d, document, 0, nullptr);
        std::mt19937 random(3);
        const std::string letters = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789 .,;:";
        for (int y = 40; y < 800; y += 16) {
            std::string line;
            const int length = 60 + static_cast<int>(random() % 100);
            for (int i = 0; i < length; ++i) line += letters[random() % letters.size()];
            XSetForeground(d, gc, (random() % 7 == 0) ? 0x1a5fb4 : 0x202020);
            XDrawString(d, document, gc, 12 + static_cast<int>(random() % 40), y, line.data(), static_cast<int>(line.size()));
        }
        const Window photo = window("photo", 0, 640, 360, 600, 400);
        std::vector<std::uint32_t> pixels(600 * 400);
        for (int y = 0; y < 400; ++y)
            for (int x = 0; x < 600; ++x) {
                const int r = x * 255 / 600, g = y * 255 / 400, b = static_cast<int>(127 + 127 * std::sin(x * 0.03 + y * 0.05));
                pixels[static_cast<std::size_t>(y) * 600 + x] = static_cast<std::uint32_t>(r << 16 | g << 8 | b) ^ (random() & 0x070707);
            }
        XImage* image = XCreateImage(d, DefaultVisual(d, DefaultScreen(d)), 24, ZPixmap, 0,
            reinterpret_cast<char*>(pixels.data()), 600, 400, 32, 0);
        XPutImage(d, photo, gc, image, 0, 0, 0, 0, 600, 400);
        image->data = nullptr;
        XDestroyImage(image);
        // Twenty more windows elsewhere, above the document, as on a busy desktop.
        for (int i = 0; i < 20; ++i)
            window(("other " + std::to_string(i)).c_str(), 0x808080 + static_cast<std::uint32_t>(i), 1500 + 60 * (i % 10),
                100 + 300 * (i / 10), 300, 200);
        panel = window("panel", 0xf0f0f0, 900, 100, 380, 600);
        XFreeGC(d, gc);
        XSync(d, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }

    Window window(const char* name, std::uint32_t background, int x, int y, int width, int height)
    {
        windowsShown.push_back(std::make_unique<testing::ColouredWindow>(display.get(), name, background, x, y, width, height));
        session.waitForWindow(name);
        return windowsShown.back()->id();
    }
    std::vector<std::unique_ptr<testing::ColouredWindow>> windowsShown;
};

Desktop& desktop()
{
    static Desktop* instance = new Desktop;
    return *instance;
}

// After a selection: the desktop pictured (as when the overlay shows) and the panel left out,
// since the picture was taken before it showed.
std::optional<WindowNumber> below(bool pictured)
{
    if (!pictured) return std::nullopt;
    desktop().images->holdSnapshot();
    return static_cast<WindowNumber>(desktop().panel);
}

void BM_Capture(benchmark::State& state)
{
    const bool pictured = state.range(0);
    for (auto _ : state) benchmark::DoNotOptimize(desktop().images->compositeImage(area, below(pictured)));
    state.SetLabel(pictured ? "whole desktop pictured, then cut" : "the rectangle, live");
}
BENCHMARK(BM_Capture)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CaptureAndPNG(benchmark::State& state)
{
    const bool pictured = state.range(0);
    for (auto _ : state) benchmark::DoNotOptimize(desktop().service.capture(area, below(pictured)));
    state.SetLabel(pictured ? "whole desktop pictured, then cut + PNG" : "the rectangle, live + PNG");
}
BENCHMARK(BM_CaptureAndPNG)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The application window under a point deep in the stack: the adapter's own walk, which stops at
// the first match, against listing every window as the port's default does before searching.
void BM_WindowUnderPoint(benchmark::State& state)
{
    const int variant = static_cast<int>(state.range(0));
    const Point point {100, 500};
    for (auto _ : state) {
        if (variant == 2) {
            benchmark::DoNotOptimize(desktop().windows->topmostApplicationWindowAtPixel(point, std::nullopt));
        } else if (variant == 1) {
            benchmark::DoNotOptimize(desktop().windows->topmostApplicationWindow(point, 0));
        } else {
            auto all = desktop().windows->onScreenWindows();
            const WindowInfo* hit = nullptr;
            for (const auto& w : *all)
                if (w.layer == 0 && w.ownerPID && w.bounds && w.bounds->contains(point)) {
                    hit = &w;
                    break;
                }
            benchmark::DoNotOptimize(hit);
        }
    }
    const char* labels[] = {"onScreenWindows, then search", "topmostApplicationWindow",
        "the same in root pixels (no monitor read)"};
    state.SetLabel(labels[variant]);
}
BENCHMARK(BM_WindowUnderPoint)->Arg(1)->Arg(2)->Arg(0)->Unit(benchmark::kMicrosecond)->UseRealTime();

double threadCPUMilliseconds()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Median wall-clock and median CPU time of this thread, in milliseconds.
std::pair<double, double> medianMilliseconds(const std::function<void()>& work, int runs = 21)
{
    std::vector<double> wall, cpu;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = threadCPUMilliseconds();
        work();
        cpu.push_back(threadCPUMilliseconds() - cpuStart);
        wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(wall.begin(), wall.begin() + runs / 2, wall.end());
    std::nth_element(cpu.begin(), cpu.begin() + runs / 2, cpu.end());
    return {wall[static_cast<std::size_t>(runs / 2)], cpu[static_cast<std::size_t>(runs / 2)]};
}

void printShares()
{
    std::printf("\n1280 x 800, medians of 21 (shared 2-core machine: expect noise)\n");
    std::printf("wall-clock (CPU of this process in brackets; the X server's work is not in it)\n");
    std::printf("%-30s %18s %18s %18s %10s\n", "path", "capture", "PNG", "total", "PNG share");
    for (const bool pictured : {false, true}) {
        const auto image = desktop().images->compositeImage(area, below(pictured));
        if (!image) continue;
        const auto capture = medianMilliseconds([&] { desktop().images->compositeImage(area, below(pictured)); });
        const auto png = medianMilliseconds([&] {
            PNGEncoder::encodeBGRX(image->pixels.data(), image->pixels.size(), image->width, image->height, image->stride);
        });
        const auto total = medianMilliseconds([&] { desktop().service.capture(area, below(pictured)); });
        std::printf("%-30s %6.1f (%5.1f) ms %6.1f (%5.1f) ms %6.1f (%5.1f) ms %9.0f %%\n",
            pictured ? "pictured desktop, cut" : "live rectangle (XShm)", capture.first, capture.second, png.first,
            png.second, total.first, total.second, 100 * png.first / total.first);
    }
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    desktop();
    benchmark::RunSpecifiedBenchmarks();
    printShares();
    benchmark::Shutdown();
    // The desktop is stopped when the process ends (its processes die with it).
    return 0;
}
