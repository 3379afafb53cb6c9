#pragma once

#include "app/core/CapturedContext.h"
#include "app/core/Geometry.h"
#include "app/platform/AccessibilityTree.h"
#include "app/platform/Clock.h"
#include "app/platform/Permissions.h"
#include "app/platform/Screens.h"
#include "app/platform/WindowList.h"

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvane {

// An element of another application as the overlay holds it while a selection lasts: the element
// itself, to step from with the keyboard, and how it reads.
struct SelectableElement {
    AccessibilityElement element;
    CapturedContext context;
};

// What a key does to the highlighted element.
enum class NavigationStep { left, right, up, down, next, previous, enclosing, firstChild };

// The elements of one window the keyboard steps between, in the window's order (depth first),
// with their frames. Read once and kept by the overlay while the selection lasts.
struct WindowElements {
    struct Entry {
        AccessibilityElement element;
        Rect frame;
        bool stop = false; // see AccessibilitySelectionHeuristics::isKeyboardStop
    };
    AccessibilityElement window;
    std::vector<Entry> entries;
};

// Finds the element of another application under a point and describes it as a CapturedContext:
// of the element and its nearest ancestors, the one a person most plausibly means. Every search
// is bounded in count and the whole lookup in time, nothing is cached between calls, and every
// failure ends in none (the caller has a fallback). Main thread only: it runs on every pointer
// move over the overlay, and each read is a round trip to another application.
class AccessibilitySelectionService {
public:
    static constexpr int descentDepth = 48;
    static constexpr int descentChildren = 12;
    // The descent reads at most this many child frames in all. Without it a tree of overlapping
    // layers (a child under the pointer at every level, several of them) would cost up to 12^48 reads.
    static constexpr int descentFrameReads = 2000;
    static constexpr int ancestorLimit = 5;
    static constexpr int gatheredTextDepth = 2;
    static constexpr int gatheredTextChildren = 24;
    static constexpr int gatheredTextCharacters = 1800;
    static constexpr int contentCharacters = 8000;
    // Past this much time from its start a lookup answers with the best candidate found so far
    // (or none), so that the overlay keeps up with the pointer whatever the other application's
    // tree is like. The chosen candidate is still described, without more gathered text.
    static constexpr double lookupTimeBudget = 0.025;
    // Reading a window's elements for the keyboard: at most this many, this deep, this long. Done
    // once per window and selection, on a key press, so it may take longer than a hover lookup.
    static constexpr int windowElementLimit = 1500;
    static constexpr double windowReadBudget = 0.3;

    // ownProcessID: windows of this process (the overlay, the chat panel) are never looked into.
    AccessibilitySelectionService(std::shared_ptr<Permissions> permissions, std::shared_ptr<WindowList> windowList,
        std::shared_ptr<AccessibilityTree> tree, std::shared_ptr<Screens> screens, std::shared_ptr<Clock> clock,
        ProcessID ownProcessID);

    // The element under the point (Quartz global coordinates), or none.
    std::optional<CapturedContext> context(Point at);
    // The same, with the element kept for the keyboard.
    std::optional<SelectableElement> selectable(Point at);

    // Keyboard selection. The arrows move to the nearest element that way, next and previous to
    // the following and preceding one in the window's order (round the end), enclosing to the
    // nearest ancestor with another frame, first child to the first child with a frame (through
    // wrappers of the same frame). `elements` holds what was read of a window and is read again
    // only for another window. None when there is nowhere to go.
    std::optional<SelectableElement> step(const SelectableElement& from, NavigationStep step, std::optional<WindowElements>& elements);
    // Where the keyboard starts with nothing highlighted: the first element of the window under
    // the point.
    std::optional<SelectableElement> firstElement(Point at, std::optional<WindowElements>& elements);

private:
    struct Descent {
        AccessibilityElement element;
        int depth;
    };

    bool pastDeadline() const;
    std::optional<AccessibilityElement> hitAt(Point at);
    std::optional<SelectableElement> selectableOf(const AccessibilityElement& element);
    AccessibilityElement windowOf(const AccessibilityElement& element);
    const WindowElements& elementsOf(const AccessibilityElement& element, std::optional<WindowElements>& elements);
    std::optional<SelectableElement> enclosing(const SelectableElement& from);
    std::optional<SelectableElement> firstChild(const SelectableElement& from);
    Descent deepestDescendant(Point containing, const AccessibilityElement& start, int remainingDepth, int& frameReadsLeft);
    std::vector<AccessibilityElement> ancestors(const AccessibilityElement& start, int limit);
    // The chosen element as a context; `platformRole` is its role as already read for weighing it.
    CapturedContext describe(const AccessibilityElement& element, const Rect& frame, std::optional<std::string> platformRole);
    std::string descendantText(const AccessibilityElement& element, int depth, int budget);
    std::vector<AccessibilityElement> children(const AccessibilityElement& element);
    std::optional<std::string> stringAttribute(std::string_view name, const AccessibilityElement& element);
    static std::optional<std::string> firstNonEmpty(std::initializer_list<std::optional<std::string>> texts);

    std::shared_ptr<Permissions> permissions_;
    std::shared_ptr<WindowList> windowList_;
    std::shared_ptr<AccessibilityTree> tree_;
    std::shared_ptr<Screens> screens_;
    std::shared_ptr<Clock> clock_;
    ProcessID ownProcessID_;
    double deadline_ = 0; // uptime at which the current lookup ends
};

} // namespace zorvane
