#include "app/gesture/MotionGestureDetector.h"

#include <algorithm>
#include <cmath>

namespace zorvane {

void MotionGestureDetector::dropStaleSamples(double time)
{
    // Written as an age, so that a sample exactly `window` old stays.
    const auto isStale = [time](const Sample& s) { return time - s.time > window; };
    while (first_ < samples_.size() && isStale(samples_[first_])) ++first_;

    // Only a caller feeding times out of order leaves stale samples behind a fresh one.
    const auto firstStale = std::find_if(samples_.begin() + static_cast<std::ptrdiff_t>(first_), samples_.end(), isStale);
    if (firstStale != samples_.end()) samples_.erase(std::remove_if(firstStale, samples_.end(), isStale), samples_.end());
}

bool MotionGestureDetector::record(Point point, double time)
{
    if (first_ > 0 && samples_.size() == samples_.capacity()) {
        samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(first_));
        first_ = 0;
    }
    samples_.push_back(Sample {point, time});
    dropStaleSamples(time);

    const std::span<const Sample> kept = samples();
    if (kept.size() < minimumSamples) return false;

    double minX = kept[0].point.x, maxX = minX;
    double minY = kept[0].point.y, maxY = minY;
    for (const Sample& s : kept) {
        minX = std::min(minX, s.point.x);
        maxX = std::max(maxX, s.point.x);
        minY = std::min(minY, s.point.y);
        maxY = std::max(maxY, s.point.y);
    }
    const double xRange = maxX - minX;
    const double yRange = maxY - minY;
    // The extent alone decides most calls, so the strokes are cut only when it could be a shake.
    if (!(std::max(xRange, yRange) >= minimumExtent)) return false;

    const bool horizontal = yRange <= xRange;
    const auto coordinate = [horizontal](const Sample& s) { return horizontal ? s.point.x : s.point.y; };

    int directionChanges = 0;
    int fastStrokes = 0;
    double travel = 0;
    int previousDirection = 0;
    std::size_t anchor = 0;
    for (std::size_t i = 1; i < kept.size(); ++i) {
        const double delta = coordinate(kept[i]) - coordinate(kept[anchor]);
        const double distance = std::abs(delta);
        if (!(distance >= minimumStroke)) continue;

        const int direction = delta > 0 ? 1 : -1;
        if (previousDirection != 0 && previousDirection != direction) ++directionChanges;
        previousDirection = direction;
        travel += distance;
        const double dt = kept[i].time - kept[anchor].time;
        if (distance / std::max(dt, shortestStrokeTime) >= threshold) ++fastStrokes;
        anchor = i;
    }

    if (directionChanges < minimumDirectionChanges || fastStrokes < minimumFastStrokes || travel < minimumTravel) return false;
    samples_.clear();
    first_ = 0;
    return true;
}

} // namespace zorvane
