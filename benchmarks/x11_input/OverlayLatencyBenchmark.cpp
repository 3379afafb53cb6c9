// Trigger to overlay on screen, without a compositor (the frozen frame is grabbed first), beside
// the screenshot tool a user would otherwise reach for: `flameshot gui` to its overlay. Both are
// measured in the same run on the same private two-monitor desktop, as a person sees them: from
// the trigger until watched pixels on both monitors have changed.
#include "app/ui/QtMainQueue.h"
#include "tests/support/DesktopSession.h"

#include "app/core/SystemClock.h"
#include "app/platform/linux/x11/X11EventMonitors.h"
#include "app/platform/linux/x11/X11Screens.h"
#include "app/platform/linux/x11/X11WindowImages.h"
#include "app/platform/linux/x11/X11OverlayPanels.h"

#include <QApplication>

#include "benchmarks/x11_input/PixelWatch.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <vector>

using namespace zorvane;
using benchmarks::PixelWatch;
using benchmarks::Steady;

namespace {

constexpr int rounds = 10;

// Runs Qt's events (the panels paint there) until the condition holds or the time is up.
void pumpUntil(double seconds, const std::function<bool()>& condition)
{
    testing::waitUntil(seconds, [&] {
        QCoreApplication::processEvents();
        return condition();
    });
}

struct Figures {
    double median = 0;
    double best = 0;
    int failed = 0;
};

Figures summarise(std::vector<double> seconds, int failed)
{
    std::sort(seconds.begin(), seconds.end());
    Figures f;
    f.failed = failed;
    if (!seconds.empty()) {
        f.median = seconds[seconds.size() / 2] * 1000;
        f.best = seconds.front() * 1000;
    }
    return f;
}

void print(const char* name, const Figures& f)
{
    std::printf("%-44s median %7.1f ms   best %7.1f ms   (%d of %d rounds timed out)\n", name, f.median, f.best, f.failed, rounds);
}

Figures measureOurs(X11OverlayPanels& panels, Screens& screenList, PixelWatch& watch, Figures& synchronous)
{
    std::vector<double> seconds;
    std::vector<double> inCalls;
    int failed = 0;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Steady::now();
        auto shown = std::async(std::launch::async, [&] { return watch.waitFor(true, start); });
        std::vector<std::unique_ptr<OverlayPanel>> open;
        for (const auto& s : screenList.screens()) open.push_back(panels.showPanel(s, {}));
        inCalls.push_back(std::chrono::duration<double>(Steady::now() - start).count());
        pumpUntil(15, [&] { return shown.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
        const double result = shown.get();
        if (result < 0) ++failed;
        else seconds.push_back(result);
        open.clear();
        panels.overlayClosed(false);
        auto gone = std::async(std::launch::async, [&] { return watch.waitFor(false, Steady::now()); });
        pumpUntil(15, [&] { return gone.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
        gone.get();
    }
    synchronous = summarise(inCalls, 0);
    return summarise(seconds, failed);
}

// `flameshot gui` until its overlay shows; Escape closes it (or it is stopped).
Figures measureFlameshot(testing::DesktopSession& session, PixelWatch& watch, bool daemonRunning)
{
    std::vector<double> seconds;
    int failed = 0;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Steady::now();
        const pid_t gui = session.spawn({"flameshot", "gui"});
        const double result = watch.waitFor(true, start, 15);
        if (result < 0) ++failed;
        else seconds.push_back(result);
        session.processes().run({"xdotool", "key", "Escape"}, 5);
        if (watch.waitFor(false, Steady::now(), 3) < 0) {
            session.stop(gui);
            watch.waitFor(false, Steady::now(), 5);
        }
        if (!daemonRunning) session.stop(gui);
    }
    return summarise(seconds, failed);
}

} // namespace

int main()
{
    testing::DesktopSession session(testing::DesktopSessionOptions {.accessibilityBus = false});
    session.processes().run({"xsetroot", "-solid", "#808080"}, 10);
    // Flameshot without its first-run greeting or tray icon.
    const auto config = session.home() / ".config/flameshot";
    std::filesystem::create_directories(config);
    std::ofstream(config / "flameshot.ini") << "[General]\nshowStartupLaunchMessage=false\nshowHelp=false\n"
                                              "disabledTrayIcon=true\nshowDesktopNotification=false\nstartupLaunch=false\n";

    PixelWatch watch({{1000, 700}, {2400, 700}});

    int argc = 1;
    char name[] = "x11_input_overlay_benchmark";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    auto queue = std::make_shared<ui::QtMainQueue>();
    auto clock = std::make_shared<SystemClock>();
    std::shared_ptr<X11Screens> screens = X11Screens::create();
    auto monitors = X11EventMonitors::create(queue, clock, screens);
    X11OverlayPanels panels(std::shared_ptr<WindowImages>(X11WindowImages::create()));

    std::printf("Trigger to overlay on screen, two 1440x900 monitors, no compositor, %d rounds (shared machine: noisy)\n", rounds);
    Figures synchronous;
    const Figures ours = measureOurs(panels, *screens, watch, synchronous);
    print("Zorvane: both panels painted", ours);
    print("  of which in showPanel (picture, keyboard, window, map)", synchronous);

    const Figures cold = measureFlameshot(session, watch, false);
    print("flameshot gui (no flameshot running)", cold);

    const pid_t daemon = session.spawn({"flameshot"});
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const Figures warm = measureFlameshot(session, watch, true);
    print("flameshot gui (flameshot already running)", warm);
    session.stop(daemon);

    if (ours.median > 0) {
        std::printf("ratio flameshot/Zorvane (median): %.1fx cold, %.1fx with its daemon running\n", cold.median / ours.median,
            warm.median / ours.median);
    }
    return 0;
}
