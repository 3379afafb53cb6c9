#include "app/selection/AccessibilitySelectionService.h"

#include "app/core/Text.h"
#include "app/selection/AccessibilitySelectionHeuristics.h"
#include "app/selection/ScreenCoordinates.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace zorvane {

namespace Attr = AccessibilityAttribute;

namespace {

// A number as the platform writes it: integers without a fraction ("1"), others in their
// shortest exact form ("0.5").
std::string decimalText(double number)
{
    if (std::isfinite(number) && number == std::trunc(number) && std::fabs(number) < 1e15) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(number));
        return buffer;
    }
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
    return std::string(buffer, result.ptr);
}

bool containsAny(const std::string& text, std::initializer_list<std::string_view> parts)
{
    return std::any_of(parts.begin(), parts.end(), [&](std::string_view p) { return text.find(p) != std::string::npos; });
}

} // namespace

AccessibilitySelectionService::AccessibilitySelectionService(std::shared_ptr<Permissions> permissions,
    std::shared_ptr<WindowList> windowList, std::shared_ptr<AccessibilityTree> tree, std::shared_ptr<Screens> screens,
    std::shared_ptr<Clock> clock, ProcessID ownProcessID)
    : permissions_(std::move(permissions)),
      windowList_(std::move(windowList)),
      tree_(std::move(tree)),
      screens_(std::move(screens)),
      clock_(std::move(clock)),
      ownProcessID_(ownProcessID)
{
}

std::optional<CapturedContext> AccessibilitySelectionService::context(Point at)
{
    auto found = selectable(at);
    if (!found) return std::nullopt;
    return std::move(found->context);
}

std::optional<AccessibilityElement> AccessibilitySelectionService::hitAt(Point at)
{
    const auto window = windowList_->topmostApplicationWindow(at, ownProcessID_);
    if (!window || !window->ownerPID) return std::nullopt;
    auto hit = tree_->elementAtPoint(*window->ownerPID, at);
    if (!hit || !*hit) return std::nullopt;
    return hit;
}

std::optional<SelectableElement> AccessibilitySelectionService::selectable(Point at)
{
    if (!permissions_->isAccessibilityTrusted()) return std::nullopt;
    deadline_ = clock_->uptime() + lookupTimeBudget;
    const auto hit = hitAt(at);
    if (!hit) return std::nullopt;

    int frameReadsLeft = descentFrameReads;
    const AccessibilityElement refined = deepestDescendant(at, *hit, descentDepth, frameReadsLeft).element;
    const Rect displayBounds = ScreenCoordinates::quartzBounds(*screens_, at).value_or(Rect(0, 0, 0, 0));

    // Candidates are weighed by role and frame alone; only the chosen one's text is read, since
    // gathering it is most of a lookup's round trips and every other candidate's would be thrown away.
    struct Choice {
        AccessibilityElement element;
        Rect frame;
        std::optional<std::string> role;
    };
    std::optional<Choice> best;
    int bestScore = 0;
    const std::vector<AccessibilityElement> candidates = ancestors(refined, ancestorLimit);
    for (std::size_t depth = 0; depth < candidates.size(); ++depth) {
        // The element under the pointer is always weighed; its ancestors only while time is left.
        if (depth > 0 && pastDeadline()) break;
        const auto frame = tree_->frame(candidates[depth]);
        if (!frame || frame->width() < 2 || frame->height() < 2) continue;
        auto role = stringAttribute(Attr::role, candidates[depth]);
        const int score = AccessibilitySelectionHeuristics::score(role.value_or(""), static_cast<int>(depth), *frame, displayBounds);
        // Strictly greater: on equal scores the candidate nearer the pointer stays.
        if (score > bestScore) {
            best = Choice {candidates[depth], *frame, std::move(role)};
            bestScore = score;
        }
    }
    if (!best) return std::nullopt;
    return SelectableElement {best->element, describe(best->element, best->frame, std::move(best->role))};
}

// MARK: the keyboard

namespace {

bool usable(const std::optional<Rect>& frame)
{
    return frame && frame->width() >= 2 && frame->height() >= 2;
}

// Half a point either way is the same place: toolkits round their frames.
bool sameFrame(const Rect& a, const Rect& b)
{
    const Rect x = a.standardized(), y = b.standardized();
    return std::fabs(x.minX() - y.minX()) < 0.5 && std::fabs(x.minY() - y.minY()) < 0.5 && std::fabs(x.width() - y.width()) < 0.5
        && std::fabs(x.height() - y.height()) < 0.5;
}

// Reading order: rows from the top, each from the left.
bool readsAfter(const Rect& a, const Rect& b)
{
    if (a.minY() >= b.maxY() - 2) return true;
    if (a.maxY() <= b.minY() + 2) return false;
    return a.minX() > b.minX();
}

} // namespace

std::optional<SelectableElement> AccessibilitySelectionService::selectableOf(const AccessibilityElement& element)
{
    const auto frame = tree_->frame(element);
    if (!usable(frame)) return std::nullopt;
    auto role = stringAttribute(Attr::role, element);
    // Its text is gathered within a hover lookup's time, whatever reading the window took.
    deadline_ = clock_->uptime() + lookupTimeBudget;
    return SelectableElement {element, describe(element, *frame, std::move(role))};
}

AccessibilityElement AccessibilitySelectionService::windowOf(const AccessibilityElement& element)
{
    AccessibilityElement current = element;
    for (int level = 0; level < descentDepth; ++level) {
        const auto parent = tree_->attribute(current, Attr::parent);
        const auto* up = parent ? std::get_if<AccessibilityElement>(&*parent) : nullptr;
        if (!up || !*up || *up == current || stringAttribute(Attr::role, *up) == "AXApplication") break;
        current = *up;
    }
    return current;
}

const WindowElements& AccessibilitySelectionService::elementsOf(const AccessibilityElement& element, std::optional<WindowElements>& elements)
{
    const AccessibilityElement window = windowOf(element);
    if (elements && elements->window == window) return *elements;
    elements = WindowElements {window, {}};
    deadline_ = clock_->uptime() + windowReadBudget;
    const auto windowFrame = tree_->frame(window);

    // Depth first, children in their order: the order a person reads the window in.
    struct Pending {
        AccessibilityElement element;
        int depth;
    };
    std::vector<Pending> pending {{window, 0}};
    while (!pending.empty() && elements->entries.size() < static_cast<std::size_t>(windowElementLimit) && !pastDeadline()) {
        const Pending next = std::move(pending.back());
        pending.pop_back();
        const auto frame = tree_->frame(next.element);
        // Hidden, collapsed or scrolled out of the window: nothing to see there.
        if (!usable(frame) || (windowFrame && frame->intersection(*windowFrame).isNull())) continue;
        const bool stop = next.depth > 0 && AccessibilitySelectionHeuristics::isKeyboardStop(stringAttribute(Attr::role, next.element).value_or(""));
        elements->entries.push_back({next.element, *frame, stop});
        if (stop || next.depth >= descentDepth) continue;
        const std::vector<AccessibilityElement> listed = children(next.element);
        for (auto child = listed.rbegin(); child != listed.rend(); ++child) pending.push_back({*child, next.depth + 1});
    }
    return *elements;
}

std::optional<SelectableElement> AccessibilitySelectionService::step(const SelectableElement& from, NavigationStep step,
    std::optional<WindowElements>& elements)
{
    if (!permissions_->isAccessibilityTrusted()) return std::nullopt;
    if (step == NavigationStep::enclosing) return enclosing(from);
    if (step == NavigationStep::firstChild) return firstChild(from);

    const WindowElements& window = elementsOf(from.element, elements);
    std::vector<std::size_t> stops;
    for (std::size_t i = 0; i < window.entries.size(); ++i)
        if (window.entries[i].stop && !(window.entries[i].element == from.element)) stops.push_back(i);
    if (stops.empty()) return std::nullopt;

    std::optional<std::size_t> chosen;
    if (step == NavigationStep::next || step == NavigationStep::previous) {
        const bool forward = step == NavigationStep::next;
        const auto here = std::find_if(window.entries.begin(), window.entries.end(), [&](const auto& e) { return e.element == from.element; });
        const auto comesAfter = [&](std::size_t i) {
            // An element the walk did not list (inside a control): by where it is on the screen.
            if (here == window.entries.end()) return readsAfter(window.entries[i].frame, from.context.screenRect);
            return i > static_cast<std::size_t>(here - window.entries.begin());
        };
        if (forward) {
            const auto after = std::find_if(stops.begin(), stops.end(), comesAfter);
            chosen = after != stops.end() ? *after : stops.front();
        } else {
            const auto before = std::find_if(stops.rbegin(), stops.rend(), [&](std::size_t i) { return !comesAfter(i); });
            chosen = before != stops.rend() ? *before : stops.back();
        }
    } else {
        std::vector<Rect> frames;
        for (const std::size_t i : stops) frames.push_back(window.entries[i].frame);
        const auto direction = step == NavigationStep::left ? AccessibilitySelectionHeuristics::Direction::left
            : step == NavigationStep::right                  ? AccessibilitySelectionHeuristics::Direction::right
            : step == NavigationStep::up                     ? AccessibilitySelectionHeuristics::Direction::up
                                                             : AccessibilitySelectionHeuristics::Direction::down;
        if (const auto nearest = AccessibilitySelectionHeuristics::nearestInDirection(from.context.screenRect, frames, direction))
            chosen = stops[*nearest];
    }
    if (!chosen) return std::nullopt;
    return selectableOf(window.entries[*chosen].element);
}

std::optional<SelectableElement> AccessibilitySelectionService::firstElement(Point at, std::optional<WindowElements>& elements)
{
    if (!permissions_->isAccessibilityTrusted()) return std::nullopt;
    const auto hit = hitAt(at);
    if (!hit) return std::nullopt;
    const WindowElements& window = elementsOf(*hit, elements);
    const auto first = std::find_if(window.entries.begin(), window.entries.end(), [](const auto& e) { return e.stop; });
    if (first == window.entries.end()) return std::nullopt;
    return selectableOf(first->element);
}

std::optional<SelectableElement> AccessibilitySelectionService::enclosing(const SelectableElement& from)
{
    AccessibilityElement current = from.element;
    for (int level = 0; level < descentDepth; ++level) {
        const auto parent = tree_->attribute(current, Attr::parent);
        const auto* up = parent ? std::get_if<AccessibilityElement>(&*parent) : nullptr;
        if (!up || !*up || *up == current || stringAttribute(Attr::role, *up) == "AXApplication") return std::nullopt;
        // A wrapper of the same frame would look like no step at all.
        if (const auto frame = tree_->frame(*up); usable(frame) && !sameFrame(*frame, from.context.screenRect)) return selectableOf(*up);
        current = *up;
    }
    return std::nullopt;
}

std::optional<SelectableElement> AccessibilitySelectionService::firstChild(const SelectableElement& from)
{
    std::optional<AccessibilityElement> sameFramed;
    AccessibilityElement current = from.element;
    for (int level = 0; level < descentDepth; ++level) {
        std::optional<AccessibilityElement> first;
        std::optional<Rect> firstFrame;
        for (const AccessibilityElement& child : children(current)) {
            firstFrame = tree_->frame(child);
            if (usable(firstFrame)) {
                first = child;
                break;
            }
        }
        if (!first) break;
        if (!sameFrame(*firstFrame, from.context.screenRect)) return selectableOf(*first);
        if (!sameFramed) sameFramed = first;
        current = *first;
    }
    if (sameFramed) return selectableOf(*sameFramed);
    return std::nullopt;
}

bool AccessibilitySelectionService::pastDeadline() const
{
    return clock_->uptime() >= deadline_;
}

AccessibilitySelectionService::Descent AccessibilitySelectionService::deepestDescendant(
    Point containing, const AccessibilityElement& start, int remainingDepth, int& frameReadsLeft)
{
    if (remainingDepth < 1 || frameReadsLeft < 1 || pastDeadline()) return {start, 0};

    struct Qualified {
        AccessibilityElement element;
        double area;
    };
    std::vector<Qualified> qualified;
    for (const AccessibilityElement& child : children(start)) {
        if (frameReadsLeft < 1 || pastDeadline()) break;
        --frameReadsLeft;
        const auto childFrame = tree_->frame(child);
        if (!childFrame || childFrame->width() < 2 || childFrame->height() < 2 || !childFrame->contains(containing)) continue;
        qualified.push_back({child, childFrame->area()});
    }
    if (qualified.empty()) return {start, 0};

    std::stable_sort(qualified.begin(), qualified.end(), [](const Qualified& a, const Qualified& b) { return a.area < b.area; });
    if (qualified.size() > static_cast<std::size_t>(descentChildren)) qualified.resize(descentChildren);

    Descent best {start, 0};
    for (const Qualified& child : qualified) {
        Descent candidate = deepestDescendant(containing, child.element, remainingDepth - 1, frameReadsLeft);
        candidate.depth += 1;
        if (candidate.depth > best.depth) best = std::move(candidate);
    }
    return best;
}

std::vector<AccessibilityElement> AccessibilitySelectionService::ancestors(const AccessibilityElement& start, int limit)
{
    std::vector<AccessibilityElement> chain {start};
    for (int i = 0; i < limit; ++i) {
        const auto parent = tree_->attribute(chain.back(), Attr::parent);
        if (!parent) break;
        const auto* element = std::get_if<AccessibilityElement>(&*parent);
        if (!element || !*element) break;
        chain.push_back(*element);
    }
    return chain;
}

CapturedContext AccessibilitySelectionService::describe(const AccessibilityElement& element, const Rect& frame,
    std::optional<std::string> platformRole)
{
    CapturedContext context;
    context.appName = tree_->applicationName(element).value_or("Aplicación");
    auto role = stringAttribute(Attr::roleDescription, element);
    if (!role) role = std::move(platformRole);
    context.role = role.value_or("Elemento");
    context.title = firstNonEmpty({stringAttribute(Attr::title, element), stringAttribute(Attr::description, element),
                                      stringAttribute(Attr::help, element)})
                        .value_or("");
    std::string content = stringAttribute(Attr::value, element).value_or("");
    if (content.empty()) content = descendantText(element, gatheredTextDepth, gatheredTextCharacters);
    context.content = Text::prefixCharacters(content, contentCharacters);
    context.screenRect = frame;

    const std::string loweredRole = Text::lowercased(context.role);
    if (containsAny(loweredRole, {"image", "imagen"}))
        context.kind = CapturedContext::Kind::image;
    else if (!context.content.empty())
        context.kind = CapturedContext::Kind::text;
    else if (containsAny(loweredRole, {"text", "texto"}))
        context.kind = CapturedContext::Kind::text;
    else
        context.kind = CapturedContext::Kind::interface;
    return context;
}

std::string AccessibilitySelectionService::descendantText(const AccessibilityElement& element, int depth, int budget)
{
    if (depth < 1 || budget < 1) return {};
    const auto listed = tree_->attribute(element, Attr::children);
    if (!listed) return {};
    const auto* childList = std::get_if<std::vector<AccessibilityElement>>(&*listed);
    if (!childList) return {};

    std::string joined;
    bool first = true;
    int left = budget;
    const std::size_t visited = std::min(childList->size(), static_cast<std::size_t>(gatheredTextChildren));
    for (std::size_t i = 0; i < visited; ++i) {
        if (left < 1 || pastDeadline()) break;
        const AccessibilityElement& child = (*childList)[i];
        std::string text = firstNonEmpty({stringAttribute(Attr::value, child), stringAttribute(Attr::title, child),
                                             stringAttribute(Attr::description, child)})
                               .value_or("");
        if (text.empty()) text = descendantText(child, depth - 1, left);
        text = Text::trimmed(text);
        if (text.empty()) continue;
        std::string piece = Text::prefixCharacters(text, static_cast<std::size_t>(left));
        left -= static_cast<int>(Text::characterCount(piece));
        if (!first) joined += '\n';
        joined += piece;
        first = false;
    }
    return joined;
}

std::vector<AccessibilityElement> AccessibilitySelectionService::children(const AccessibilityElement& element)
{
    if (const auto visible = tree_->attribute(element, Attr::visibleChildren)) {
        if (const auto* list = std::get_if<std::vector<AccessibilityElement>>(&*visible); list && !list->empty()) return *list;
    }
    if (const auto all = tree_->attribute(element, Attr::children)) {
        if (const auto* list = std::get_if<std::vector<AccessibilityElement>>(&*all)) return *list;
    }
    return {};
}

std::optional<std::string> AccessibilitySelectionService::stringAttribute(std::string_view name, const AccessibilityElement& element)
{
    const auto value = tree_->attribute(element, name);
    if (!value) return std::nullopt;
    if (const auto* text = std::get_if<std::string>(&*value)) return *text;
    if (const auto* number = std::get_if<double>(&*value)) return decimalText(*number);
    return std::nullopt;
}

std::optional<std::string> AccessibilitySelectionService::firstNonEmpty(std::initializer_list<std::optional<std::string>> texts)
{
    for (const auto& text : texts) {
        if (!text) continue;
        std::string trimmed = Text::trimmed(*text);
        if (!trimmed.empty()) return trimmed;
    }
    return std::nullopt;
}

} // namespace zorvane
