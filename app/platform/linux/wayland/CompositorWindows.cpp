#include "app/platform/linux/wayland/CompositorWindows.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace zorvane {

namespace compositor_windows {

namespace {

using Clock = std::chrono::steady_clock;

Rect rectOf(const QJsonObject& r)
{
    return Rect(r.value("x").toDouble(), r.value("y").toDouble(), r.value("width").toDouble(), r.value("height").toDouble());
}

struct SwayWalk {
    std::vector<CompositorWindow> fullscreen, floating, tiled;

    void view(const QJsonObject& node, std::vector<CompositorWindow>& into)
    {
        const qint64 pid = node.value("pid").toInteger();
        const Rect container = rectOf(node.value("rect").toObject());
        const Rect inside = rectOf(node.value("window_rect").toObject());
        CompositorWindow w;
        w.pid = pid > 0 && pid <= std::numeric_limits<ProcessID>::max() ? ProcessID(pid) : 0;
        w.title = node.value("name").toString().toStdString();
        const QString app = node.value("app_id").toString();
        w.appID = (app.isEmpty() ? node.value("window_properties").toObject().value("class").toString() : app).toStdString();
        w.client = Rect(container.minX() + inside.minX(), container.minY() + inside.minY(), inside.width(), inside.height());
        w.active = node.value("focused").toBool();
        w.windowRelative = node.value("shell").toString() != QLatin1String("xwayland");
        into.push_back(std::move(w));
    }

    // A container shows all its children, except a tabbed or stacked one: only the child in front.
    void walk(const QJsonObject& node, std::vector<CompositorWindow>* layer, int depth)
    {
        if (depth > 64) return;
        if (node.value("fullscreen_mode").toInt() != 0 && node.value("type") == QLatin1String("con")) layer = &fullscreen;
        auto& into = *layer;
        const QJsonArray children = node.value("nodes").toArray();
        const QJsonArray floaters = node.value("floating_nodes").toArray();
        if (children.isEmpty() && floaters.isEmpty() && node.contains("pid")) return view(node, into);
        const QString layout = node.value("layout").toString();
        const bool oneShown = layout == QLatin1String("tabbed") || layout == QLatin1String("stacked");
        const qint64 front = node.value("focus").toArray().first().toInteger(-1);
        for (const auto child : children) {
            const QJsonObject c = child.toObject();
            if (!oneShown || c.value("id").toInteger() == front) walk(c, layer, depth + 1);
        }
        // Later floating windows are drawn over earlier ones.
        for (auto it = floaters.end(); it != floaters.begin();) walk((--it)->toObject(), layer == &fullscreen ? layer : &floating, depth + 1);
    }
};

} // namespace

std::optional<std::vector<CompositorWindow>> fromSwayTree(const QByteArray& json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isObject() || document.object().value("type") != QLatin1String("root")) return std::nullopt;
    std::vector<CompositorWindow> result;
    for (const auto output : document.object().value("nodes").toArray()) {
        const QJsonObject o = output.toObject();
        // The scratchpad's pseudo-output shows nothing.
        if (o.value("name").toString().startsWith(QLatin1String("__"))) continue;
        const QString shown = o.value("current_workspace").toString();
        for (const auto workspace : o.value("nodes").toArray()) {
            const QJsonObject ws = workspace.toObject();
            if (ws.value("name").toString() != shown) continue;
            SwayWalk walk;
            walk.walk(ws, &walk.tiled, 0);
            for (auto* layer : {&walk.fullscreen, &walk.floating, &walk.tiled})
                for (auto& w : *layer) result.push_back(std::move(w));
        }
    }
    return result;
}

const CompositorWindow* at(const std::vector<CompositorWindow>& frontToBack, Point layout, ProcessID excluded)
{
    for (const CompositorWindow& w : frontToBack) {
        if (!w.client.contains(layout)) continue;
        // Our own windows cover nothing: the overlay is over everything while it looks.
        if (w.pid == excluded) continue;
        return w.pid > 0 ? &w : nullptr;
    }
    return nullptr;
}

} // namespace compositor_windows

CompositorWindows::CompositorWindows(std::function<Point()> layoutOrigin, std::function<void()> wantFresh)
    : layoutOrigin_(std::move(layoutOrigin)), wantFresh_(std::move(wantFresh))
{
}

void CompositorWindows::publish(std::vector<CompositorWindow> frontToBack)
{
    std::lock_guard lock(mutex_);
    windows_ = std::move(frontToBack);
    publishedAt_ = std::chrono::steady_clock::now();
}

void CompositorWindows::forget()
{
    std::lock_guard lock(mutex_);
    windows_.reset();
}

bool CompositorWindows::known() const
{
    std::lock_guard lock(mutex_);
    return windows_.has_value();
}

std::optional<std::vector<CompositorWindow>> CompositorWindows::read()
{
    bool ask = false;
    std::optional<std::vector<CompositorWindow>> copy;
    {
        std::lock_guard lock(mutex_);
        const auto now = std::chrono::steady_clock::now();
        // Windows move without telling (a tiled neighbour closes): what is a moment old is checked.
        if (now - publishedAt_ > std::chrono::milliseconds(250) && now - askedAt_ > std::chrono::milliseconds(200)) {
            askedAt_ = now;
            ask = true;
        }
        copy = windows_;
    }
    if (ask && wantFresh_) wantFresh_();
    return copy;
}

std::optional<std::vector<WindowInfo>> CompositorWindows::onScreenWindows()
{
    const auto windows = read();
    if (!windows) return std::nullopt;
    const Point origin = layoutOrigin_();
    std::vector<WindowInfo> result;
    for (const CompositorWindow& w : *windows) {
        WindowInfo info;
        if (w.pid > 0) info.ownerPID = w.pid;
        info.layer = 0;
        info.bounds = Rect(w.client.minX() - origin.x, w.client.minY() - origin.y, w.client.width(), w.client.height());
        result.push_back(info);
    }
    return result;
}

std::optional<WindowInfo> CompositorWindows::topmostApplicationWindow(Point quartzPoint, ProcessID excludedPID)
{
    const auto windows = read();
    if (!windows) return std::nullopt;
    const Point origin = layoutOrigin_();
    const CompositorWindow* w = compositor_windows::at(*windows, {quartzPoint.x + origin.x, quartzPoint.y + origin.y}, excludedPID);
    if (!w) return std::nullopt;
    return WindowInfo {w->pid, 0, Rect(w->client.minX() - origin.x, w->client.minY() - origin.y, w->client.width(), w->client.height())};
}

std::optional<CompositorWindow> CompositorWindows::active()
{
    const auto windows = read();
    if (!windows) return std::nullopt;
    for (const CompositorWindow& w : *windows)
        if (w.active) return w;
    return std::nullopt;
}

RootCoordinates CompositorWindows::rootCoordinates(ProcessID ownPID)
{
    // The "root" is the compositor's layout: XWayland's root window is the same space.
    return RootCoordinates {
        [this](Point quartz) {
            const Point origin = layoutOrigin_();
            return Point {quartz.x + origin.x, quartz.y + origin.y};
        },
        [this](const Rect& layout) {
            const Point origin = layoutOrigin_();
            return Rect(layout.minX() - origin.x, layout.minY() - origin.y, layout.width(), layout.height());
        },
        [this, ownPID](ProcessID pid, Point layout) -> std::optional<AtspiScale::WindowPixels> {
            const auto windows = read();
            if (!windows) return std::nullopt;
            const CompositorWindow* w = compositor_windows::at(*windows, layout, ownPID);
            if (!w || w->pid != pid) return std::nullopt;
            return AtspiScale::WindowPixels {w->client, w->client, w->surface.value_or(w->client), w->windowRelative, w->title};
        },
        nullptr};
}

} // namespace zorvane
