// The hover lookup on sway and KWin, as the overlay asks it on every pointer move: context(at:)
// over the compositor helper's window list and the AT-SPI adapter at random points of a GTK 3
// button in a window that is not at the origin: median and 99th percentile of 500 lookups, side by
// side with benchmarks/atspi's figures on X11. Then what one reading of sway's tree costs the
// feed's thread, and what KWin's pointer stream at 1,000 moves a second costs our main thread.
// Prints figures; never fails. Run: wayland_hover_benchmarks [sway|kwin]
#include "app/core/SystemClock.h"
#include "app/platform/linux/atspi/AtspiAccessibilityTree.h"
#include "app/platform/linux/wayland/CompositorWindows.h"
#include "app/platform/linux/wayland/HelperWindowFeed.h"
#include "app/platform/linux/wayland/SwayWindowFeed.h"
#include "app/selection/AccessibilitySelectionService.h"
#include "fakes/FakeSystem.h"
#include "fakes/FakeWindowSystem.h"
#include "tests/support/WaylandWorld.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QTimer>

#include <glib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <ctime>
#include <random>
#include <thread>

using namespace zorvane;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr int lookups = 500;

// The button: 240×80, 40 px into the client area of the window titled "Botones".
constexpr const char* buttonWindow = "import gi; gi.require_version('Gtk', '3.0'); from gi.repository import Gtk\n"
    "w = Gtk.Window(title='Botones'); b = Gtk.Button(label='Enviar'); b.set_size_request(240, 80)\n"
    "b.set_halign(Gtk.Align.START); b.set_valign(Gtk.Align.START); b.set_margin_start(40); b.set_margin_top(40)\n"
    "w.add(b); w.connect('destroy', Gtk.main_quit); w.show_all(); Gtk.main()\n";

double milliseconds(SteadyClock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

void runEvents()
{
    QCoreApplication::processEvents();
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

double threadSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

// The button window's client area, once the helper lists it in front.
std::optional<Rect> buttonWindowArea(CompositorWindows& windows)
{
    std::optional<Rect> area;
    testing::waitUntil(15, [&] {
        runEvents();
        const auto active = windows.active();
        if (active && active->title == "Botones") area = active->client;
        return area.has_value();
    });
    return area;
}

void hover(const char* desktop, const std::shared_ptr<CompositorWindows>& windows, const Rect& client)
{
    auto permissions = std::make_shared<fakes::FakePermissions>();
    permissions->accessibility = true;
    auto screens = std::make_shared<fakes::FakeScreens>();
    screens->addScreen(Rect(0, 0, 1280, 800));
    auto tree = std::make_shared<AtspiAccessibilityTree>(windows->rootCoordinates(::getpid()));
    AccessibilitySelectionService service(permissions, windows, tree, screens, std::make_shared<SystemClock>(), ::getpid());
    const Rect button(client.minX() + 40, client.minY() + 40, 240, 80);
    testing::waitUntil(20, [&] {
        runEvents();
        const auto found = service.context({button.midX(), button.midY()});
        return found && found->title.find("Enviar") != std::string::npos;
    });
    std::mt19937 random(12345);
    std::uniform_real_distribution<double> across(button.minX() + 1, button.maxX() - 1), down(button.minY() + 1, button.maxY() - 1);
    std::vector<double> times;
    int found = 0;
    const auto callsBefore = tree->busCalls();
    for (int i = 0; i < lookups; ++i) {
        runEvents();
        const Point at {across(random), down(random)};
        const auto start = SteadyClock::now();
        const auto context = service.context(at);
        times.push_back(milliseconds(SteadyClock::now() - start));
        if (context && context->title.find("Enviar") != std::string::npos) ++found;
    }
    std::sort(times.begin(), times.end());
    std::printf("%-5s GTK 3 button in a window at (%g, %g): context(at:) p50 %6.2f ms   p99 %6.2f ms   max %6.2f ms   "
                "bus requests/lookup %5.1f   button found %d/%d\n",
        desktop, client.minX(), client.minY(), times[times.size() / 2], times[times.size() * 99 / 100], times.back(),
        double(tree->busCalls() - callsBefore) / lookups, found, lookups);
}

void onSway()
{
    testing::WaylandWorld world(testing::WaylandDesktop::sway);
    world.startColourWindow("2a9d4b");
    testing::waitUntil(10, [&] { return world.pixel(300, 300) == 0x2a9d4bu; });
    world.processes().start({"/usr/bin/python3", "-c", buttonWindow}, {{"GDK_BACKEND", "wayland"}});
    auto windows = std::make_shared<CompositorWindows>([] { return Point {0, 0}; }, nullptr);
    const auto feed = SwayWindowFeed::start(SwayWindowFeed::socketFromEnvironment(), windows);
    const auto client = feed ? buttonWindowArea(*windows) : std::nullopt;
    if (!client) return (void)std::printf("sway: the window list or the button's window did not come\n");
    hover("sway", windows, *client);

    // One reading of the tree on the feed's thread: ask, wait until the new list is there.
    std::vector<double> readings;
    for (int i = 0; i < 50; ++i) {
        windows->forget();
        const auto start = SteadyClock::now();
        feed->refresh();
        while (!windows->known()) std::this_thread::yield();
        readings.push_back(milliseconds(SteadyClock::now() - start));
    }
    std::sort(readings.begin(), readings.end());
    std::printf("      sway's tree read and parsed on the feed's thread: p50 %.2f ms   max %.2f ms (the main thread never waits)\n",
        readings[readings.size() / 2], readings.back());
}

void onKWin(int argc, char** argv)
{
    testing::WaylandWorld world(testing::WaylandDesktop::kwin);
    world.startColourWindow("2a9d4b");
    testing::waitUntil(10, [&] { return world.pixel(300, 300) == 0x2a9d4bu; });
    world.processes().start({"/usr/bin/python3", "-c", buttonWindow}, {{"GDK_BACKEND", "wayland"}});
    ::setenv("QT_QPA_PLATFORM", "wayland", 1);
    QGuiApplication application(argc, argv);
    auto clock = std::make_shared<SystemClock>();
    auto monitors = std::make_shared<WaylandEventMonitors>(clock);
    std::atomic<int> moves {0};
    monitors->addGlobalPointerMovedMonitor([&](const PointerMovement&) { ++moves; });
    auto windows = std::make_shared<CompositorWindows>([] { return Point {0, 0}; }, nullptr);
    const auto feed = HelperWindowFeed::start(QStringLiteral("org.kde.KWin"), ZORVANE_KWIN_SCRIPT, windows, monitors, clock);
    const auto client = feed ? buttonWindowArea(*windows) : std::nullopt;
    if (!client) {
        std::printf("KWin: the helper (%s) or the button's window did not come; %zu windows listed\n", feed ? "started" : "not started", windows->onScreenWindows().value_or(std::vector<WindowInfo> {}).size());
        return;
    }
    hover("KWin", windows, *client);

    // 1,000 pointer moves a second for 3 s from another thread; our main thread's CPU time meanwhile.
    std::atomic<bool> done {false};
    std::thread mover([&] {
        for (int i = 0; i < 3000; ++i) {
            world.pointerTo(300 + i % 400, 300 + (i / 400) % 2 * 100);
            std::this_thread::sleep_until(SteadyClock::now() + std::chrono::microseconds(950));
        }
        done = true;
    });
    // The main thread waits in its event loop as the program's does, woken only by what comes.
    const auto waitInLoop = [](const std::function<bool()>& until) {
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (until()) loop.quit();
        });
        check.start(100);
        loop.exec();
    };
    const double cpuBefore = threadSeconds();
    const auto start = SteadyClock::now();
    waitInLoop([&] { return done.load(); });
    const double cpu = threadSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(SteadyClock::now() - start).count();
    mover.join();
    const double idleBefore = threadSeconds();
    const auto idleStart = SteadyClock::now();
    waitInLoop([&] { return SteadyClock::now() - idleStart > std::chrono::seconds(2); });
    const double idle = (threadSeconds() - idleBefore) / 2;
    std::printf("KWin  pointer stream: 3000 moves injected at %.0f a second, %d reached us (the script sends at most every 8 ms); "
                "main thread %.2f %% of a core (%.1f µs a report; idle: %.2f %%)\n",
        3000 / wall, moves.load(), 100 * cpu / wall, 1e6 * cpu / std::max(1, moves.load()), 100 * idle);
}

} // namespace

int main(int argc, char** argv)
{
    // One desktop a process: libdbus keeps the first session bus it met for the whole process.
    if (argc < 2) {
        for (const char* desktop : {"sway", "kwin"})
            if (std::system((std::string("'") + argv[0] + "' " + desktop).c_str()) != 0) std::printf("%s: did not finish\n", desktop);
        return 0;
    }
    if (!std::strcmp(argv[1], "sway")) onSway();
    if (!std::strcmp(argv[1], "kwin")) onKWin(argc, argv);
    return 0;
}
