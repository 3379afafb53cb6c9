#pragma once

#include "app/core/Cancellation.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zorvane {

// Variable name to value; the whole environment a child starts with.
using Environment = std::map<std::string, std::string>;

// The calling process's own environment (the first of duplicate names wins, as getenv does).
Environment processEnvironment();

struct ChildRequest {
    std::filesystem::path executable;
    std::vector<std::string> arguments; // after the program name, which is the executable's path
    Environment environment;
    std::optional<std::filesystem::path> workingDirectory; // none: the caller's
    // None: the child shares the caller's standard input. Otherwise a pipe that receives these
    // bytes and is then closed.
    std::optional<std::string> input;
    bool captureOutput = true; // false: the child's standard output goes to the null device
    // The child and whatever it starts run in a process group of their own, so that ending the
    // child ends them all. Without input its standard input is then the null device: a process
    // group in the background that read the terminal would be stopped.
    bool ownProcessGroup = false;
    // Past this many seconds the child is ended: SIGTERM, then SIGKILL terminationGracePeriod
    // later if it is still there (to its whole group when it has one), and reaped. None: no limit.
    std::optional<double> timeLimit;
    // Once cancelled, the child is ended in the same way.
    std::shared_ptr<const Cancellation> cancellation;
};

// How long an ended child has between SIGTERM and SIGKILL.
inline constexpr double terminationGracePeriod = 2.0;

struct ChildResult {
    enum class Ending { exited, timedOut, cancelled };
    Ending ending = Ending::exited;
    std::int32_t terminationStatus = 0; // exit status, or 128 + signal for a child killed by one
    std::string output;                 // raw bytes of standard output (empty when not captured)
    std::string errorOutput;            // raw bytes of standard error
};

// Runs a program to its end (or its time limit, or its cancellation) without a shell, draining its
// output and feeding its input all the while, so no child blocks us whatever it writes or fails to
// read. Output that the child leaves to descendants still running after it ends is not waited for.
// Safe to call from any thread. Throws std::system_error when the child cannot be started.
ChildResult runChild(const ChildRequest& request);

} // namespace zorvane
