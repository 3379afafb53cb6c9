#pragma once

#include "app/platform/AccessibilityTree.h"
#include "fakes/VirtualTime.h"

#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zorvane::fakes {

// Accessibility trees the test builds: applications by pid, and elements with attributes.
// "AXParent" and "AXChildren" follow the structure unless the test sets them itself;
// "AXVisibleChildren" exists only when set; frame() reads "AXPosition" and "AXSize" together.
// Every read is counted, per element and in all, and may cost virtual time like a real bus call.
class FakeAccessibilityTree : public AccessibilityTree {
public:
    using NodeID = std::size_t;

    NodeID addApplication(ProcessID pid, std::optional<std::string> name);
    // A child of `parent`, after its other children, with the given attributes.
    NodeID addElement(NodeID parent, std::map<std::string, AccessibilityValue> attributes = {});
    // Shorthand: an element with a role and a frame.
    NodeID addElement(NodeID parent, const std::string& role, const Rect& frame, std::map<std::string, AccessibilityValue> more = {});

    void setAttribute(NodeID node, const std::string& name, AccessibilityValue value);
    // The attribute reads as absent, even "AXParent" and "AXChildren".
    void removeAttribute(NodeID node, const std::string& name);
    // What elementAtPoint answers for the application, whatever the point; none by default.
    void setHit(ProcessID pid, std::optional<NodeID> node);

    AccessibilityElement element(NodeID node);
    // The node an element stands for; none for an element of another tree.
    std::optional<NodeID> nodeOf(const AccessibilityElement& element) const;

    std::optional<AccessibilityElement> elementAtPoint(ProcessID pid, Point quartzPoint) override;
    std::optional<AccessibilityValue> attribute(const AccessibilityElement& element, std::string_view name) override;
    std::optional<Rect> frame(const AccessibilityElement& element) override;
    std::optional<std::string> applicationName(const AccessibilityElement& element) override;

    // Every call from now on moves the clock forward by `secondsPerCall`.
    void chargeCallsTo(std::shared_ptr<FakeClock> clock, double secondsPerCall);

    std::size_t readsOf(NodeID node) const;
    // Calls of every kind: what one lookup costs in round trips to other applications.
    std::size_t callCount() const { return elementAtPointCount + attributeReadCount + frameReadCount + applicationNameCount; }

    std::size_t elementAtPointCount = 0;
    std::size_t attributeReadCount = 0;
    std::size_t frameReadCount = 0;
    std::size_t applicationNameCount = 0;

private:
    struct Node {
        NodeID id;
        std::optional<NodeID> parent;
        std::vector<NodeID> children;
        std::map<std::string, AccessibilityValue, std::less<>> attributes;
        std::vector<std::string> removed;
        std::optional<std::string> applicationName; // applications only
        bool isApplication = false;
        std::size_t reads = 0;
    };

    std::deque<Node> nodes_;
    std::map<ProcessID, NodeID> applications_;
    std::map<ProcessID, NodeID> hits_;
    void charge();
    std::shared_ptr<FakeClock> clock_;
    double secondsPerCall_ = 0;
    // One owner for every element handle, so equal nodes give equal elements.
    std::shared_ptr<int> owner_ = std::make_shared<int>(0);
};

} // namespace zorvane::fakes
