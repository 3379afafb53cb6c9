// What typing into another application costs the running program: its wake-ups (sleeps that
// ended, all threads) and processor time while 1,000 keystrokes go through XTest into another
// window at 200 a second, with the shake switched off and on, beside the same stretch with
// nothing typed.
#include "benchmarks/ProcessFigures.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/X11Client.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

using namespace zorvane;

namespace {

constexpr int keystrokes = 1000;

long long wakeUps(pid_t pid)
{
    long long total = 0;
    for (const auto& [thread, count] : testing::threadWakeUps(pid)) total += count;
    return total;
}

// User and system time of the process, in seconds.
double processorSeconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    unsigned long long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14) ticks += std::stoull(field);
    return double(ticks) / double(::sysconf(_SC_CLK_TCK));
}

void writePreferences(const std::filesystem::path& home, bool shake)
{
    const auto folder = home / ".config/zorvane";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "preferences.plist") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                                                   "\t<key>activationEnabled</key>\n\t<"
                                                << (shake ? "true" : "false") << "/>\n</dict>\n</plist>\n";
}

} // namespace

int main()
{
    testing::DesktopSession session(testing::DesktopSessionOptions {.twoMonitors = false, .accessibilityBus = false});
    testing::X11Client x;
    testing::ColouredWindow editor(x.display(), "editor", 0xffffff, 600, 500, 400, 300);
    testing::waitUntil(5, [&] { return editor.viewable(); });
    const char* keys[] = {"a", "s", "d", "f", "space", "BackSpace"};
    // The first keys a fresh server sees make it tell every client about the keyboard that typed
    // them (a few dozen wake-ups, once): typed before anything is measured.
    x.focus(editor.id());
    for (int i = 0; i < 60; ++i) x.typeKey(keys[i % 6]);

    std::printf("%d keystrokes into another window at 200/s; the running program's wake-ups and CPU (shared machine)\n", keystrokes);
    for (const bool shake : {false, true}) {
        writePreferences(session.home(), shake);
        const pid_t program = session.spawn({ZORVANE_PROGRAM});
        // Started and settled: its first window has shown and everything it does at start is over.
        session.waitForWindow("Zorvane", 15);
        std::this_thread::sleep_for(std::chrono::seconds(3));
        x.focus(editor.id());
        std::this_thread::sleep_for(std::chrono::seconds(1));
        for (const bool typing : {false, true}) {
            const auto threadsBefore = testing::threadWakeUps(program);
            const long long wakeBefore = wakeUps(program);
            const double cpuBefore = processorSeconds(program);
            for (int i = 0; i < keystrokes; ++i) {
                if (typing) x.typeKey(keys[i % 6]);
                ::usleep(5000);
            }
            std::printf("  shake %-3s %-14s %6lld wake-ups, %.3f s of CPU\n", shake ? "on," : "off,",
                typing ? "typing:" : "nothing typed:", wakeUps(program) - wakeBefore, processorSeconds(program) - cpuBefore);
            for (const auto& [thread, count] : testing::threadWakeUps(program)) {
                const auto earlier = threadsBefore.find(thread);
                const long woke = count - (earlier == threadsBefore.end() ? 0 : earlier->second);
                if (woke > 0) std::printf("      thread %-28s %ld\n", thread.c_str(), woke);
            }
        }
        session.stop(program);
    }
    return 0;
}
