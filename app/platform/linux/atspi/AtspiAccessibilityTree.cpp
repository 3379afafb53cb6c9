#include "app/platform/linux/atspi/AtspiAccessibilityTree.h"

#include "app/platform/linux/atspi/AtspiRoles.h"
#include "app/platform/linux/atspi/DesktopEntryNames.h"

#include <atspi/atspi.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <set>
#include <unordered_map>
#include <vector>

namespace zorvane {

namespace Attr = AccessibilityAttribute;
using SteadyClock = std::chrono::steady_clock;

namespace {

// Walks stop here: no toolkit nests deeper, and a broken tree must not keep us busy.
constexpr int maximumDepth = 64;
// Children read from one element. Larger lists are long tables and feeds whose tail is far away.
constexpr int maximumChildren = 256;
constexpr int maximumScannedChildren = 200;
constexpr int maximumScannedGrandchildren = 50;
constexpr int maximumTopLevels = 64;
// Text read for "AXValue", in characters; the core keeps at most 8000 grapheme clusters.
constexpr int maximumTextCharacters = 16000;

struct GObjectRelease {
    void operator()(gpointer object) const
    {
        if (object) g_object_unref(object);
    }
};
template <typename T>
using Owned = std::unique_ptr<T, GObjectRelease>;

struct GErrorSlot {
    GError* error = nullptr;
    ~GErrorSlot()
    {
        if (error) g_error_free(error);
    }
    GError** operator&() { return &error; }
    explicit operator bool() const { return error != nullptr; }
};

std::string takeString(gchar* text)
{
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

// U+FFFC stands for an embedded child (a link inside a paragraph); it is not text.
std::string withoutObjectReplacements(std::string text)
{
    static constexpr std::string_view replacement = "\xEF\xBF\xBC";
    for (auto at = text.find(replacement); at != std::string::npos; at = text.find(replacement, at))
        text.erase(at, replacement.size());
    return text;
}

bool plausible(const AtspiRect& r)
{
    // Toolkits report INT_MIN origins and negative sizes for objects that are not laid out.
    constexpr int limit = 1 << 24;
    return r.width > 0 && r.height > 0 && std::abs(r.x) < limit && std::abs(r.y) < limit && r.width < limit && r.height < limit;
}

bool contains(const AtspiRect& r, int x, int y)
{
    return plausible(r) && x >= r.x && y >= r.y && x < r.x + r.width && y < r.y + r.height;
}

void discardLibraryMessages(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

} // namespace

RootCoordinates RootCoordinates::identity()
{
    return {[](Point p) { return p; }, [](const Rect& r) { return r; }, nullptr, nullptr};
}

namespace {

using Mapping = AtspiScale::Mapping;

const std::shared_ptr<const Mapping>& identityMapping()
{
    static const auto identity = std::make_shared<const Mapping>();
    return identity;
}

bool isDocument(AtspiRole role)
{
    return role == ATSPI_ROLE_DOCUMENT_WEB || role == ATSPI_ROLE_DOCUMENT_FRAME || role == ATSPI_ROLE_EMBEDDED;
}

Rect rectOf(const AtspiRect& r)
{
    return Rect(r.x, r.y, r.width, r.height);
}

} // namespace

// How an object's coordinates are read: its application's mapping, and what the object it was
// reached from speaks (a web page inside a scaled browser speaks root pixels, see AtspiScale).
struct AtspiAccessibilityTree::Placement {
    std::shared_ptr<const Mapping> base = identityMapping();
    std::shared_ptr<const Mapping> inherited = identityMapping();
};

struct AtspiAccessibilityTree::Node {
    Node(AtspiAccessible* accessible, ProcessID pid, Placement placement)
        : accessible(accessible), pid(pid), placement(std::move(placement))
    {
        g_object_ref(accessible);
    }
    ~Node() { g_object_unref(accessible); }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    AtspiAccessible* accessible;
    ProcessID pid;
    Placement placement;
    // Decided on first need: what the object speaks, and whether it is a page in root pixels.
    std::shared_ptr<const Mapping> mapping;
    bool pixelDocument = false;
};

struct AtspiAccessibilityTree::Application {
    Owned<AtspiAccessible> root;
    std::optional<std::string> name;
    std::optional<bool> qt; // Qt keeps each monitor's corner when it scales
};

struct AtspiAccessibilityTree::KnownMapping {
    std::shared_ptr<const Mapping> mapping;
    SteadyClock::time_point until;
};

// One request to another application: refused while that application is paused or when the
// lookup's time is up, bounded by the shorter of the two, and counted.
class AtspiAccessibilityTree::Call {
public:
    Call(AtspiAccessibilityTree& tree, ProcessID pid, const Deadline* deadline = nullptr)
        : tree_(tree), pid_(pid), deadline_(deadline)
    {
    }

    template <typename Request>
    bool operator()(Request&& request)
    {
        if (tree_.unresponsive(pid_)) return false;
        auto timeout = std::chrono::duration_cast<std::chrono::milliseconds>(tree_.bounds_.call);
        const auto start = SteadyClock::now();
        if (deadline_) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline_ - start);
            if (left.count() < 1) return false;
            timeout = std::min(timeout, left);
        }
        // libatspi reads the bound before every call; a startup grace of 0 keeps it from
        // waiting 15 s on applications it has only just seen.
        atspi_set_timeout(static_cast<gint>(timeout.count()), 0);
        ++tree_.busCalls_;
        const bool answered = request(*this);
        // A failure that took (nearly) the whole bound is an application that did not answer;
        // other failures (a vanished object, a missing interface) come back at once.
        if (!answered && SteadyClock::now() - start >= timeout * 9 / 10)
            tree_.unresponsiveUntil_[pid_] = SteadyClock::now() + tree_.bounds_.unresponsivePause;
        return answered;
    }

    // A second request made inside one counted call.
    void another() { ++tree_.busCalls_; }
    Facts& facts() { return *tree_.facts_; }
    // The application is paused or the lookup's time is up: no request will be made.
    bool refused() const
    {
        return tree_.unresponsive(pid_) || (deadline_ && SteadyClock::now() >= *deadline_);
    }
    // libatspi asks an object once for its interface list, then keeps it.
    void interfacesOf(AtspiAccessible* accessible)
    {
        if (!(accessible->cached_properties & ATSPI_CACHE_INTERFACES)) another();
    }

private:
    AtspiAccessibilityTree& tree_;
    ProcessID pid_;
    const Deadline* deadline_;
};

// What one lookup has learnt of each object it met. The overlay's scoring reads the same role,
// frame and children several times per lookup; each is asked for once. Kept only while the lookup
// runs (cleared when the next one starts or the time is up), so nothing stale outlives it.
struct AtspiAccessibilityTree::Facts {
    struct Entry {
        Owned<AtspiAccessible> keep; // the key stays the same object while it is here
        std::optional<AtspiRole> role;
        std::optional<std::optional<AtspiRect>> extents;
        std::optional<bool> showing;
        std::optional<std::vector<Owned<AtspiAccessible>>> children;
        std::optional<std::string> name;
        std::optional<std::string> description;
        // Outer: read or not; inner: the value, or none when the element has none.
        std::optional<std::optional<AccessibilityValue>> value;
    };
    Entry& of(AtspiAccessible* accessible)
    {
        Entry& entry = entries[accessible];
        if (!entry.keep) entry.keep.reset(static_cast<AtspiAccessible*>(g_object_ref(accessible)));
        return entry;
    }
    std::unordered_map<AtspiAccessible*, Entry> entries;
    SteadyClock::time_point until;
};

namespace {

// Each of these is one bus request the first time in a lookup, none after.

template <typename Call>
std::optional<AtspiRect> extents(Call& call, AtspiAccessible* accessible)
{
    auto& known = call.facts().of(accessible);
    if (known.extents) return *known.extents;
    std::optional<AtspiRect> result;
    const bool answered = call([&](auto& c) {
        c.interfacesOf(accessible);
        Owned<AtspiComponent> component(atspi_accessible_get_component_iface(accessible));
        // No component, or no interface list because the application did not answer.
        if (!component) return (accessible->cached_properties & ATSPI_CACHE_INTERFACES) != 0;
        GErrorSlot error;
        AtspiRect* rect = atspi_component_get_extents(component.get(), ATSPI_COORD_TYPE_SCREEN, &error);
        if (!rect || error) {
            g_free(rect);
            return false;
        }
        result = *rect;
        g_free(rect);
        return true;
    });
    if (answered) known.extents = result;
    return result;
}

template <typename Call>
std::optional<bool> showing(Call& call, AtspiAccessible* accessible)
{
    auto& known = call.facts().of(accessible);
    if (known.showing) return known.showing;
    call([&](auto&) {
        Owned<AtspiStateSet> states(atspi_accessible_get_state_set(accessible));
        if (!states) return false;
        known.showing = atspi_state_set_contains(states.get(), ATSPI_STATE_SHOWING) &&
            !atspi_state_set_contains(states.get(), ATSPI_STATE_DEFUNCT);
        return true;
    });
    return known.showing;
}

template <typename Call>
const std::vector<Owned<AtspiAccessible>>& children(Call& call, AtspiAccessible* accessible, int limit)
{
    auto& known = call.facts().of(accessible);
    if (known.children) return *known.children;
    static const std::vector<Owned<AtspiAccessible>> none;
    int count = -1;
    call([&](auto&) {
        GErrorSlot error;
        count = atspi_accessible_get_child_count(accessible, &error);
        return !error && count >= 0;
    });
    if (count < 0) return none;
    std::vector<Owned<AtspiAccessible>> list;
    for (int i = 0; i < std::min(count, limit); ++i) {
        Owned<AtspiAccessible> child;
        const bool answered = call([&](auto&) {
            GErrorSlot error;
            child.reset(atspi_accessible_get_child_at_index(accessible, i, &error));
            return !error;
        });
        if (!answered && call.refused()) return none;
        // A child that names its parent as itself would make every walk a loop.
        if (child && child.get() != accessible) list.push_back(std::move(child));
    }
    known.children = std::move(list);
    return *known.children;
}

// The object's name, or its description.
template <typename Call>
std::optional<std::string> text(Call& call, AtspiAccessible* accessible, bool description = false)
{
    auto& known = call.facts().of(accessible);
    std::optional<std::string>& text = description ? known.description : known.name;
    if (text) return text;
    call([&](auto&) {
        GErrorSlot error;
        gchar* value = description ? atspi_accessible_get_description(accessible, &error) : atspi_accessible_get_name(accessible, &error);
        if (error) {
            g_free(value);
            return false;
        }
        text = takeString(value);
        return true;
    });
    return text;
}

template <typename Call>
std::optional<AtspiRole> role(Call& call, AtspiAccessible* accessible)
{
    auto& known = call.facts().of(accessible);
    if (known.role) return known.role;
    call([&](auto&) {
        GErrorSlot error;
        const AtspiRole value = atspi_accessible_get_role(accessible, &error);
        if (error) return false;
        known.role = value;
        return true;
    });
    return known.role;
}

// What an object reached with `placement` speaks; pixelDocument tells a page in root pixels.
template <typename Call>
std::shared_ptr<const Mapping> speaks(Call& call, AtspiAccessible* accessible, const std::shared_ptr<const Mapping>& base,
    const std::shared_ptr<const Mapping>& inherited, bool& pixelDocument)
{
    pixelDocument = false;
    // Only a scaled application's pages may speak otherwise.
    if (base->scale == 1) return inherited;
    const auto ownRole = role(call, accessible);
    if (!ownRole || !isDocument(*ownRole)) return inherited;
    const auto r = extents(call, accessible);
    pixelDocument = r && plausible(*r) && base->documentInRootPixels(rectOf(*r));
    return pixelDocument ? identityMapping() : base;
}

} // namespace

AtspiAccessibilityTree::AtspiAccessibilityTree(RootCoordinates coordinates)
    : AtspiAccessibilityTree(std::move(coordinates), Bounds {})
{
}

AtspiAccessibilityTree::AtspiAccessibilityTree(RootCoordinates coordinates, Bounds bounds)
    : coordinates_(std::move(coordinates)), bounds_(bounds), facts_(std::make_unique<Facts>())
{
}

void AtspiAccessibilityTree::forgetStaleFacts(bool newLookup)
{
    const auto now = SteadyClock::now();
    if (newLookup || now >= facts_->until) facts_->entries.clear();
    if (newLookup) facts_->until = now + bounds_.lookup + bounds_.factsAfterLookup;
}

AtspiAccessibilityTree::~AtspiAccessibilityTree() = default;

bool AtspiAccessibilityTree::connect()
{
    if (connected_) return true;
    // The system writes no log; libatspi warns on the default domain about applications that
    // misbehave, which is not ours to report.
    static const bool silenced = [] {
        g_log_set_handler(nullptr, static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG),
            discardLibraryMessages, nullptr);
        return true;
    }();
    (void)silenced;
    const int status = atspi_init();
    if (status != 0 && status != 1) {
        // No accessibility bus. Forget the attempt so that a later lookup tries again (libatspi
        // would otherwise abort the process on its next call).
        atspi_exit();
        return false;
    }
    atspi_set_timeout(static_cast<gint>(bounds_.call.count()), 0);
    connected_ = true;
    return true;
}

bool AtspiAccessibilityTree::unresponsive(ProcessID pid)
{
    const auto it = unresponsiveUntil_.find(pid);
    if (it == unresponsiveUntil_.end()) return false;
    if (SteadyClock::now() < it->second) return true;
    unresponsiveUntil_.erase(it);
    return false;
}

AccessibilityElement AtspiAccessibilityTree::makeElement(void* accessible, ProcessID pid, const Placement& placement)
{
    // The object keeps its address while a node holds it, so a live entry is the same object.
    if (const auto known = nodes_.find(accessible); known != nodes_.end()) {
        if (auto node = known->second.lock(); node && node->pid == pid) return AccessibilityElement(std::move(node));
    }
    if (nodes_.size() > 4096) std::erase_if(nodes_, [](const auto& entry) { return entry.second.expired(); });
    auto node = std::make_shared<Node>(static_cast<AtspiAccessible*>(accessible), pid, placement);
    nodes_[accessible] = node;
    return AccessibilityElement(std::move(node));
}

std::shared_ptr<const Mapping> AtspiAccessibilityTree::mappingFor(ProcessID pid, Point rootPixel, const std::vector<Rect>& topLevels,
    const std::function<std::optional<std::string>(std::size_t)>& nameOf)
{
    if (!coordinates_.windowAt) return identityMapping();
    const auto now = SteadyClock::now();
    auto& known = mappings_[pid];
    if (known && now < known->until && known->mapping->window.contains(rootPixel)) return known->mapping;
    const auto window = coordinates_.windowAt(pid, rootPixel);
    if (!window) return identityMapping();
    if (window->windowRelative) {
        // The top-level the window shows: by its title when the application has several.
        std::size_t shown = 0;
        for (std::size_t i = 0; topLevels.size() > 1 && window->title && i < topLevels.size(); ++i)
            if (nameOf(i) == window->title) {
                shown = i;
                break;
            }
        Mapping found = AtspiScale::windowRelative(*window, topLevels.empty() ? Rect(0, 0, 0, 0) : topLevels[shown]);
        found.title = window->title;
        known = std::make_unique<KnownMapping>(KnownMapping {std::make_shared<const Mapping>(std::move(found)), now + bounds_.mappingLifetime});
        return known->mapping;
    }
    bool qt = false;
    if (const auto app = applications_.find(pid); app != applications_.end()) {
        Application& application = *app->second;
        if (!application.qt) {
            Call call(*this, pid);
            call([&](auto&) {
                GErrorSlot error;
                const std::string toolkit = takeString(atspi_accessible_get_toolkit_name(application.root.get(), &error));
                if (error) return false;
                application.qt = toolkit == "Qt";
                return true;
            });
        }
        qt = application.qt.value_or(false);
    }
    const std::vector<Rect> monitors = coordinates_.monitors ? coordinates_.monitors() : std::vector<Rect> {};
    Mapping found = AtspiScale::detect(topLevels, *window, monitors, qt).value_or(Mapping {});
    found.window = window->frame;
    known = std::make_unique<KnownMapping>(KnownMapping {std::make_shared<const Mapping>(std::move(found)), now + bounds_.mappingLifetime});
    return known->mapping;
}

bool AtspiAccessibilityTree::refreshApplications(const Deadline& deadline)
{
    // The registry answers for the desktop; its "process" is not any application's.
    Call registry(*this, 0, &deadline);
    Owned<AtspiAccessible> desktop;
    // The first time, this asks the registry for its list of applications.
    registry([&](auto&) {
        desktop.reset(atspi_get_desktop(0));
        return desktop != nullptr;
    });
    if (!desktop) return false;
    std::map<ProcessID, std::unique_ptr<Application>> found;
    for (const auto& listed : children(registry, desktop.get(), maximumChildren)) {
        Owned<AtspiAccessible> root(static_cast<AtspiAccessible*>(g_object_ref(listed.get())));
        guint pid = 0;
        registry([&](auto&) {
            GErrorSlot error;
            pid = atspi_accessible_get_process_id(root.get(), &error);
            return !error;
        });
        if (pid == 0 || pid > static_cast<guint>(std::numeric_limits<ProcessID>::max())) continue;
        auto& entry = found[static_cast<ProcessID>(pid)];
        if (!entry) entry = std::make_unique<Application>(Application {std::move(root), std::nullopt, std::nullopt});
    }
    applications_ = std::move(found);
    return true;
}

AtspiAccessibilityTree::Application* AtspiAccessibilityTree::application(ProcessID pid, const Deadline& deadline, bool stale)
{
    auto it = applications_.find(pid);
    if (it != applications_.end()) return it->second.get();
    // A miss: the application started, or restarted, since the map was made. An application
    // that shows no tree (Qt or Chromium with accessibility off) would otherwise make every
    // pointer move over its windows read the whole list again.
    const auto now = SteadyClock::now();
    if (!stale && now - lastRefresh_ < bounds_.rereadApplications) return nullptr;
    lastRefresh_ = now;
    if (!refreshApplications(deadline)) return nullptr;
    it = applications_.find(pid);
    return it == applications_.end() ? nullptr : it->second.get();
}

AtspiAccessibilityTree::Application* AtspiAccessibilityTree::applicationShowing(ProcessID pid, Point rootPixel, const Deadline& deadline)
{
    // A sandboxed application reaches the accessibility bus through a proxy, whose process is not
    // the window's: the application with a top-level of the window's title. Not asked again for a
    // while when none has one.
    const auto window = coordinates_.windowAt ? coordinates_.windowAt(pid, rootPixel) : std::nullopt;
    if (!window || !window->title || window->title->empty()) return nullptr;
    auto& missed = titleMisses_[pid];
    if (missed.first == *window->title && SteadyClock::now() < missed.second) return nullptr;
    for (auto& [owner, app] : applications_) {
        Call call(*this, owner, &deadline);
        for (const auto& topLevel : children(call, app->root.get(), maximumTopLevels))
            if (text(call, topLevel.get()) == window->title) return app.get();
    }
    if (SteadyClock::now() < deadline) missed = {*window->title, SteadyClock::now() + std::chrono::seconds(5)};
    return nullptr;
}

std::optional<AccessibilityElement> AtspiAccessibilityTree::elementAtPoint(ProcessID pid, Point quartzPoint)
{
    if (pid <= 0 || unresponsive(pid) || !connect()) return std::nullopt;
    const Deadline deadline = SteadyClock::now() + bounds_.lookup;
    forgetStaleFacts(true);
    const Point pixel = coordinates_.rootPixelsOf(quartzPoint);
    if (!std::isfinite(pixel.x) || !std::isfinite(pixel.y) || std::fabs(pixel.x) > 1e9 || std::fabs(pixel.y) > 1e9) return std::nullopt;
    // The point in the space an object speaks.
    const auto pointIn = [&pixel](const Mapping& mapping) {
        const Point p = mapping.fromRoot(pixel);
        return std::pair {static_cast<int>(std::floor(p.x)), static_cast<int>(std::floor(p.y))};
    };

    Call call(*this, pid, &deadline);
    Owned<AtspiAccessible> current;
    std::shared_ptr<const Mapping> mapping = identityMapping();
    for (int attempt = 0; attempt < 2 && !current; ++attempt) {
        Application* app = application(pid, deadline, attempt > 0);
        if (!app) app = applicationShowing(pid, pixel, deadline);
        if (!app) return std::nullopt;
        const auto& topLevels = children(call, app->root.get(), maximumTopLevels);
        if (unresponsive(pid)) return std::nullopt;
        if (topLevels.empty() && attempt == 0) {
            // A stale entry (the process exited and its id was reused, or the application
            // re-registered): read the map again once.
            applications_.erase(pid);
            continue;
        }
        struct Shown {
            AtspiAccessible* window;
            bool active;
            AtspiRect extents;
        };
        std::vector<Shown> shown;
        for (const auto& window : topLevels) {
            bool isShowing = false;
            bool isActive = false;
            call([&](auto&) {
                Owned<AtspiStateSet> states(atspi_accessible_get_state_set(window.get()));
                if (!states) return false;
                isShowing = atspi_state_set_contains(states.get(), ATSPI_STATE_SHOWING);
                isActive = atspi_state_set_contains(states.get(), ATSPI_STATE_ACTIVE);
                return true;
            });
            if (!isShowing) continue;
            if (const auto r = extents(call, window.get()); r && plausible(*r)) shown.push_back({window.get(), isActive, *r});
        }
        if (unresponsive(pid)) return std::nullopt;
        std::vector<Rect> reported;
        for (const Shown& window : shown) reported.push_back(rectOf(window.extents));
        const auto nameOf = [&](std::size_t i) { return text(call, shown.at(i).window); };
        mapping = mappingFor(pid, pixel, reported, nameOf);
        // AT-SPI knows nothing of stacking: of the SHOWING top-levels under the point, the
        // active one, else the smallest (a dialog over its main window). Compared on the screen:
        // Qt reports a window that spans two monitors in the space of the one its corner is on.
        // A Wayland window's top-level is the one with its title, when one has it.
        const bool byTitle = mapping->title && shown.size() > 1
            && std::any_of(shown.begin(), shown.end(), [&](const Shown& w) { return text(call, w.window) == mapping->title; });
        double bestArea = 0;
        bool bestActive = false;
        for (const Shown& window : shown) {
            if (!mapping->toRoot(rectOf(window.extents)).contains(pixel)) continue;
            if (byTitle && text(call, window.window) != mapping->title) continue;
            const double area = double(window.extents.width) * window.extents.height;
            if (!current || (window.active && !bestActive) || (window.active == bestActive && area < bestArea)) {
                current.reset(static_cast<AtspiAccessible*>(g_object_ref(window.window)));
                bestArea = area;
                bestActive = window.active;
            }
        }
    }
    if (!current) return std::nullopt;

    // Down the tree one step at a time. The toolkit's own answer is checked (SHOWING, contains the
    // point, not seen before); when it fails, the children and grandchildren are searched instead,
    // last first, as later siblings are painted over earlier ones. Each object is asked in the
    // space it speaks.
    std::set<AtspiAccessible*> seen {current.get()};
    std::shared_ptr<const Mapping> currentSpeaks = mapping;
    std::shared_ptr<const Mapping> currentInherited = mapping;
    std::shared_ptr<const Mapping> candidateSpeaks;
    auto acceptable = [&](AtspiAccessible* candidate) {
        if (!candidate || seen.count(candidate)) return false;
        if (showing(call, candidate) != true) return false;
        bool pixelDocument = false;
        candidateSpeaks = speaks(call, candidate, mapping, currentSpeaks, pixelDocument);
        const auto r = extents(call, candidate);
        const auto [x, y] = pointIn(*candidateSpeaks);
        return r && contains(*r, x, y);
    };
    for (int depth = 0; depth < maximumDepth && SteadyClock::now() < deadline; ++depth) {
        Owned<AtspiAccessible> next;
        const auto [x, y] = pointIn(*currentSpeaks);
        call([&](auto& c) {
            c.interfacesOf(current.get());
            Owned<AtspiComponent> component(atspi_accessible_get_component_iface(current.get()));
            if (!component) return (current->cached_properties & ATSPI_CACHE_INTERFACES) != 0;
            GErrorSlot error;
            next.reset(atspi_component_get_accessible_at_point(component.get(), x, y, ATSPI_COORD_TYPE_SCREEN, &error));
            return !error;
        });
        if (!acceptable(next.get())) next.reset();
        if (!next) {
            const auto& listed = children(call, current.get(), maximumScannedChildren);
            for (auto c = listed.rbegin(); c != listed.rend() && !next; ++c)
                if (acceptable(c->get())) next.reset(static_cast<AtspiAccessible*>(g_object_ref(c->get())));
            // A notebook's page tab has the tab's extents while its child is the whole page.
            for (auto c = listed.rbegin(); c != listed.rend() && !next && !call.refused(); ++c) {
                const auto& grandchildren = children(call, c->get(), maximumScannedGrandchildren);
                for (auto g = grandchildren.rbegin(); g != grandchildren.rend() && !next; ++g)
                    if (acceptable(g->get())) next.reset(static_cast<AtspiAccessible*>(g_object_ref(g->get())));
            }
        }
        if (!next) break;
        seen.insert(next.get());
        current = std::move(next);
        currentInherited = currentSpeaks;
        currentSpeaks = candidateSpeaks;
    }
    if (unresponsive(pid)) return std::nullopt;
    return makeElement(current.get(), pid, Placement {mapping, currentInherited});
}

std::optional<Rect> AtspiAccessibilityTree::frame(const AccessibilityElement& element)
{
    Node* node = element.handle<Node>();
    if (!node) return std::nullopt;
    forgetStaleFacts(false);
    Call call(*this, node->pid);
    const auto r = extents(call, node->accessible);
    if (!r || !plausible(*r)) return std::nullopt;
    if (!node->mapping) node->mapping = speaks(call, node->accessible, node->placement.base, node->placement.inherited, node->pixelDocument);
    return coordinates_.quartzRectOf(node->mapping->toRoot(rectOf(*r)));
}

std::optional<AccessibilityValue> AtspiAccessibilityTree::attribute(const AccessibilityElement& element, std::string_view name)
{
    Node* node = element.handle<Node>();
    if (!node) return std::nullopt;
    AtspiAccessible* accessible = node->accessible;
    forgetStaleFacts(false);
    Call call(*this, node->pid);
    // What the object speaks, for the objects reached from it.
    const auto spoken = [&] {
        if (!node->mapping) node->mapping = speaks(call, accessible, node->placement.base, node->placement.inherited, node->pixelDocument);
        return node->mapping;
    };

    if (name == Attr::role) {
        const auto value = role(call, accessible);
        if (!value) return std::nullopt;
        return std::string(AtspiRoles::axRole(*value));
    }
    if (name == Attr::roleDescription) {
        // Our own Spanish name, whatever the session's language and the toolkit's wording (Qt
        // calls a picture "graphic", GTK an "icon"): the interface is Spanish, and what a capture
        // is taken for follows this text.
        const auto value = role(call, accessible);
        if (!value) return std::nullopt;
        return std::string(AtspiRoles::spanishName(*value));
    }
    if (name == Attr::title || name == Attr::description) {
        auto value = text(call, accessible, name == Attr::description);
        if (!value) return std::nullopt;
        return std::move(*value);
    }
    if (name == Attr::help) {
        // AT-SPI 2 has no help text of its own: GTK, Qt and Chromium put tooltips into the
        // description, which "AXDescription" carries.
        return std::nullopt;
    }
    if (name == Attr::value) {
        auto& known = facts_->of(accessible);
        if (known.value) return *known.value;
        std::optional<AccessibilityValue> result;
        const bool textAnswered = call([&](auto& c) {
            c.interfacesOf(accessible);
            Owned<AtspiText> text(atspi_accessible_get_text_iface(accessible));
            if (!text) return (accessible->cached_properties & ATSPI_CACHE_INTERFACES) != 0;
            GErrorSlot error;
            const gint count = atspi_text_get_character_count(text.get(), &error);
            if (error) return false;
            if (count > 0) {
                c.another();
                GErrorSlot textError;
                gchar* value = atspi_text_get_text(text.get(), 0, std::min<gint>(count, maximumTextCharacters), &textError);
                if (textError) {
                    g_free(value);
                    return false;
                }
                std::string content = withoutObjectReplacements(takeString(value));
                if (!content.empty()) result = std::move(content);
            }
            return true;
        });
        if (result) {
            known.value = result;
            return result;
        }
        if (!textAnswered) return std::nullopt;
        const bool valueAnswered = call([&](auto& c) {
            c.interfacesOf(accessible);
            Owned<AtspiValue> value(atspi_accessible_get_value_iface(accessible));
            if (!value) return (accessible->cached_properties & ATSPI_CACHE_INTERFACES) != 0;
            GErrorSlot error;
            const gdouble number = atspi_value_get_current_value(value.get(), &error);
            if (error) return false;
            if (std::isfinite(number)) result = static_cast<double>(number);
            return true;
        });
        if (valueAnswered) known.value = result;
        return result;
    }
    if (name == Attr::position || name == Attr::size) {
        const auto r = frame(element);
        if (!r) return std::nullopt;
        if (name == Attr::position) return r->origin;
        return r->size;
    }
    if (name == Attr::parent) {
        Owned<AtspiAccessible> parent;
        call([&](auto&) {
            GErrorSlot error;
            parent.reset(atspi_accessible_get_parent(accessible, &error));
            return !error;
        });
        // Cycle guards: an element that names itself as parent, and the desktop above each
        // application (not part of any application's tree).
        if (!parent || parent.get() == accessible) return std::nullopt;
        const auto ownRole = role(call, accessible);
        if (!ownRole || *ownRole == ATSPI_ROLE_APPLICATION) return std::nullopt;
        const auto parentRole = role(call, parent.get());
        if (!parentRole || *parentRole == ATSPI_ROLE_DESKTOP_FRAME) return std::nullopt;
        // Above a page in root pixels its browser speaks as the application does.
        const auto mine = spoken();
        return makeElement(parent.get(), node->pid, Placement {node->placement.base, node->pixelDocument ? node->placement.base : mine});
    }
    if (name == Attr::children || name == Attr::visibleChildren) {
        const bool onlyShowing = name == Attr::visibleChildren;
        const Placement below {node->placement.base, spoken()};
        std::vector<AccessibilityElement> list;
        for (const auto& c : children(call, accessible, maximumChildren)) {
            if (onlyShowing && showing(call, c.get()) != true) continue;
            list.push_back(makeElement(c.get(), node->pid, below));
        }
        if (unresponsive(node->pid)) return std::nullopt;
        return list;
    }
    return std::nullopt;
}

std::optional<std::string> AtspiAccessibilityTree::applicationName(const AccessibilityElement& element)
{
    const Node* node = element.handle<Node>();
    if (!node) return std::nullopt;
    const std::uint64_t started = DesktopEntryNames::processStart(node->pid);
    if (const auto known = names_.find(node->pid); known != names_.end() && known->second.first == started)
        return known->second.second;

    // What the application calls itself, else its process name as the system lists it.
    std::optional<std::string> reported;
    if (const auto it = applications_.find(node->pid); it != applications_.end()) {
        Application& app = *it->second;
        if (!app.name) {
            Call call(*this, node->pid);
            call([&](auto&) {
                GErrorSlot error;
                gchar* value = atspi_accessible_get_name(app.root.get(), &error);
                if (error) {
                    g_free(value);
                    return false;
                }
                app.name = takeString(value);
                return true;
            });
        }
        if (app.name && !app.name->empty()) reported = app.name;
    }
    if (!reported) {
        std::ifstream comm("/proc/" + std::to_string(node->pid) + "/comm");
        std::string processName;
        if (comm && std::getline(comm, processName) && !processName.empty()) reported = processName;
    }

    // The name its desktop entry gives, where one describes this program (a script's file name
    // or an executable's is no name for a person).
    auto name = DesktopEntryNames::nameOf(node->pid, reported.value_or(""));
    if (!name) name = reported;
    if (!name) return std::nullopt;
    if (names_.size() > 256) names_.clear();
    names_[node->pid] = {started, *name};
    return name;
}

} // namespace zorvane
