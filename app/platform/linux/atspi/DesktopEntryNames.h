#pragma once

#include "app/platform/WindowList.h"

#include <cstdint>
#include <optional>
#include <string>

// An application's name as its desktop entry gives it (the Name the launcher shows, in the
// session's language), found from the running process: the program it runs, or, for a script run
// by an interpreter, the script; else an entry whose id or StartupWMClass is the name the
// application reports.
namespace zorvane::DesktopEntryNames {

std::optional<std::string> nameOf(ProcessID pid, const std::string& reportedName);

// When the process started (clock ticks after boot; 0 when unknown): with the id, it tells a
// process from a later one that got the same id.
std::uint64_t processStart(ProcessID pid);

} // namespace zorvane::DesktopEntryNames
