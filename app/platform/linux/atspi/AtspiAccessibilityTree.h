#pragma once

#include "app/core/Geometry.h"
#include "app/platform/AccessibilityTree.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace zorvane {

// Between the X root window's pixels, in which AT-SPI reports extents, and Quartz global points.
// The Screens adapter owns the scale of each monitor; this adapter only applies it.
struct RootCoordinates {
    std::function<Point(Point quartzPoint)> rootPixelsOf;
    std::function<Rect(const Rect& rootPixels)> quartzRectOf;

    // One point per pixel, origin shared: what a single screen at scale 1 gives.
    static RootCoordinates identity();
};

// Other applications' accessibility trees over AT-SPI 2 (libatspi). Every bus call is bounded:
// an application that does not answer costs one short timeout, after which it is left alone for a
// moment, so a lookup ends quickly whatever the application does. Main thread only (libatspi is
// not thread-safe, and its bus connection is attached to the default GLib main context, which the
// program's event loop runs).
class AtspiAccessibilityTree : public AccessibilityTree {
public:
    struct Bounds {
        // The longest one bus call may wait for an answer. libatspi may wait up to twice this
        // when it talks to the application directly (its wait loop counts whole milliseconds).
        std::chrono::milliseconds call {120};
        // elementAtPoint makes no new request after this long, so that with the wait above it
        // ends within 300 ms.
        std::chrono::milliseconds lookup {150};
        // How long an application that did not answer is not asked again.
        std::chrono::milliseconds unresponsivePause {1500};
        // What a lookup learnt of an object (role, frame, children) is reused this long after it
        // ends, for the scoring's repeated reads; never across lookups.
        std::chrono::milliseconds factsAfterLookup {300};
        // The list of applications is read again on a miss, at most this often.
        std::chrono::milliseconds rereadApplications {500};
    };

    explicit AtspiAccessibilityTree(RootCoordinates coordinates);
    AtspiAccessibilityTree(RootCoordinates coordinates, Bounds bounds);
    ~AtspiAccessibilityTree() override;
    AtspiAccessibilityTree(const AtspiAccessibilityTree&) = delete;
    AtspiAccessibilityTree& operator=(const AtspiAccessibilityTree&) = delete;

    std::optional<AccessibilityElement> elementAtPoint(ProcessID pid, Point quartzPoint) override;
    std::optional<AccessibilityValue> attribute(const AccessibilityElement& element, std::string_view name) override;
    std::optional<std::string> applicationName(const AccessibilityElement& element) override;
    std::optional<Rect> frame(const AccessibilityElement& element) override;

    // Requests sent to other applications or the registry since this object was made.
    std::uint64_t busCalls() const { return busCalls_; }

private:
    struct Node;
    struct Application;
    struct Facts;
    class Call;
    using Deadline = std::chrono::steady_clock::time_point;

    bool connect();
    // stale: the entry found before was of no use; read the list whatever the time.
    Application* application(ProcessID pid, const Deadline& deadline, bool stale);
    bool refreshApplications(const Deadline& deadline);
    bool unresponsive(ProcessID pid);
    void forgetStaleFacts(bool newLookup);
    AccessibilityElement makeElement(void* accessible, ProcessID pid) const;

    RootCoordinates coordinates_;
    Bounds bounds_;
    bool connected_ = false;
    std::map<ProcessID, std::unique_ptr<Application>> applications_;
    std::map<ProcessID, std::chrono::steady_clock::time_point> unresponsiveUntil_;
    std::chrono::steady_clock::time_point lastRefresh_;
    std::unique_ptr<Facts> facts_;
    std::uint64_t busCalls_ = 0;
};

} // namespace zorvane
