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
    if (!permissions_->isAccessibilityTrusted()) return std::nullopt;
    deadline_ = clock_->uptime() + lookupTimeBudget;
    const auto window = windowList_->topmostApplicationWindow(at, ownProcessID_);
    if (!window || !window->ownerPID) return std::nullopt;
    const auto hit = tree_->elementAtPoint(*window->ownerPID, at);
    if (!hit || !*hit) return std::nullopt;

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
    return describe(best->element, best->frame, std::move(best->role));
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
