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

    // ownProcessID: windows of this process (the overlay, the chat panel) are never looked into.
    AccessibilitySelectionService(std::shared_ptr<Permissions> permissions, std::shared_ptr<WindowList> windowList,
        std::shared_ptr<AccessibilityTree> tree, std::shared_ptr<Screens> screens, std::shared_ptr<Clock> clock,
        ProcessID ownProcessID);

    // The element under the point (Quartz global coordinates), or none.
    std::optional<CapturedContext> context(Point at);

private:
    struct Descent {
        AccessibilityElement element;
        int depth;
    };

    bool pastDeadline() const;
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
