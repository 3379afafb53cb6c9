#pragma once

// Where Chromium's page (tests/support/page.html) begins on screen, read through the accessibility
// tree under test, for the tests and benchmarks that point into it.

#include "app/platform/AccessibilityTree.h"
#include "app/platform/WindowList.h"
#include "tests/support/Processes.h"

#include <glib.h>
#include <unistd.h>

namespace zorvane::testing {

// What the program's event loop does between two pointer moves: libatspi's bus connection is
// attached to GLib's default context.
inline void runGLibEvents()
{
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

// The frame of the web area that holds `inside`, asked again until Chromium has shown its page.
inline std::optional<Rect> chromiumPage(WindowList& windows, AccessibilityTree& tree, Point inside, double seconds = 40)
{
    std::optional<Rect> page;
    waitUntil(seconds, [&] {
        runGLibEvents();
        const auto window = windows.topmostApplicationWindow(inside, getpid());
        auto element = window && window->ownerPID ? tree.elementAtPoint(*window->ownerPID, inside) : std::nullopt;
        for (int up = 0; element && up < 12 && !page; ++up) {
            const auto role = tree.attribute(*element, AccessibilityAttribute::role);
            if (role && std::get<std::string>(*role) == "AXWebArea") page = tree.frame(*element);
            const auto parent = tree.attribute(*element, AccessibilityAttribute::parent);
            element = parent ? std::optional(std::get<AccessibilityElement>(*parent)) : std::nullopt;
        }
        return page.has_value();
    });
    return page;
}

} // namespace zorvane::testing
