#pragma once

#include "app/platform/Screens.h"
#include "app/platform/linux/x11/X11Handles.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zorvane {

// A rectangle in root-window pixels.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// One monitor as the X server reports it.
struct X11Monitor {
    std::string name;        // RandR monitor or output name, as Qt names the screen
    std::uint32_t id = 0;    // stable while the monitor exists
    bool primary = false;
    PixelRect pixels;        // root coordinates
    PixelRect visiblePixels; // without the struts of docks and panels on this monitor
    int widthMillimeters = 0;
    int heightMillimeters = 0;
    double scale = 1;        // device pixels per point, the same Qt uses for our windows there
};

// What scales Qt gives its screens, from the environment and the X resources it reads.
//
// The rule (Qt 6.4 xcb, checked against QScreen::devicePixelRatio() on this system):
//   factor(screen) = QT_SCALE_FACTOR (when a positive number, else 1) × screenFactor(screen)
//   screenFactor   = the screen's entry in QT_SCREEN_SCALE_FACTORS ("NAME=f" entries, or plain "f"
//                    entries by position, primary first) when it is a positive number and some entry
//                    for an existing screen is not 1 (Qt ignores the variable otherwise); else 1 when
//                    QT_ENABLE_HIGHDPI_SCALING=0; else max(1, round(dpi / 96)) where dpi is, in this
//                    order, the monitor's physical DPI (rounded) under QT_USE_PHYSICAL_DPI=1,
//                    QT_FONT_DPI, Xft.dpi from the root's RESOURCE_MANAGER, or 96; and round() follows
//                    QT_SCALE_FACTOR_ROUNDING_POLICY (default PassThrough: no rounding).
// A program that changes the rounding policy in code must set the variable instead.
struct QtScaleSettings {
    std::optional<double> globalFactor;                  // QT_SCALE_FACTOR
    std::map<std::string, double> namedScreenFactors;    // QT_SCREEN_SCALE_FACTORS, NAME=f
    std::map<std::size_t, double> positionalScreenFactors; // QT_SCREEN_SCALE_FACTORS, by position
    bool highDpiScaling = true;                          // QT_ENABLE_HIGHDPI_SCALING
    bool usePhysicalDpi = false;                         // QT_USE_PHYSICAL_DPI
    std::optional<int> fontDpi;                          // QT_FONT_DPI
    std::optional<int> xftDpi;                           // Xft.dpi
    std::string roundingPolicy = "PassThrough";          // QT_SCALE_FACTOR_ROUNDING_POLICY

    // From this process's environment and the display's resources.
    static QtScaleSettings read(Display* display);
    // One scale per monitor, in the list's order (primary first).
    std::vector<double> scalesFor(const std::vector<X11Monitor>& monitors) const;
};

// The monitors at one moment and the conversions between root pixels and Quartz points.
//
// Points follow Qt's layout: a monitor keeps its top-left corner where its pixels start and spans
// its pixel size divided by its scale; the Quartz origin is the primary monitor's top-left corner.
class X11MonitorLayout {
public:
    // Reads the monitors now: RandR 1.5 monitors, else active CRTCs, else the whole X screen.
    // The primary monitor comes first. Without visible frames (the docks' struts are not read,
    // visiblePixels is the whole monitor) it is cheaper, for conversions only.
    static X11MonitorLayout read(Display* display, bool withVisibleFrames = true);
    explicit X11MonitorLayout(std::vector<X11Monitor> monitors);

    const std::vector<X11Monitor>& monitors() const { return monitors_; }

    Rect quartzBounds(const X11Monitor& monitor) const;
    // The monitor whose Quartz bounds contain the point, else the nearest one; none without monitors.
    const X11Monitor* monitorAtQuartzPoint(Point quartzPoint) const;
    // The monitor containing the pixel, else the nearest one.
    const X11Monitor* monitorAtPixel(Point rootPixel) const;
    // The monitor overlapping the Quartz rectangle most, else the one nearest its centre.
    const X11Monitor* monitorForQuartzRect(const Rect& quartzRect) const;

    Point quartzPoint(Point rootPixel) const;
    Point rootPixelPoint(Point quartzPoint) const;
    // In the scale of the monitor holding most of the rectangle.
    Rect rootPixelRect(const Rect& quartzRect) const;
    Rect quartzRect(const PixelRect& rootPixels) const;

    std::vector<ScreenDescription> screenDescriptions() const;

private:
    Point primaryOrigin() const;
    std::vector<X11Monitor> monitors_;
};

// The Screens port on X11, with the conversions the other X11 and AT-SPI adapters need. Every call
// reads the monitors afresh. Callable from any thread (one connection, used under a lock).
class X11Screens : public Screens {
public:
    // None when no X server can be reached.
    static std::unique_ptr<X11Screens> create(const char* displayName = nullptr);

    std::vector<ScreenDescription> screens() override;
    // The monitors for conversions (visible frames not read).
    X11MonitorLayout layout();

    Point quartzPoint(Point rootPixel);
    Rect quartzRect(const PixelRect& rootPixels);
    Point rootPixelPoint(Point quartzPoint);
    Rect rootPixelRect(const Rect& quartzRect);

private:
    explicit X11Screens(x11::DisplayPtr display) : display_(std::move(display)) {}
    X11MonitorLayout read(bool withVisibleFrames);
    std::mutex mutex_;
    x11::DisplayPtr display_;
};

} // namespace zorvane
