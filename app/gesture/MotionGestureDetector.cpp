#include "app/gesture/MotionGestureDetector.h"

#include <algorithm>
#include <cmath>

namespace zorvane {

namespace {

struct Extent {
    double minX, maxX, minY, maxY;
};

// Two samples per step into separate accumulators, so that the minimum and maximum chains do not
// wait on each other.
Extent extentOf(std::span<const MotionGestureDetector::Sample> samples)
{
    Extent a {samples[0].point.x, samples[0].point.x, samples[0].point.y, samples[0].point.y};
    Extent b = a;
    std::size_t i = 0;
    for (; i + 2 <= samples.size(); i += 2) {
        const Point& p = samples[i].point;
        const Point& q = samples[i + 1].point;
        a.minX = std::min(a.minX, p.x);
        a.maxX = std::max(a.maxX, p.x);
        a.minY = std::min(a.minY, p.y);
        a.maxY = std::max(a.maxY, p.y);
        b.minX = std::min(b.minX, q.x);
        b.maxX = std::max(b.maxX, q.x);
        b.minY = std::min(b.minY, q.y);
        b.maxY = std::max(b.maxY, q.y);
    }
    if (i < samples.size()) {
        const Point& p = samples[i].point;
        a.minX = std::min(a.minX, p.x);
        a.maxX = std::max(a.maxX, p.x);
        a.minY = std::min(a.minY, p.y);
        a.maxY = std::max(a.maxY, p.y);
    }
    return Extent {std::min(a.minX, b.minX), std::max(a.maxX, b.maxX), std::min(a.minY, b.minY), std::max(a.maxY, b.maxY)};
}

struct Strokes {
    int directionChanges = 0;
    int fastStrokes = 0;
    double travel = 0;
};

// Greedy cut along one axis: a stroke ends at the first sample at least minimumStroke away from
// its anchor, and that sample anchors the next one; trailing samples form no stroke.
template <double Point::*axis>
Strokes cutStrokes(std::span<const MotionGestureDetector::Sample> samples, double threshold)
{
    Strokes strokes;
    int previousDirection = 0;
    std::size_t anchor = 0;
    double anchorCoordinate = samples[0].point.*axis;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const double delta = samples[i].point.*axis - anchorCoordinate;
        const double distance = std::abs(delta);
        if (!(distance >= MotionGestureDetector::minimumStroke)) continue;

        const int direction = delta > 0 ? 1 : -1;
        if (previousDirection != 0 && previousDirection != direction) ++strokes.directionChanges;
        previousDirection = direction;
        strokes.travel += distance;
        const double dt = samples[i].time - samples[anchor].time;
        if (distance / std::max(dt, MotionGestureDetector::shortestStrokeTime) >= threshold) ++strokes.fastStrokes;
        anchor = i;
        anchorCoordinate = samples[i].point.*axis;
    }
    return strokes;
}

} // namespace

void MotionGestureDetector::dropStaleSamples(double time)
{
    // Written as an age, so that a sample exactly `window` old stays.
    const auto isStale = [time](const Sample& s) { return time - s.time > window; };
    while (first_ < samples_.size() && isStale(samples_[first_])) ++first_;

    if (inOrder_) return;

    // Only a caller feeding times out of order leaves stale samples behind a fresh one.
    const auto kept = samples_.begin() + static_cast<std::ptrdiff_t>(first_);
    samples_.erase(std::remove_if(kept, samples_.end(), isStale), samples_.end());
    inOrder_ = std::is_sorted(kept, samples_.end(), [](const Sample& a, const Sample& b) { return a.time < b.time; });
}

bool MotionGestureDetector::record(Point point, double time)
{
    if (first_ > 0 && samples_.size() == samples_.capacity()) {
        samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(first_));
        first_ = 0;
    }
    if (first_ < samples_.size() && time < samples_.back().time) inOrder_ = false;
    samples_.push_back(Sample {point, time});
    dropStaleSamples(time);

    const std::span<const Sample> kept = samples();
    if (kept.size() < minimumSamples) return false;

    const Extent extent = extentOf(kept);
    const double xRange = extent.maxX - extent.minX;
    const double yRange = extent.maxY - extent.minY;
    // The extent alone decides most calls, so the strokes are cut only when it could be a shake.
    if (!(std::max(xRange, yRange) >= minimumExtent)) return false;

    const Strokes strokes = yRange <= xRange ? cutStrokes<&Point::x>(kept, threshold) : cutStrokes<&Point::y>(kept, threshold);
    if (strokes.directionChanges < minimumDirectionChanges || strokes.fastStrokes < minimumFastStrokes
        || strokes.travel < minimumTravel)
        return false;
    samples_.clear();
    first_ = 0;
    inOrder_ = true;
    return true;
}

} // namespace zorvane
