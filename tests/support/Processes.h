#pragma once

// The pieces every test world is made of: bounded waits, environment changes that are undone,
// and child processes that are stopped by process id.

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zorvane::testing {

// Polls `condition` every 20 ms; whether it held before the time ran out.
bool waitUntil(double timeoutSeconds, const std::function<bool()>& condition);

// Sets variables in this process's environment for as long as it lives.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void set(const std::string& name, const std::optional<std::string>& value); // nullopt unsets
    void restore();

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

// Children of one world: each in its own process group with its output in a log file, killed
// when the thread that started it ends, and stopped by process id (in reverse order at the end).
class Processes {
public:
    explicit Processes(std::filesystem::path logFolder);
    ~Processes();
    Processes(const Processes&) = delete;
    Processes& operator=(const Processes&) = delete;

    // Starts argv with this process's environment plus `extra`; keepOpenFd survives the exec.
    pid_t start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extra = {},
        int keepOpenFd = -1);
    // SIGTERM to the process and its group, SIGKILL after 2 s, reaped. Only our own children.
    void stop(pid_t pid);
    void stopAll();
    // Whether one of ours has ended (reaping it).
    bool hasExited(pid_t pid);
    // Waits for one of ours to end by itself: its exit status (-1 when a signal ended it), or none.
    std::optional<int> waitForExit(pid_t pid, double timeoutSeconds);

    // Runs argv to its end; its exit status, or -1 when it was killed or the time ran out.
    // `output` receives its standard output when given (its standard error goes to the log).
    int run(const std::vector<std::string>& argv, double timeoutSeconds, std::string* output = nullptr) const;
    // Starts a program that writes one line to the descriptor it is given in place of "{fd}";
    // that line, or empty when none came in time.
    std::string startAndReadLine(std::vector<std::string> argv, double timeoutSeconds);

    const std::filesystem::path& logFolder() const { return logs_; }

private:
    std::filesystem::path logPath(const std::string& program) const;

    std::filesystem::path logs_;
    std::vector<pid_t> children_;
    mutable int logCounter_ = 0;
};

} // namespace zorvane::testing
