#pragma once

// The window system as the selection meets it: screens the test describes, the windows on them,
// their pictures, the overlay's panels and the pointer and keys, each recording what it was asked.

#include "app/platform/Clock.h"
#include "app/platform/EventMonitors.h"
#include "app/platform/OverlayPanels.h"
#include "app/platform/Screens.h"
#include "app/platform/WindowImages.h"
#include "app/platform/WindowList.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zorvane::fakes {

// Screens the test describes, in the order added; the first is the primary screen.
class FakeScreens : public Screens {
public:
    std::vector<ScreenDescription> screens() override { return described; }

    // The next display number (or none), the AppKit frame flipped against the primary's height, all of it visible.
    ScreenDescription& addScreen(const Rect& quartz, bool withDisplayID = true)
    {
        const double primaryHeight = described.empty() ? quartz.height() : described.front().quartzBounds.height();
        const Rect appKit(quartz.minX(), primaryHeight - quartz.maxY(), quartz.width(), quartz.height());
        const auto displayID = withDisplayID ? std::optional(static_cast<std::uint32_t>(described.size() + 1)) : std::nullopt;
        return described.emplace_back(ScreenDescription {displayID, appKit, appKit, quartz});
    }

    std::vector<ScreenDescription> described;
};

// A window list the test lays out, front to back; none: the window server gives no list.
class FakeWindowList : public WindowList {
public:
    std::optional<std::vector<WindowInfo>> onScreenWindows() override { return windows; }
    // An ordinary window (layer 0) behind those added before.
    void addWindow(ProcessID pid, const Rect& bounds) { windows->push_back(WindowInfo {pid, 0, bounds}); }

    std::optional<std::vector<WindowInfo>> windows = std::vector<WindowInfo> {};
};

// Hands out the image the test prepared and remembers what was asked, from any thread. Captures
// can be held back, to look at the world while one is under way.
class FakeWindowImages : public WindowImages {
public:
    struct Request {
        Rect quartzRect;
        std::optional<WindowNumber> belowWindow;
    };

    std::optional<WindowImage> compositeImage(const Rect& quartzRect, std::optional<WindowNumber> belowWindow) override
    {
        std::unique_lock lock(mutex_);
        requests_.push_back(Request {quartzRect, belowWindow});
        std::optional<WindowImage> image = image_; // the image of the moment asked, handed out when released
        released_.wait(lock, [&] { return !held_; });
        return image;
    }
    // The next images handed out; none: the window server gives no image.
    void setImage(std::optional<WindowImage> image)
    {
        std::lock_guard lock(mutex_);
        image_ = std::move(image);
    }
    void hold(bool held)
    {
        std::lock_guard lock(mutex_);
        held_ = held;
        released_.notify_all();
    }
    std::vector<Request> requests() const
    {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    // The rectangle at `scale` pixels per point, each pixel `pixel(x, y)` as 0xAARRGGBB, every row
    // followed by `padding` unused bytes.
    static WindowImage makeImage(const Rect& rect, double scale, const std::function<std::uint32_t(std::uint32_t, std::uint32_t)>& pixel,
        std::size_t padding = 0)
    {
        const auto width = static_cast<std::uint32_t>(std::lround(rect.width() * scale));
        const auto height = static_cast<std::uint32_t>(std::lround(rect.height() * scale));
        WindowImage image {width, height, width * 4 + padding, scale, std::vector<std::uint8_t>((width * 4 + padding) * height, 0xEE)};
        for (std::uint32_t y = 0; y < height; ++y)
            for (std::uint32_t x = 0; x < width; ++x)
                for (std::uint32_t byte = 0; byte < 4; ++byte) // blue, green, red, unused
                    image.pixels[y * image.stride + x * 4 + byte] = static_cast<std::uint8_t>(pixel(x, y) >> (8 * byte));
        return image;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable released_;
    std::optional<WindowImage> image_;
    std::vector<Request> requests_;
    bool held_ = false;
};

// Overlay panels that exist only as records of what each would show and whether it is on the
// screen. Records outlive their panels, so a panel may be released from inside its own handler.
class FakeOverlayPanels : public OverlayPanels {
public:
    struct Record {
        ScreenDescription screen;
        OverlayPanelHandlers handlers;
        std::optional<Rect> highlightRect;
        std::string label = "Área visual";
        bool onScreen = true; // shown, not yet ordered out or released
        bool mapped = true;   // what the window system reports
        bool unmapsLate = false;
    };

    std::unique_ptr<OverlayPanel> showPanel(const ScreenDescription& screen, OverlayPanelHandlers handlers) override
    {
        records_.push_back(std::make_shared<Record>(Record {screen, std::move(handlers), std::nullopt, "Área visual", true, true, unmapLate}));
        return std::make_unique<Panel>(records_.back());
    }
    bool anyPanelOnScreen() override
    {
        return std::any_of(records_.begin(), records_.end(), [](const auto& record) { return record->mapped; });
    }
    bool screenLocked() override { return locked; }
    void overlayClosed(bool captureFollows) override { closings.push_back(captureFollows); }

    bool locked = false;
    std::vector<bool> closings; // captureFollows of each overlayClosed

    // Panels shown from now on stay mapped once ordered out until finishUnmapping(), as with a
    // window system that unmaps asynchronously.
    bool unmapLate = false;
    void finishUnmapping()
    {
        for (const auto& record : records_) record->mapped = record->onScreen;
    }

    // Every panel ever shown, and those still on the screen, in the order shown.
    const std::vector<std::shared_ptr<Record>>& shown() const { return records_; }
    std::vector<std::shared_ptr<Record>> onScreen() const
    {
        std::vector<std::shared_ptr<Record>> visible;
        for (const auto& record : records_)
            if (record->onScreen) visible.push_back(record);
        return visible;
    }
    // The user's hand: what a panel on the screen reports (every panel reports the same way). A
    // copy, so a handler may release its panel while it runs.
    OverlayPanelHandlers user() const { return onScreen().at(0)->handlers; }
    void click(Point at)
    {
        user().onMouseDown(at);
        user().onMouseUp(at);
    }
    void press(int keyCode, bool shift = false) { user().onKeyDown(KeyEvent {keyCode, shift}); }

private:
    class Panel : public OverlayPanel {
    public:
        explicit Panel(std::shared_ptr<Record> record) : record_(std::move(record)) {}
        ~Panel() override { orderOut(); }
        void setHighlight(const std::optional<Rect>& highlightRect, const std::string& label) override
        {
            record_->highlightRect = highlightRect;
            record_->label = label;
        }
        void orderOut() override
        {
            record_->onScreen = false;
            record_->mapped = record_->mapped && record_->unmapsLate;
        }

    private:
        std::shared_ptr<Record> record_;
    };

    std::vector<std::shared_ptr<Record>> records_;
};

// Event monitors the test drives: it places the pointer and delivers movements and key presses to
// the monitors installed at that moment. As an adapter must, a handler may remove monitors (itself
// too), and a removed one never runs again.
class FakeEventMonitors : public EventMonitors {
public:
    // Movements without an explicit time are stamped with this clock's uptime (0 without one).
    explicit FakeEventMonitors(std::shared_ptr<Clock> clock = nullptr) : clock_(std::move(clock)) {}

    MonitorToken addGlobalPointerMovedMonitor(std::function<void(const PointerMovement&)> handler) override
    {
        return add(Kind::globalPointer, [handler](const Event& event) { return handler(*event.movement), false; });
    }
    MonitorToken addLocalPointerMovedMonitor(std::function<void(const PointerMovement&)> handler) override
    {
        return add(Kind::localPointer, [handler](const Event& event) { return handler(*event.movement), false; });
    }
    MonitorToken addGlobalKeyDownMonitor(std::function<void(const KeyEvent&)> handler) override
    {
        return add(Kind::globalKey, [handler](const Event& event) { return handler(*event.key), false; });
    }
    MonitorToken addLocalKeyDownMonitor(std::function<bool(const KeyEvent&)> handler) override
    {
        return add(Kind::localKey, [handler](const Event& event) { return handler(*event.key); });
    }
    void removeMonitor(MonitorToken token) override { strayRemovals_ += monitors_.erase(token) == 0; } // never issued, or gone
    Point currentPointerLocation() override { return pointer_; }

    void setPointerLocation(Point location) { pointer_ = location; }
    // Places the pointer and tells the pointer monitors it moved there at `uptime` (default: now).
    void movePointerGlobally(Point to, std::optional<double> uptime = std::nullopt) { movePointer(Kind::globalPointer, to, uptime); }
    void movePointerLocally(Point to, std::optional<double> uptime = std::nullopt) { movePointer(Kind::localPointer, to, uptime); }
    void deliverGlobalKeyDown(KeyEvent key) { deliver(Kind::globalKey, {nullptr, &key}); }
    // Local key monitors run in the order added until one swallows the key; returns whether one did.
    bool deliverLocalKeyDown(KeyEvent key) { return deliver(Kind::localKey, {nullptr, &key}); }

    std::size_t installedMonitorCount() const { return monitors_.size(); }
    std::size_t strayRemovalCount() const { return strayRemovals_; }

private:
    enum class Kind { globalPointer, localPointer, globalKey, localKey };
    struct Event {
        const PointerMovement* movement;
        const KeyEvent* key;
    };
    using Call = std::function<bool(const Event&)>; // true: the event is swallowed

    MonitorToken add(Kind kind, Call call)
    {
        monitors_.emplace(nextToken_, std::pair(kind, std::move(call)));
        return nextToken_++;
    }
    void movePointer(Kind kind, Point to, std::optional<double> uptime)
    {
        pointer_ = to;
        const PointerMovement movement {to, uptime ? *uptime : clock_ ? clock_->uptime() : 0.0};
        deliver(kind, {&movement, nullptr});
    }
    bool deliver(Kind kind, const Event& event)
    {
        std::vector<MonitorToken> tokens;
        for (const auto& [token, monitor] : monitors_)
            if (monitor.first == kind) tokens.push_back(token);
        for (const MonitorToken token : tokens) {
            const auto found = monitors_.find(token); // an earlier handler may have removed it
            if (found == monitors_.end()) continue;
            const Call call = found->second.second; // a copy: the handler may remove itself
            if (call(event)) return true;
        }
        return false;
    }

    std::shared_ptr<Clock> clock_;
    std::map<MonitorToken, std::pair<Kind, Call>> monitors_; // in the order installed
    MonitorToken nextToken_ = 1;
    Point pointer_;
    std::size_t strayRemovals_ = 0;
};

} // namespace zorvane::fakes
