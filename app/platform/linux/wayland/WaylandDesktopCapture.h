#pragma once

#include "app/platform/linux/wayland/DesktopSnapshot.h"
#include "app/platform/linux/wayland/WaylandSession.h"

#include <QRect>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace zorvane {

// A screen as a snapshot source needs it: Qt's name for the output, where Qt places it, and its
// Quartz bounds.
struct SnapshotScreen {
    QString name;
    QRect qtGeometry;
    Rect quartzBounds;
};

using SnapshotDone = std::function<void(SnapshotOutcome)>;

// One way of capturing the whole desktop. `take` returns at once; `done` runs once, on the main
// thread, within `limitSeconds` (a refusal when the desktop has not answered by then), and never
// after the source is destroyed.
class SnapshotSource {
public:
    virtual ~SnapshotSource() = default;
    virtual void take(const std::vector<SnapshotScreen>& screens, double limitSeconds, SnapshotDone done) = 0;
};

// The wlroots screen copy, spoken in-process on a connection of its own, one output at a time.
std::unique_ptr<SnapshotSource> makeWlrScreencopy();
// KWin's ScreenShot2, which answers only programs whose desktop entry lists it in
// X-KDE-DBUS-Restricted-Interfaces; raw pixels over a pipe.
std::unique_ptr<SnapshotSource> makeKWinScreenShot();
// The Screenshot portal, without its dialog (GNOME asks once whether Zorvane may, and remembers).
// Its file is read and removed at once.
std::unique_ptr<SnapshotSource> makePortalScreenshot(wayland::Desktop desktop);

// The snapshot of a desktop: its ways of capturing in order of preference, each tried when the
// one before refuses without the user's say.
class WaylandDesktopCapture {
public:
    static constexpr double limitSeconds = 10;
    // GNOME's first capture waits for the user to answer its access dialog.
    static constexpr double askingLimitSeconds = 120;

    explicit WaylandDesktopCapture(wayland::Desktop desktop);
    WaylandDesktopCapture(std::vector<std::unique_ptr<SnapshotSource>> sources, double limit);
    ~WaylandDesktopCapture();

    // The screens Qt shows now, then a snapshot of them through `done` (main thread, once).
    void take(SnapshotDone done);

    // Whether this desktop lets us capture without asking, or will ask once: false only when it
    // is known to refuse (GNOME remembers a "no"). Main thread; bounded by a short D-Bus wait.
    static bool isCaptureAllowed(wayland::Desktop desktop);
    // GNOME's remembered answer for the screenshot portal: true "yes", false "no", none not asked.
    static std::optional<bool> gnomeScreenshotPermission();

private:
    void tryFrom(std::size_t index, std::vector<SnapshotScreen> screens, double limit, std::shared_ptr<SnapshotDone> done,
        std::optional<CaptureRefusal> last);

    std::vector<std::unique_ptr<SnapshotSource>> sources_;
    double limit_;
    wayland::Desktop desktop_ = wayland::Desktop::other;
};

} // namespace zorvane
