#include "app/platform/linux/wayland/WaylandScreens.h"

#include <QGuiApplication>
#include <QScreen>

namespace zorvane {

namespace {

QPoint primaryOrigin()
{
    QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? primary->geometry().topLeft() : QPoint();
}

Rect relativeToPrimary(const QRect& r)
{
    const QPoint origin = primaryOrigin();
    return Rect(r.x() - origin.x(), r.y() - origin.y(), r.width(), r.height());
}

} // namespace

std::vector<ScreenDescription> WaylandScreens::screens()
{
    std::vector<ScreenDescription> result;
    QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) return result;
    QList<QScreen*> ordered = QGuiApplication::screens();
    ordered.removeAll(primary);
    ordered.prepend(primary);

    const double primaryHeight = primary->geometry().height();
    const auto flip = [primaryHeight](const Rect& quartz) {
        return Rect(quartz.minX(), primaryHeight - quartz.maxY(), quartz.width(), quartz.height());
    };
    for (QScreen* screen : ordered) {
        const std::string name = screen->name().toStdString();
        auto [entry, added] = numbers_.try_emplace(name, static_cast<std::uint32_t>(numbers_.size() + 1));
        ScreenDescription description;
        description.displayID = entry->second;
        description.quartzBounds = quartzBounds(*screen);
        description.appKitFrame = flip(description.quartzBounds);
        description.visibleFrame = flip(relativeToPrimary(screen->availableGeometry()));
        result.push_back(description);
    }
    return result;
}

Rect WaylandScreens::quartzBounds(const QScreen& screen) { return relativeToPrimary(screen.geometry()); }

QScreen* WaylandScreens::qtScreenFor(const Rect& quartz)
{
    QScreen* best = nullptr;
    double bestArea = 0;
    for (QScreen* candidate : QGuiApplication::screens()) {
        const double area = quartzBounds(*candidate).intersection(quartz.standardized()).area();
        if (area > bestArea) {
            best = candidate;
            bestArea = area;
        }
    }
    return best;
}

Point WaylandScreens::quartzPoint(double qtX, double qtY)
{
    const QPoint origin = primaryOrigin();
    return {qtX - origin.x(), qtY - origin.y()};
}

} // namespace zorvane
