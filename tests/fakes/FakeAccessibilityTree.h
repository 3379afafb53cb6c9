#pragma once

#include "app/platform/AccessibilityTree.h"
#include "fakes/VirtualTime.h"

#include <deque>
#include <map>
#include <optional>
#include <string>

namespace zorvane::fakes {

// Accessibility trees the test builds: applications, and elements with attributes. "AXParent" and
// "AXChildren" follow the structure unless set or removed; frame() reads "AXPosition" and "AXSize".
// Calls are counted (each a round trip to another application) and may cost virtual time.
class FakeAccessibilityTree : public AccessibilityTree {
public:
    using NodeID = std::size_t;
    using Attributes = std::map<std::string, AccessibilityValue>;

    NodeID addApplication(ProcessID, std::optional<std::string> name)
    {
        nodes_.push_back(Node {std::nullopt, {}, {{"AXRole", std::string("AXApplication")}}, std::move(name), true, 0});
        return nodes_.size() - 1;
    }
    // A child of `parent`, after its other children.
    NodeID addElement(NodeID parent, const Attributes& attributes = {})
    {
        nodes_.at(parent).children.push_back(nodes_.size());
        nodes_.push_back(Node {parent, {}, {attributes.begin(), attributes.end()}, std::nullopt, false, 0});
        return nodes_.size() - 1;
    }
    NodeID addElement(NodeID parent, const std::string& role, const Rect& frame, Attributes more = {})
    {
        more.insert({{"AXRole", role}, {"AXPosition", frame.origin}, {"AXSize", frame.size}});
        return addElement(parent, more);
    }
    void setAttribute(NodeID node, const std::string& name, AccessibilityValue value) { nodes_.at(node).attributes[name] = std::move(value); }
    // Reads as absent from now on, even "AXParent" and "AXChildren".
    void removeAttribute(NodeID node, const std::string& name) { nodes_.at(node).attributes[name] = std::nullopt; }
    // What elementAtPoint answers for the application wherever the point; none by default.
    void setHit(ProcessID pid, std::optional<NodeID> node) { hits_[pid] = node; }
    // Aliasing: the handle points at the node and shares the tree's owner, so equal nodes give equal elements.
    AccessibilityElement element(NodeID node) { return AccessibilityElement(std::shared_ptr<void>(owner_, &nodes_.at(node))); }
    // Every call from now on moves the clock forward by `secondsPerCall`.
    void chargeCallsTo(std::shared_ptr<FakeClock> clock, double secondsPerCall)
    {
        clock_ = std::move(clock);
        secondsPerCall_ = secondsPerCall;
    }

    std::optional<AccessibilityElement> elementAtPoint(ProcessID pid, Point) override
    {
        read(AccessibilityElement());
        const auto hit = hits_.find(pid);
        return hit == hits_.end() || !hit->second ? std::nullopt : std::optional(element(*hit->second));
    }
    std::optional<AccessibilityValue> attribute(const AccessibilityElement& element, std::string_view name) override
    {
        const Node* node = read(element);
        if (!node) return std::nullopt;
        if (const auto found = node->attributes.find(name); found != node->attributes.end()) return found->second;
        if (name == "AXParent" && node->parent) return this->element(*node->parent);
        if (name != "AXChildren") return std::nullopt;
        std::vector<AccessibilityElement> children;
        for (const NodeID child : node->children) children.push_back(this->element(child));
        return children;
    }
    std::optional<Rect> frame(const AccessibilityElement& element) override
    {
        const Node* node = read(element);
        const auto value = [&](std::string_view name) {
            const auto found = node->attributes.find(name);
            return found == node->attributes.end() || !found->second ? nullptr : &*found->second;
        };
        const Point* origin = node ? std::get_if<Point>(value("AXPosition")) : nullptr;
        const Size* size = node ? std::get_if<Size>(value("AXSize")) : nullptr;
        return origin && size ? std::optional(Rect(origin->x, origin->y, size->width, size->height)) : std::nullopt;
    }
    std::optional<std::string> applicationName(const AccessibilityElement& element) override
    {
        for (const Node* node = read(element); node; node = node->parent ? &nodes_[*node->parent] : nullptr)
            if (node->isApplication) return node->applicationName;
        return std::nullopt;
    }

    std::size_t callCount() const { return calls_; }
    std::size_t readsOf(NodeID node) const { return nodes_.at(node).reads; }

private:
    struct Node {
        std::optional<NodeID> parent;
        std::vector<NodeID> children;
        std::map<std::string, std::optional<AccessibilityValue>, std::less<>> attributes; // none: removed
        std::optional<std::string> applicationName;
        bool isApplication;
        std::size_t reads;
    };
    Node* read(const AccessibilityElement& element)
    {
        ++calls_;
        if (clock_) clock_->advance(secondsPerCall_);
        Node* node = element.handle<Node>();
        if (node) ++node->reads;
        return node;
    }

    std::deque<Node> nodes_;
    std::map<ProcessID, std::optional<NodeID>> hits_;
    std::shared_ptr<FakeClock> clock_;
    double secondsPerCall_ = 0;
    std::size_t calls_ = 0;
    std::shared_ptr<int> owner_ = std::make_shared<int>(0);
};

} // namespace zorvane::fakes
