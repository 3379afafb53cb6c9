#include "fakes/FakeAccessibilityTree.h"

#include <algorithm>
#include <stdexcept>

namespace zorvane::fakes {

FakeAccessibilityTree::NodeID FakeAccessibilityTree::addApplication(ProcessID pid, std::optional<std::string> name)
{
    Node node;
    node.id = nodes_.size();
    node.isApplication = true;
    node.applicationName = std::move(name);
    node.attributes.emplace("AXRole", std::string("AXApplication"));
    nodes_.push_back(std::move(node));
    applications_[pid] = nodes_.back().id;
    return nodes_.back().id;
}

FakeAccessibilityTree::NodeID FakeAccessibilityTree::addElement(NodeID parent, std::map<std::string, AccessibilityValue> attributes)
{
    if (parent >= nodes_.size()) throw std::out_of_range("FakeAccessibilityTree: no such parent");
    Node node;
    node.id = nodes_.size();
    node.parent = parent;
    for (auto& [name, value] : attributes) node.attributes.emplace(name, std::move(value));
    nodes_.push_back(std::move(node));
    nodes_[parent].children.push_back(nodes_.back().id);
    return nodes_.back().id;
}

FakeAccessibilityTree::NodeID FakeAccessibilityTree::addElement(
    NodeID parent, const std::string& role, const Rect& frame, std::map<std::string, AccessibilityValue> more)
{
    more["AXRole"] = role;
    more["AXPosition"] = frame.origin;
    more["AXSize"] = frame.size;
    return addElement(parent, std::move(more));
}

void FakeAccessibilityTree::setAttribute(NodeID node, const std::string& name, AccessibilityValue value)
{
    Node& n = nodes_.at(node);
    n.attributes.insert_or_assign(name, std::move(value));
    n.removed.erase(std::remove(n.removed.begin(), n.removed.end(), name), n.removed.end());
}

void FakeAccessibilityTree::removeAttribute(NodeID node, const std::string& name)
{
    Node& n = nodes_.at(node);
    n.attributes.erase(name);
    n.removed.push_back(name);
}

void FakeAccessibilityTree::setHit(ProcessID pid, std::optional<NodeID> node)
{
    if (node)
        hits_[pid] = *node;
    else
        hits_.erase(pid);
}

AccessibilityElement FakeAccessibilityTree::element(NodeID node)
{
    // Aliasing: the handle points at the node, kept alive by the tree's owner token.
    return AccessibilityElement(std::shared_ptr<void>(owner_, &nodes_.at(node)));
}

std::optional<FakeAccessibilityTree::NodeID> FakeAccessibilityTree::nodeOf(const AccessibilityElement& element) const
{
    const Node* node = element.handle<Node>();
    if (!node || node->id >= nodes_.size() || &nodes_[node->id] != node) return std::nullopt;
    return node->id;
}

void FakeAccessibilityTree::chargeCallsTo(std::shared_ptr<FakeClock> clock, double secondsPerCall)
{
    clock_ = std::move(clock);
    secondsPerCall_ = secondsPerCall;
}

void FakeAccessibilityTree::charge()
{
    if (clock_) clock_->advance(secondsPerCall_);
}

std::optional<AccessibilityElement> FakeAccessibilityTree::elementAtPoint(ProcessID pid, Point)
{
    ++elementAtPointCount;
    charge();
    const auto hit = hits_.find(pid);
    if (hit == hits_.end()) return std::nullopt;
    return element(hit->second);
}

std::optional<AccessibilityValue> FakeAccessibilityTree::attribute(const AccessibilityElement& element, std::string_view name)
{
    ++attributeReadCount;
    charge();
    const auto id = nodeOf(element);
    if (!id) return std::nullopt;
    Node& node = nodes_[*id];
    ++node.reads;
    if (const auto it = node.attributes.find(name); it != node.attributes.end()) return it->second;
    if (std::find(node.removed.begin(), node.removed.end(), name) != node.removed.end()) return std::nullopt;
    if (name == "AXParent" && node.parent) return AccessibilityValue(this->element(*node.parent));
    if (name == "AXChildren") {
        std::vector<AccessibilityElement> children;
        children.reserve(node.children.size());
        for (const NodeID child : node.children) children.push_back(this->element(child));
        return AccessibilityValue(std::move(children));
    }
    return std::nullopt;
}

std::optional<Rect> FakeAccessibilityTree::frame(const AccessibilityElement& element)
{
    ++frameReadCount;
    charge();
    const auto id = nodeOf(element);
    if (!id) return std::nullopt;
    Node& node = nodes_[*id];
    ++node.reads;
    const auto position = node.attributes.find(AccessibilityAttribute::position);
    const auto size = node.attributes.find(AccessibilityAttribute::size);
    if (position == node.attributes.end() || size == node.attributes.end()) return std::nullopt;
    const auto* origin = std::get_if<Point>(&position->second);
    const auto* extent = std::get_if<Size>(&size->second);
    if (!origin || !extent) return std::nullopt;
    return Rect(origin->x, origin->y, extent->width, extent->height);
}

std::optional<std::string> FakeAccessibilityTree::applicationName(const AccessibilityElement& element)
{
    ++applicationNameCount;
    charge();
    auto id = nodeOf(element);
    while (id) {
        const Node& node = nodes_[*id];
        if (node.isApplication) return node.applicationName;
        id = node.parent;
    }
    return std::nullopt;
}

std::size_t FakeAccessibilityTree::readsOf(NodeID node) const
{
    return nodes_.at(node).reads;
}

} // namespace zorvane::fakes
