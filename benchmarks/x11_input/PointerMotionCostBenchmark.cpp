// What following the pointer costs: the CPU time of this process (its reader thread, the main
// thread delivering to a shake monitor, Qt's own threads) while another process moves the
// pointer through XTest 1000 times a second for 10 seconds, and the wake-ups of its threads
// while nothing moves. Then what 1,000 keystrokes typed into another window cost with the shake
// switched off, without and with a global key monitor (the one a selection installs for Escape).
#include "app/ui/QtMainQueue.h"
#include "benchmarks/ProcessFigures.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/X11Client.h"

#include "app/core/Defaults.h"
#include "app/core/UserDefaults.h"
#include "app/gesture/MotionGestureMonitor.h"
#include "app/platform/PreferencesStore.h"
#include "app/core/SystemClock.h"
#include "app/platform/linux/x11/X11EventMonitors.h"
#include "app/platform/linux/x11/X11Screens.h"
#include "app/platform/linux/x11/X11WindowImages.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>

using namespace zorvane;

namespace {

constexpr double seconds = 10;
constexpr int eventsPerSecond = 1000;

class NoPreferences final : public PreferencesStore {
public:
    PreferenceDomain load() override { return {}; }
    void save(const PreferenceDomain&) override {}
};

// Moves the pointer in a slow circle (never a shake) from a process of its own, on a fixed
// 1 ms schedule.
pid_t startMover()
{
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    testing::X11Client hand;
    timespec next {};
    ::clock_gettime(CLOCK_MONOTONIC, &next);
    int x = 0;
    int y = 0;
    for (int i = 0; i < int(seconds * eventsPerSecond); ++i) {
        const double angle = i * 2 * M_PI / 2000;
        const int nx = int(std::lround(300 * std::cos(angle)));
        const int ny = int(std::lround(200 * std::sin(angle)));
        hand.moveBy(nx - x, ny - y);
        x = nx;
        y = ny;
        next.tv_nsec += 1000000;
        if (next.tv_nsec >= 1000000000) {
            next.tv_nsec -= 1000000000;
            ++next.tv_sec;
        }
        ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    ::_exit(0);
}

constexpr int keystrokes = 1000;

// Types into the focused window from a process of its own, 200 keys a second.
pid_t startTypist()
{
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    testing::X11Client hand;
    const char* keys[] = {"a", "s", "d", "f", "space", "BackSpace"};
    for (int i = 0; i < keystrokes; ++i) {
        hand.typeKey(keys[i % 6]);
        ::usleep(5000);
    }
    ::_exit(0);
}

double cpuSeconds()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long wakeUps()
{
    long total = 0;
    for (const auto& [thread, count] : testing::threadWakeUps()) total += count;
    return total;
}

void printWakeUps(const std::map<std::string, long>& before, double elapsed)
{
    for (const auto& [thread, count] : testing::threadWakeUps()) {
        const auto earlier = before.find(thread);
        std::printf("    thread %-28s %7.1f wake-ups/s\n", thread.c_str(), double(count - (earlier == before.end() ? 0 : earlier->second)) / elapsed);
    }
}

// Runs Qt's events for a while.
void settle(double seconds)
{
    testing::waitUntil(seconds, [] {
        QCoreApplication::processEvents();
        return false;
    });
}

} // namespace

int main()
{
    testing::DesktopSession session(testing::DesktopSessionOptions {.twoMonitors = false, .accessibilityBus = false});
    int argc = 1;
    char name[] = "x11_input_motion_benchmark";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    auto queue = std::make_shared<ui::QtMainQueue>();
    auto clock = std::make_shared<SystemClock>();
    std::shared_ptr<X11Screens> screens = X11Screens::create();
    auto monitors = X11EventMonitors::create(queue, clock, screens);
    auto defaults = std::make_shared<UserDefaults>(std::make_shared<NoPreferences>());
    Defaults::registerDefaults(*defaults);
    auto gesture = MotionGestureMonitor::create(monitors, defaults, queue);
    gesture->start();
    long deliveries = 0;
    const MonitorToken counting = monitors->addGlobalPointerMovedMonitor([&](const PointerMovement&) { ++deliveries; });
    settle(1);

    std::printf("Pointer motion cost, XTest at %d events/s for %.0f s (shared machine: noisy)\n", eventsPerSecond, seconds);
    const double cpuBefore = cpuSeconds();
    const long wakeBefore = wakeUps();
    const auto threadsBefore = testing::threadWakeUps();
    const auto start = std::chrono::steady_clock::now();
    const pid_t mover = startMover();
    // The event loop runs as in the program, with no timer of its own until the mover is done.
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000) + 100, &loop, &QEventLoop::quit);
    loop.exec();
    int status = 0;
    ::waitpid(mover, &status, 0);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    settle(0.2);
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf("  CPU of this process: %.2f %% of one core (%.3f s over %.1f s)\n", 100 * cpu / elapsed, cpu, elapsed);
    std::printf("  movements delivered to a handler: %ld (%.0f/s); wake-ups of all threads: %.0f/s\n", deliveries,
        double(deliveries) / elapsed, double(wakeUps() - wakeBefore) / elapsed);
    printWakeUps(threadsBefore, elapsed);

    // Nothing moves: the reader sleeps in poll() without a timeout. The event loop is left alone
    // (no waiting helper with a timer of its own) and watched from a plain sleep.
    settle(0.5);
    const long idleBefore = wakeUps();
    const auto idleThreadsBefore = testing::threadWakeUps();
    const double idleCpuBefore = cpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const long idleWakes = wakeUps() - idleBefore;
    std::printf("  idle for 10 s: %.1f wake-ups/s of all threads, CPU %.3f s\n", double(idleWakes) / 10, cpuSeconds() - idleCpuBefore);
    printWakeUps(idleThreadsBefore, 10);

    // Keystrokes into another window with the shake off: no pointer or key monitor is installed.
    monitors->removeMonitor(counting);
    defaults->setBool(Defaults::activationEnabled, false);
    settle(0.5);
    testing::X11Client x;
    testing::ColouredWindow editor(x.display(), "editor", 0xffffff, 100, 100, 400, 300);
    testing::waitUntil(5, [&] { return editor.viewable(); });
    x.focus(editor.id());
    std::printf("%d keystrokes into another window at 200/s, the shake switched off\n", keystrokes);
    // The same stretch of the event loop with nothing typed, to tell what the keys cause.
    enum class Round { nothingTyped, noMonitor, keyMonitor };
    for (const Round round : {Round::nothingTyped, Round::noMonitor, Round::keyMonitor}) {
        const bool keyMonitor = round == Round::keyMonitor;
        std::optional<MonitorToken> escape;
        long keysSeen = 0;
        if (keyMonitor) escape = monitors->addGlobalKeyDownMonitor([&](const KeyEvent&) { ++keysSeen; });
        settle(0.5);
        const double typingCpuBefore = cpuSeconds();
        const long typingWakeBefore = wakeUps();
        const auto typingThreadsBefore = testing::threadWakeUps();
        const auto typingStart = std::chrono::steady_clock::now();
        const pid_t typist = round == Round::nothingTyped ? 0 : startTypist();
        QEventLoop typing;
        QTimer::singleShot(int(keystrokes * 5.5) + 500, &typing, &QEventLoop::quit);
        typing.exec();
        if (typist) ::waitpid(typist, &status, 0);
        const double typingElapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - typingStart).count();
        std::printf("  %s: CPU %.3f s over %.1f s, %ld wake-ups of all threads, %ld keys seen\n",
            round == Round::nothingTyped ? "nothing typed (the loop alone)"
                : keyMonitor             ? "with a global key monitor (as during a selection)"
                                         : "no monitor (as now between selections)",
            cpuSeconds() - typingCpuBefore, typingElapsed, wakeUps() - typingWakeBefore, keysSeen);
        printWakeUps(typingThreadsBefore, typingElapsed);
        if (escape) monitors->removeMonitor(*escape);
    }
    gesture->stop();
    return 0;
}
