#pragma once

#include "app/core/Geometry.h"
#include "app/platform/AccessibilityTree.h"
#include "app/platform/linux/atspi/AtspiScale.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace zorvane {

// Between the X root window's pixels and Quartz global points. The Screens adapter owns the scale
// of each monitor; this adapter only applies it.
struct RootCoordinates {
    std::function<Point(Point quartzPoint)> rootPixelsOf;
    std::function<Rect(const Rect& rootPixels)> quartzRectOf;
    // The application's topmost window at a root pixel, and the monitors, in root pixels: with
    // them, an application that reports scaled coordinates (see AtspiScale) is found where it is
    // on the screen. Without them every application is taken to report root pixels.
    std::function<std::optional<AtspiScale::WindowPixels>(ProcessID pid, Point rootPixel)> windowAt;
    std::function<std::vector<Rect>()> monitors;

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
        // How an application's coordinates map to the screen is found again after this long, or
        // as soon as the pointer is over another of its windows.
        std::chrono::milliseconds mappingLifetime {1000};
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
    // The application showing the compositor's window at the point, by its title.
    Application* applicationShowing(ProcessID pid, Point rootPixel, const Deadline& deadline);
    bool refreshApplications(const Deadline& deadline);
    bool unresponsive(ProcessID pid);
    void forgetStaleFacts(bool newLookup);
    struct Placement;
    // The one element for an object while any copy of it lives, so that equal objects compare equal.
    AccessibilityElement makeElement(void* accessible, ProcessID pid, const Placement& placement);
    // The application's mapping at a root pixel, from its top-levels as reported.
    // nameOf: the name of the top-level at an index, read only when a Wayland window's title must
    // tell which one it shows.
    std::shared_ptr<const AtspiScale::Mapping> mappingFor(ProcessID pid, Point rootPixel, const std::vector<Rect>& topLevels,
        const std::function<std::optional<std::string>(std::size_t)>& nameOf);

    RootCoordinates coordinates_;
    Bounds bounds_;
    bool connected_ = false;
    std::map<ProcessID, std::unique_ptr<Application>> applications_;
    std::map<ProcessID, std::chrono::steady_clock::time_point> unresponsiveUntil_;
    std::chrono::steady_clock::time_point lastRefresh_;
    std::unique_ptr<Facts> facts_;
    std::uint64_t busCalls_ = 0;
    std::map<void*, std::weak_ptr<Node>> nodes_;
    struct KnownMapping;
    std::map<ProcessID, std::unique_ptr<KnownMapping>> mappings_;
    // Application names by process (and its start time: process ids are reused).
    std::map<ProcessID, std::pair<std::uint64_t, std::string>> names_;
    // Window titles no application showed, by the window's process, until when.
    std::map<ProcessID, std::pair<std::string, std::chrono::steady_clock::time_point>> titleMisses_;
};

} // namespace zorvane
