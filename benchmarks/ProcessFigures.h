#pragma once

// What the benchmarks read of a process: resident memory, processor time and the wake-ups of each
// thread (voluntary context switches: sleeps that ended); and how they report their timings.

#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace zorvane::testing {

// Milliseconds since `start` on the monotonic clock.
inline double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The median of the timings; -1 when nothing was measured. On a shared machine one slow run moves a
// mean, not a median.
inline double median(std::vector<double> values)
{
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Resident memory in MiB of a process (0: this one).
inline double residentMiB(pid_t pid = 0)
{
    std::ifstream status("/proc/" + (pid > 0 ? std::to_string(pid) : "self") + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

// This process's processor seconds.
inline double processorSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// The wake-ups of each thread of a process (0: this one), by "thread-id name".
inline std::map<std::string, long> threadWakeUps(pid_t pid = 0)
{
    std::map<std::string, long> threads;
    const std::filesystem::path tasks = "/proc/" + (pid > 0 ? std::to_string(pid) : std::string("self")) + "/task";
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::string name, line;
        std::getline(std::ifstream(task.path() / "comm"), name);
        std::ifstream status(task.path() / "status");
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                threads[task.path().filename().string() + " " + name] = std::stol(line.substr(24));
    }
    return threads;
}

} // namespace zorvane::testing
