#pragma once

#include "app/core/Geometry.h"
#include "app/platform/WindowList.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zorvane {

// An opaque reference to one element of another application's accessibility tree. The adapter
// decides what it holds (and releases it with the last copy); the core keeps none beyond one lookup.
class AccessibilityElement {
public:
    AccessibilityElement() = default;
    explicit AccessibilityElement(std::shared_ptr<void> handle) : handle_(std::move(handle)) {}

    template <typename T>
    T* handle() const
    {
        return static_cast<T*>(handle_.get());
    }
    explicit operator bool() const { return handle_ != nullptr; }
    friend bool operator==(const AccessibilityElement& a, const AccessibilityElement& b) { return a.handle_ == b.handle_; }

private:
    std::shared_ptr<void> handle_;
};

// A value whose type the core does not use.
struct OtherAccessibilityValue {
    friend bool operator==(const OtherAccessibilityValue&, const OtherAccessibilityValue&) = default;
};

using AccessibilityValue = std::variant<OtherAccessibilityValue, std::string, double, Point, Size, AccessibilityElement,
    std::vector<AccessibilityElement>>;

// Attribute names as the core asks for them. Adapters of other toolkits translate: "AXRole"
// carries the platform role names the scoring knows ("AXButton", "AXImage", "AXLink",
// "AXStaticText", "AXTextField", "AXTextArea", "AXGroup", "AXSplitGroup", "AXScrollArea",
// "AXToolbar", "AXWebArea", "AXWindow", "AXApplication"); "AXRoleDescription" the localized role
// name; "AXPosition" (Point) and "AXSize" (Size) the frame in Quartz global coordinates;
// "AXParent" an element; "AXChildren" and "AXVisibleChildren" element lists.
namespace AccessibilityAttribute {
inline constexpr std::string_view role = "AXRole";
inline constexpr std::string_view roleDescription = "AXRoleDescription";
inline constexpr std::string_view title = "AXTitle";
inline constexpr std::string_view description = "AXDescription";
inline constexpr std::string_view help = "AXHelp";
inline constexpr std::string_view value = "AXValue";
inline constexpr std::string_view position = "AXPosition";
inline constexpr std::string_view size = "AXSize";
inline constexpr std::string_view parent = "AXParent";
inline constexpr std::string_view children = "AXChildren";
inline constexpr std::string_view visibleChildren = "AXVisibleChildren";
} // namespace AccessibilityAttribute

// Other applications' user interface as their accessibility interface exposes it. Main thread
// only. Every call is bounded by the adapter: an application that does not answer within a short
// time gives none (or the name's fallback) quickly, never a frozen main thread.
class AccessibilityTree {
public:
    virtual ~AccessibilityTree() = default;
    // The element of application `pid` at the point (Quartz global coordinates); none on any error.
    virtual std::optional<AccessibilityElement> elementAtPoint(ProcessID pid, Point quartzPoint) = 0;
    // The named attribute; none when it is absent or cannot be read.
    virtual std::optional<AccessibilityValue> attribute(const AccessibilityElement& element, std::string_view name) = 0;
    // Position and size in one read, Quartz global points; none when either cannot be read.
    virtual std::optional<Rect> frame(const AccessibilityElement& element) = 0;
    // The localized name of the running application that owns the element; none when unknown.
    virtual std::optional<std::string> applicationName(const AccessibilityElement& element) = 0;
};

} // namespace zorvane
