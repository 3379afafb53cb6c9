// context(at:) over the AT-SPI adapter at random points of a button in GTK 3, Qt 6 and Chromium
// windows: median and 99th percentile of 500 lookups, and the bus requests each one makes. Then
// what a lookup on an application that stopped answering costs. Prints figures; never fails.
#include "app/core/SystemClock.h"
#include "app/platform/linux/atspi/AtspiAccessibilityTree.h"
#include "app/platform/linux/atspi/X11RootCoordinates.h"
#include "app/platform/linux/x11/X11WindowList.h"
#include "app/selection/AccessibilitySelectionService.h"
#include "fakes/FakeSystem.h"
#include "tests/support/DesktopSession.h"

#include <glib.h>
#include <signal.h>

#include <algorithm>
#include <map>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

using namespace zorvane;
using namespace zorvane::testing;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr int lookups = 500;

void runGLibEvents()
{
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

double milliseconds(SteadyClock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// Forwards to the adapter and adds up its bus requests by what was asked.
class CountingTree : public AccessibilityTree {
public:
    explicit CountingTree(std::shared_ptr<AtspiAccessibilityTree> tree) : tree_(std::move(tree)) {}
    template <typename F>
    auto count(const std::string& what, F&& f)
    {
        const auto before = tree_->busCalls();
        const auto start = SteadyClock::now();
        auto result = f();
        inside += SteadyClock::now() - start;
        auto& entry = requests[what];
        ++entry.first;
        entry.second += tree_->busCalls() - before;
        return result;
    }
    std::optional<AccessibilityElement> elementAtPoint(ProcessID pid, Point at) override
    {
        return count("elementAtPoint", [&] { return tree_->elementAtPoint(pid, at); });
    }
    std::optional<AccessibilityValue> attribute(const AccessibilityElement& element, std::string_view name) override
    {
        return count(std::string(name), [&] { return tree_->attribute(element, name); });
    }
    std::optional<Rect> frame(const AccessibilityElement& element) override
    {
        return count("frame", [&] { return tree_->frame(element); });
    }
    std::optional<std::string> applicationName(const AccessibilityElement& element) override
    {
        return count("applicationName", [&] { return tree_->applicationName(element); });
    }
    std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> requests; // asked → (times, bus requests)
    SteadyClock::duration inside {}; // time spent in the adapter

private:
    std::shared_ptr<AtspiAccessibilityTree> tree_;
};

struct World {
    World() { permissions->accessibility = true; }
    std::shared_ptr<fakes::FakePermissions> permissions = std::make_shared<fakes::FakePermissions>();
    std::shared_ptr<X11WindowList> windows {X11WindowList::create()};
    std::shared_ptr<X11Screens> screens {X11Screens::create()};
    std::shared_ptr<AtspiAccessibilityTree> tree = std::make_shared<AtspiAccessibilityTree>(rootCoordinatesFrom(screens));
    std::shared_ptr<CountingTree> counting = std::make_shared<CountingTree>(tree);
    AccessibilitySelectionService service {permissions, windows, counting, screens, std::make_shared<SystemClock>(), static_cast<ProcessID>(getpid())};
};

void measure(World& world, const char* name, const Rect& button)
{
    std::mt19937 random(12345);
    std::uniform_real_distribution<double> across(button.minX() + 1, button.maxX() - 1);
    std::uniform_real_distribution<double> down(button.minY() + 1, button.maxY() - 1);
    std::vector<double> times;
    std::vector<double> adapterTimes;
    int found = 0;
    const auto callsBefore = world.tree->busCalls();
    world.counting->requests.clear();
    for (int i = 0; i < lookups; ++i) {
        runGLibEvents();
        const Point at {across(random), down(random)};
        world.counting->inside = {};
        const auto start = SteadyClock::now();
        const auto context = world.service.context(at);
        times.push_back(milliseconds(SteadyClock::now() - start));
        adapterTimes.push_back(milliseconds(world.counting->inside));
        if (context && context->title.find("Enviar") != std::string::npos) ++found;
    }
    std::sort(times.begin(), times.end());
    std::sort(adapterTimes.begin(), adapterTimes.end());
    const double calls = double(world.tree->busCalls() - callsBefore) / lookups;
    std::printf("%-10s p50 %6.2f ms   p99 %6.2f ms   max %6.2f ms   bus requests/lookup %5.1f   button found %d/%d\n", name,
        times[times.size() / 2], times[times.size() * 99 / 100], times.back(), calls, found, lookups);
    std::printf("           in the adapter alone (without the window list and screens): p50 %6.2f ms   p99 %6.2f ms\n",
        adapterTimes[adapterTimes.size() / 2], adapterTimes[adapterTimes.size() * 99 / 100]);
    std::printf("           per lookup:");
    for (const auto& [what, tally] : world.counting->requests)
        std::printf(" %s %.1f×/%.1f", what.c_str(), double(tally.first) / lookups, double(tally.second) / lookups);
    std::printf("\n");
}

} // namespace

int main()
{
    DesktopSession desktop;
    World world;
    const auto gtk = desktop.startGtkWindow("Ventana GTK");
    const auto qt = desktop.startQtWindow("Ventana Qt");
    desktop.startChromium();
    if (!gtk || !qt) {
        std::printf("the GTK or Qt window did not come up\n");
        return 0;
    }
    // Chromium's page is full screen on the right monitor.
    const Rect chromiumButton(1440 + 40, 420, 160, 40);
    for (int i = 0; i < 600 && !world.service.context({chromiumButton.midX(), chromiumButton.midY()}); ++i) {
        runGLibEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    std::printf("context(at:) at random points of a button, %d lookups each (shared 2-core machine: noisy)\n", lookups);
    measure(world, "GTK 3", gtk->widgets.at("button"));
    measure(world, "Qt 6", qt->widgets.at("button"));
    measure(world, "Chromium", chromiumButton);

    // An application that stops answering: the first lookup waits out one call; the following
    // ones are refused at once until the pause ends.
    kill(gtk->pid, SIGSTOP);
    const Point at {gtk->widgets.at("button").midX(), gtk->widgets.at("button").midY()};
    runGLibEvents();
    auto start = SteadyClock::now();
    const bool firstFound = world.service.context(at).has_value();
    const double first = milliseconds(SteadyClock::now() - start);
    start = SteadyClock::now();
    for (int i = 0; i < 20; ++i) world.service.context(at);
    const double following = milliseconds(SteadyClock::now() - start) / 20;
    kill(gtk->pid, SIGCONT);
    std::printf("stopped GTK application: first lookup %.1f ms (%s), following lookups %.3f ms each\n", first,
        firstFound ? "found" : "none", following);
    return 0;
}
