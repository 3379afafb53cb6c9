#include "app/platform/linux/x11/X11Screens.h"

#include "app/platform/linux/x11/X11Support.h"

#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <mutex>
#include <sstream>

namespace zorvane {

namespace {

std::optional<double> positiveNumber(const std::string& text)
{
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !(value > 0) || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<int> positiveInteger(const std::string& text)
{
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    // Xft.dpi may be written with a fraction; Qt keeps the integer part.
    if (end == text.c_str() || (*end != '\0' && *end != '.') || value <= 0 || value > 10000) return std::nullopt;
    return static_cast<int>(value);
}

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

double roundFactor(double factor, const std::string& policy)
{
    if (policy == "Round") return std::round(factor);
    if (policy == "Ceil") return std::ceil(factor);
    if (policy == "Floor") return std::floor(factor);
    if (policy == "RoundPreferFloor") return factor - std::floor(factor) >= 0.75 ? std::ceil(factor) : std::floor(factor);
    return factor;
}

double distanceSquared(Point p, double x, double y, double width, double height)
{
    const double dx = p.x < x ? x - p.x : (p.x >= x + width ? p.x - (x + width) : 0);
    const double dy = p.y < y ? y - p.y : (p.y >= y + height ? p.y - (y + height) : 0);
    return dx * dx + dy * dy;
}

// Facts about a server that never change while it runs, kept so that the frequent monitor reads
// (every conversion) cost as few round trips as possible.
struct ServerFacts {
    std::mutex mutex;
    std::map<std::pair<std::string, Atom>, std::string> atomNames;
    std::map<std::string, bool> hasRandR;
};

ServerFacts& serverFacts()
{
    static ServerFacts* facts = new ServerFacts;
    return *facts;
}

std::string atomName(Display* display, Atom atom)
{
    if (!atom) return {};
    ServerFacts& facts = serverFacts();
    const auto key = std::make_pair(std::string(DisplayString(display)), atom);
    {
        std::lock_guard lock(facts.mutex);
        if (auto it = facts.atomNames.find(key); it != facts.atomNames.end()) return it->second;
    }
    x11::XPtr<char> name(XGetAtomName(display, atom));
    if (!name) return {};
    std::lock_guard lock(facts.mutex);
    return facts.atomNames[key] = name.get();
}

bool hasRandR(Display* display)
{
    ServerFacts& facts = serverFacts();
    const std::string server = DisplayString(display);
    {
        std::lock_guard lock(facts.mutex);
        if (auto it = facts.hasRandR.find(server); it != facts.hasRandR.end()) return it->second;
    }
    // Asked with the core request: libXrandr leaks its bookkeeping on servers without it.
    int opcode = 0, eventBase = 0, errorBase = 0;
    const bool present = XQueryExtension(display, "RANDR", &opcode, &eventBase, &errorBase);
    std::lock_guard lock(facts.mutex);
    return facts.hasRandR[server] = present;
}

std::vector<X11Monitor> randrMonitors(Display* display, Window root)
{
    std::vector<X11Monitor> result;
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!hasRandR(display)) return result;
    if (!XRRQueryExtension(display, &eventBase, &errorBase) || !XRRQueryVersion(display, &major, &minor)) return result;

    if (major > 1 || (major == 1 && minor >= 5)) {
        int count = 0;
        XRRMonitorInfo* monitors = XRRGetMonitors(display, root, True, &count);
        for (int i = 0; i < count; ++i) {
            const XRRMonitorInfo& m = monitors[i];
            if (m.width <= 0 || m.height <= 0) continue;
            X11Monitor monitor;
            monitor.name = atomName(display, m.name);
            monitor.id = static_cast<std::uint32_t>(m.name);
            monitor.primary = m.primary;
            monitor.pixels = {m.x, m.y, m.width, m.height};
            monitor.widthMillimeters = m.mwidth;
            monitor.heightMillimeters = m.mheight;
            result.push_back(monitor);
        }
        if (monitors) XRRFreeMonitors(monitors);
        if (!result.empty()) return result;
    }

    if (major > 1 || (major == 1 && minor >= 2)) {
        XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root);
        if (!resources) return result;
        const RROutput primaryOutput = XRRGetOutputPrimary(display, root);
        for (int i = 0; i < resources->ncrtc; ++i) {
            XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, resources, resources->crtcs[i]);
            if (!crtc) continue;
            if (crtc->mode != None && crtc->width > 0 && crtc->height > 0 && crtc->noutput > 0) {
                X11Monitor monitor;
                monitor.id = static_cast<std::uint32_t>(resources->crtcs[i]);
                monitor.pixels = {crtc->x, crtc->y, static_cast<int>(crtc->width), static_cast<int>(crtc->height)};
                for (int o = 0; o < crtc->noutput; ++o)
                    if (crtc->outputs[o] == primaryOutput) monitor.primary = true;
                if (XRROutputInfo* output = XRRGetOutputInfo(display, resources, crtc->outputs[0])) {
                    monitor.name.assign(output->name, output->nameLen);
                    monitor.widthMillimeters = static_cast<int>(output->mm_width);
                    monitor.heightMillimeters = static_cast<int>(output->mm_height);
                    XRRFreeOutputInfo(output);
                }
                // Mirrored outputs share a CRTC area: one monitor.
                const bool duplicate = std::any_of(result.begin(), result.end(),
                    [&](const X11Monitor& other) { return other.pixels == monitor.pixels; });
                if (!duplicate) result.push_back(monitor);
            }
            XRRFreeCrtcInfo(crtc);
        }
        XRRFreeScreenResources(resources);
    }
    return result;
}

enum class Side { left, right, top, bottom };
struct Strut {
    Side side;
    PixelRect area;
};

// The areas docks and panels reserve along the root window's edges.
std::vector<Strut> struts(Display* display, Window root, int rootWidth, int rootHeight)
{
    std::vector<Window> candidates;
    if (x11::windowManagerCheckWindow(display)) {
        if (auto clients = x11::readWindows(display, root, "_NET_CLIENT_LIST")) candidates = std::move(*clients);
    } else {
        candidates = x11::rootChildren(display);
    }
    std::vector<Strut> result;
    for (Window window : candidates) {
        auto values = x11::readCardinals(display, window, "_NET_WM_STRUT_PARTIAL");
        if (!values || values->size() < 12) {
            values = x11::readCardinals(display, window, "_NET_WM_STRUT");
            if (!values || values->size() < 4) continue;
            // The whole edge.
            values->resize(12);
            (*values)[4] = (*values)[6] = 0;
            (*values)[5] = (*values)[7] = static_cast<unsigned long>(rootHeight - 1);
            (*values)[8] = (*values)[10] = 0;
            (*values)[9] = (*values)[11] = static_cast<unsigned long>(rootWidth - 1);
        }
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable) continue;
        const auto& v = *values;
        auto span = [](unsigned long start, unsigned long end) {
            return end >= start ? static_cast<int>(end - start + 1) : 0;
        };
        const int left = static_cast<int>(v[0]), right = static_cast<int>(v[1]);
        const int top = static_cast<int>(v[2]), bottom = static_cast<int>(v[3]);
        if (left > 0) result.push_back({Side::left, {0, static_cast<int>(v[4]), left, span(v[4], v[5])}});
        if (right > 0)
            result.push_back({Side::right, {rootWidth - right, static_cast<int>(v[6]), right, span(v[6], v[7])}});
        if (top > 0) result.push_back({Side::top, {static_cast<int>(v[8]), 0, span(v[8], v[9]), top}});
        if (bottom > 0)
            result.push_back({Side::bottom, {static_cast<int>(v[10]), rootHeight - bottom, span(v[10], v[11]), bottom}});
    }
    return result;
}

bool overlaps(const PixelRect& a, const PixelRect& b)
{
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

// A strut counts on the monitor where its inner edge lies, so that a panel along the inner edge of
// a monitor that does not touch the root's edge reserves space there and not on its neighbour.
PixelRect visibleArea(const PixelRect& monitor, const std::vector<Strut>& struts)
{
    int x0 = monitor.x, y0 = monitor.y, x1 = monitor.x + monitor.width, y1 = monitor.y + monitor.height;
    for (const Strut& strut : struts) {
        if (!overlaps(strut.area, monitor)) continue;
        const PixelRect& a = strut.area;
        switch (strut.side) {
        case Side::left:
            if (a.x + a.width > monitor.x && a.x + a.width <= monitor.x + monitor.width) x0 = std::max(x0, a.x + a.width);
            break;
        case Side::right:
            if (a.x >= monitor.x && a.x < monitor.x + monitor.width) x1 = std::min(x1, a.x);
            break;
        case Side::top:
            if (a.y + a.height > monitor.y && a.y + a.height <= monitor.y + monitor.height)
                y0 = std::max(y0, a.y + a.height);
            break;
        case Side::bottom:
            if (a.y >= monitor.y && a.y < monitor.y + monitor.height) y1 = std::min(y1, a.y);
            break;
        }
    }
    if (x1 <= x0 || y1 <= y0) return monitor;
    return {x0, y0, x1 - x0, y1 - y0};
}

} // namespace

QtScaleSettings QtScaleSettings::read(Display* display)
{
    QtScaleSettings settings;
    settings.globalFactor = positiveNumber(environment("QT_SCALE_FACTOR"));
    std::istringstream entries(environment("QT_SCREEN_SCALE_FACTORS"));
    std::string entry;
    for (std::size_t position = 0; std::getline(entries, entry, ';'); ++position) {
        const auto equals = entry.find('=');
        if (equals == std::string::npos) {
            if (auto factor = positiveNumber(entry)) settings.positionalScreenFactors[position] = *factor;
        } else if (auto factor = positiveNumber(entry.substr(equals + 1))) {
            settings.namedScreenFactors[entry.substr(0, equals)] = *factor;
        }
    }
    settings.highDpiScaling = environment("QT_ENABLE_HIGHDPI_SCALING") != "0";
    settings.usePhysicalDpi = positiveInteger(environment("QT_USE_PHYSICAL_DPI")).has_value();
    settings.fontDpi = positiveInteger(environment("QT_FONT_DPI"));
    if (display) {
        if (auto dpi = x11::resource(display, "Xft.dpi")) settings.xftDpi = positiveInteger(*dpi);
    }
    if (auto policy = environment("QT_SCALE_FACTOR_ROUNDING_POLICY"); !policy.empty()) settings.roundingPolicy = policy;
    return settings;
}

std::vector<double> QtScaleSettings::scalesFor(const std::vector<X11Monitor>& monitors) const
{
    std::vector<std::optional<double>> assigned(monitors.size());
    bool anyNotOne = false;
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        if (auto named = namedScreenFactors.find(monitors[i].name); named != namedScreenFactors.end())
            assigned[i] = named->second;
        else if (auto byPosition = positionalScreenFactors.find(i); byPosition != positionalScreenFactors.end())
            assigned[i] = byPosition->second;
        if (assigned[i] && std::fabs(*assigned[i] - 1) > 1e-9) anyNotOne = true;
    }
    std::vector<double> result;
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        const X11Monitor& monitor = monitors[i];
        double screenFactor = 1;
        if (anyNotOne && assigned[i]) {
            screenFactor = *assigned[i];
        } else if (highDpiScaling) {
        double dpi = 96;
        if (usePhysicalDpi && monitor.widthMillimeters > 0 && monitor.heightMillimeters > 0) {
            const double horizontal = 25.4 * monitor.pixels.width / monitor.widthMillimeters;
            const double vertical = 25.4 * monitor.pixels.height / monitor.heightMillimeters;
            dpi = std::round((horizontal + vertical) / 2);
        } else if (fontDpi) {
            dpi = *fontDpi;
        } else if (xftDpi) {
            dpi = *xftDpi;
        }
            screenFactor = std::max(1.0, roundFactor(dpi / 96.0, roundingPolicy));
        }
        result.push_back(screenFactor * globalFactor.value_or(1.0));
    }
    return result;
}

X11MonitorLayout::X11MonitorLayout(std::vector<X11Monitor> monitors) : monitors_(std::move(monitors)) {}

X11MonitorLayout X11MonitorLayout::read(Display* display, bool withVisibleFrames)
{
    const Window root = DefaultRootWindow(display);
    const int screen = DefaultScreen(display);
    const int rootWidth = DisplayWidth(display, screen), rootHeight = DisplayHeight(display, screen);
    std::vector<X11Monitor> monitors = randrMonitors(display, root);
    if (monitors.empty()) {
        X11Monitor whole;
        whole.name = "screen" + std::to_string(screen);
        whole.id = static_cast<std::uint32_t>(screen + 1);
        whole.primary = true;
        whole.pixels = {0, 0, rootWidth, rootHeight};
        whole.widthMillimeters = DisplayWidthMM(display, screen);
        whole.heightMillimeters = DisplayHeightMM(display, screen);
        monitors.push_back(whole);
    }
    std::stable_partition(monitors.begin(), monitors.end(), [](const X11Monitor& m) { return m.primary; });
    monitors.front().primary = true;
    for (std::size_t i = 1; i < monitors.size(); ++i) monitors[i].primary = false;

    const auto reserved = withVisibleFrames ? struts(display, root, rootWidth, rootHeight) : std::vector<Strut> {};
    const auto scales = QtScaleSettings::read(display).scalesFor(monitors);
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        monitors[i].visiblePixels = visibleArea(monitors[i].pixels, reserved);
        monitors[i].scale = scales[i];
    }
    return X11MonitorLayout(std::move(monitors));
}

Point X11MonitorLayout::primaryOrigin() const
{
    if (monitors_.empty()) return {};
    return {static_cast<double>(monitors_.front().pixels.x), static_cast<double>(monitors_.front().pixels.y)};
}

Rect X11MonitorLayout::quartzBounds(const X11Monitor& monitor) const
{
    const Point origin = primaryOrigin();
    return Rect(monitor.pixels.x - origin.x, monitor.pixels.y - origin.y, monitor.pixels.width / monitor.scale,
        monitor.pixels.height / monitor.scale);
}

const X11Monitor* X11MonitorLayout::monitorAtQuartzPoint(Point quartzPoint) const
{
    const X11Monitor* nearest = nullptr;
    double best = std::numeric_limits<double>::infinity();
    for (const auto& monitor : monitors_) {
        const Rect bounds = quartzBounds(monitor);
        const double d = distanceSquared(quartzPoint, bounds.origin.x, bounds.origin.y, bounds.size.width, bounds.size.height);
        if (d < best) {
            best = d;
            nearest = &monitor;
        }
    }
    return nearest;
}

const X11Monitor* X11MonitorLayout::monitorAtPixel(Point rootPixel) const
{
    const X11Monitor* nearest = nullptr;
    double best = std::numeric_limits<double>::infinity();
    for (const auto& monitor : monitors_) {
        const auto& p = monitor.pixels;
        const double d = distanceSquared(rootPixel, p.x, p.y, p.width, p.height);
        if (d < best) {
            best = d;
            nearest = &monitor;
        }
    }
    return nearest;
}

const X11Monitor* X11MonitorLayout::monitorForQuartzRect(const Rect& quartzRect) const
{
    const X11Monitor* chosen = nullptr;
    double bestArea = 0;
    for (const auto& monitor : monitors_) {
        const double area = quartzBounds(monitor).intersection(quartzRect.standardized()).area();
        if (area > bestArea) {
            bestArea = area;
            chosen = &monitor;
        }
    }
    if (chosen) return chosen;
    const Rect r = quartzRect.standardized();
    return monitorAtQuartzPoint({r.midX(), r.midY()});
}

Point X11MonitorLayout::quartzPoint(Point rootPixel) const
{
    const X11Monitor* monitor = monitorAtPixel(rootPixel);
    if (!monitor) return rootPixel;
    const Point origin = primaryOrigin();
    return {monitor->pixels.x - origin.x + (rootPixel.x - monitor->pixels.x) / monitor->scale,
        monitor->pixels.y - origin.y + (rootPixel.y - monitor->pixels.y) / monitor->scale};
}

namespace {

Point toPixels(const X11Monitor& monitor, Point primaryOrigin, Point quartzPoint)
{
    return {monitor.pixels.x + (quartzPoint.x + primaryOrigin.x - monitor.pixels.x) * monitor.scale,
        monitor.pixels.y + (quartzPoint.y + primaryOrigin.y - monitor.pixels.y) * monitor.scale};
}

} // namespace

Point X11MonitorLayout::rootPixelPoint(Point quartzPoint) const
{
    const X11Monitor* monitor = monitorAtQuartzPoint(quartzPoint);
    if (!monitor) return quartzPoint;
    return toPixels(*monitor, primaryOrigin(), quartzPoint);
}

Rect X11MonitorLayout::rootPixelRect(const Rect& quartzRect) const
{
    const Rect r = quartzRect.standardized();
    const X11Monitor* monitor = monitorForQuartzRect(r);
    if (!monitor || r.isNull()) return r;
    const Point origin = toPixels(*monitor, primaryOrigin(), r.origin);
    return Rect(origin.x, origin.y, r.size.width * monitor->scale, r.size.height * monitor->scale);
}

Rect X11MonitorLayout::quartzRect(const PixelRect& rootPixels) const
{
    const X11Monitor* chosen = nullptr;
    long long bestArea = 0;
    for (const auto& monitor : monitors_) {
        const auto& m = monitor.pixels;
        const long long w = std::min(m.x + m.width, rootPixels.x + rootPixels.width) - std::max(m.x, rootPixels.x);
        const long long h = std::min(m.y + m.height, rootPixels.y + rootPixels.height) - std::max(m.y, rootPixels.y);
        if (w > 0 && h > 0 && w * h > bestArea) {
            bestArea = w * h;
            chosen = &monitor;
        }
    }
    if (!chosen)
        chosen = monitorAtPixel({rootPixels.x + rootPixels.width / 2.0, rootPixels.y + rootPixels.height / 2.0});
    if (!chosen) return Rect(rootPixels.x, rootPixels.y, rootPixels.width, rootPixels.height);
    const Point origin = primaryOrigin();
    return Rect(chosen->pixels.x - origin.x + (rootPixels.x - chosen->pixels.x) / chosen->scale,
        chosen->pixels.y - origin.y + (rootPixels.y - chosen->pixels.y) / chosen->scale,
        rootPixels.width / chosen->scale, rootPixels.height / chosen->scale);
}

std::vector<ScreenDescription> X11MonitorLayout::screenDescriptions() const
{
    std::vector<ScreenDescription> result;
    if (monitors_.empty()) return result;
    const double primaryHeight = quartzBounds(monitors_.front()).size.height;
    auto flip = [primaryHeight](const Rect& quartz) {
        return Rect(quartz.origin.x, primaryHeight - (quartz.origin.y + quartz.size.height), quartz.size.width,
            quartz.size.height);
    };
    const Point origin = primaryOrigin();
    for (const auto& monitor : monitors_) {
        ScreenDescription screen;
        screen.displayID = monitor.id;
        screen.quartzBounds = quartzBounds(monitor);
        screen.appKitFrame = flip(screen.quartzBounds);
        const auto& v = monitor.visiblePixels;
        const Rect visibleQuartz(monitor.pixels.x - origin.x + (v.x - monitor.pixels.x) / monitor.scale,
            monitor.pixels.y - origin.y + (v.y - monitor.pixels.y) / monitor.scale, v.width / monitor.scale,
            v.height / monitor.scale);
        screen.visibleFrame = flip(visibleQuartz);
        result.push_back(screen);
    }
    return result;
}

std::unique_ptr<X11Screens> X11Screens::create(const char* displayName)
{
    auto display = x11::openDisplay(displayName);
    if (!display) return nullptr;
    return std::unique_ptr<X11Screens>(new X11Screens(std::move(display)));
}

X11MonitorLayout X11Screens::layout() { return read(false); }

X11MonitorLayout X11Screens::read(bool withVisibleFrames)
{
    std::lock_guard lock(mutex_);
    x11::ErrorTrap trap(display_.get());
    return X11MonitorLayout::read(display_.get(), withVisibleFrames);
}

std::vector<ScreenDescription> X11Screens::screens() { return read(true).screenDescriptions(); }

Point X11Screens::quartzPoint(Point rootPixel) { return layout().quartzPoint(rootPixel); }

Rect X11Screens::quartzRect(const PixelRect& rootPixels) { return layout().quartzRect(rootPixels); }

Point X11Screens::rootPixelPoint(Point quartzPoint) { return layout().rootPixelPoint(quartzPoint); }

Rect X11Screens::rootPixelRect(const Rect& quartzRect) { return layout().rootPixelRect(quartzRect); }

} // namespace zorvane
