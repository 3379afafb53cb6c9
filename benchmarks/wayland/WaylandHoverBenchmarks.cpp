// The hover lookup on sway, as the overlay asks it on every pointer move: context(at:) over sway's
// window list and the AT-SPI adapter at random points of a GTK 3 button in a window tiled beside
// another (so not at the origin): median and 99th percentile of 500 lookups, side by side with
// benchmarks/atspi's figures on X11. Then what one reading of sway's tree costs the feed's thread.
// Prints figures; never fails.
#include "app/core/SystemClock.h"
#include "app/platform/linux/atspi/AtspiAccessibilityTree.h"
#include "app/platform/linux/wayland/CompositorWindows.h"
#include "app/platform/linux/wayland/SwayWindowFeed.h"
#include "app/selection/AccessibilitySelectionService.h"
#include "fakes/FakeSystem.h"
#include "fakes/FakeWindowSystem.h"
#include "tests/support/WaylandWorld.h"

#include <glib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <sstream>
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

} // namespace

int main()
{
    testing::WaylandWorld world(testing::WaylandDesktop::sway);
    world.startColourWindow("2a9d4b");
    testing::waitUntil(10, [&] { return world.pixel(300, 300) == 0x2a9d4bu; });
    world.processes().start({"/usr/bin/python3", "-c", buttonWindow}, {{"GDK_BACKEND", "wayland"}});

    auto windows = std::make_shared<CompositorWindows>([] { return Point {0, 0}; }, nullptr);
    const auto feed = SwayWindowFeed::start(SwayWindowFeed::socketFromEnvironment(), windows);
    std::optional<Rect> client;
    testing::waitUntil(10, [&] {
        feed->refresh();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        for (const auto& w : windows->onScreenWindows().value_or(std::vector<WindowInfo> {}))
            if (w.bounds && w.bounds->minX() > 0) client = w.bounds;
        return client.has_value();
    });
    if (!feed || !client) {
        std::printf("sway's window list or the button's window did not come\n");
        return 0;
    }
    auto permissions = std::make_shared<fakes::FakePermissions>();
    permissions->accessibility = true;
    auto screens = std::make_shared<fakes::FakeScreens>();
    screens->addScreen(Rect(0, 0, 1280, 800));
    screens->addScreen(Rect(1280, 0, 1024, 768));
    auto tree = std::make_shared<AtspiAccessibilityTree>(windows->rootCoordinates(::getpid()));
    AccessibilitySelectionService service(permissions, windows, tree, screens, std::make_shared<SystemClock>(), ::getpid());

    const Rect button(client->minX() + 40, client->minY() + 40, 240, 80);
    testing::waitUntil(20, [&] {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        const auto found = service.context({button.midX(), button.midY()});
        return found && found->title.find("Enviar") != std::string::npos;
    });
    std::mt19937 random(12345);
    std::uniform_real_distribution<double> across(button.minX() + 1, button.maxX() - 1), down(button.minY() + 1, button.maxY() - 1);
    std::vector<double> times;
    int found = 0;
    const auto callsBefore = tree->busCalls();
    for (int i = 0; i < lookups; ++i) {
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        const Point at {across(random), down(random)};
        const auto start = SteadyClock::now();
        const auto context = service.context(at);
        times.push_back(milliseconds(SteadyClock::now() - start));
        if (context && context->title.find("Enviar") != std::string::npos) ++found;
    }
    std::sort(times.begin(), times.end());
    std::printf("sway, GTK 3 button in a window at (%g, %g): context(at:) p50 %6.2f ms   p99 %6.2f ms   max %6.2f ms   "
                "bus requests/lookup %5.1f   button found %d/%d\n",
        client->minX(), client->minY(), times[times.size() / 2], times[times.size() * 99 / 100], times.back(),
        double(tree->busCalls() - callsBefore) / lookups, found, lookups);

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
    std::printf("sway's tree read and parsed on the feed's thread: p50 %.2f ms   max %.2f ms (the main thread never waits for it)\n",
        readings[readings.size() / 2], readings.back());
    return 0;
}
