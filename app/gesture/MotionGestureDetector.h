#pragma once

#include "app/core/Geometry.h"

#include <cstddef>
#include <span>
#include <vector>

namespace zorvane {

// Recognises a side-to-side shake in the pointer positions of the last 0.65 seconds: at least three
// fast reversals along one axis, with enough travel and extent. A plain value; not thread-safe.
class MotionGestureDetector {
public:
    struct Sample {
        Point point; // Quartz global coordinates, points
        double time = 0; // seconds of system uptime
    };

    static constexpr double window = 0.65; // seconds a sample is kept
    static constexpr std::size_t minimumSamples = 6;
    static constexpr double minimumStroke = 18; // points between the ends of a stroke
    static constexpr int minimumDirectionChanges = 3;
    static constexpr int minimumFastStrokes = 5;
    static constexpr double minimumTravel = 480; // points, summed over the strokes
    static constexpr double minimumExtent = 100; // points, on the wider axis
    static constexpr double shortestStrokeTime = 0.001; // seconds; shorter strokes count as this long

    // Points per second a stroke must reach to count as fast. Callers replace it before each sample.
    double threshold = 1650;

    // Adds one sample and answers whether the samples now form a shake; if so they are cleared.
    bool record(Point point, double time);

    // The kept samples, oldest first.
    std::span<const Sample> samples() const { return {samples_.data() + first_, samples_.size() - first_}; }

private:
    void dropStaleSamples(double time);

    // Pruning only advances first_; the dead prefix is reclaimed when the storage is full, so a
    // call costs no shifting of the window.
    std::vector<Sample> samples_;
    std::size_t first_ = 0;
    // Whether the kept samples' times never decrease; then pruning the oldest ones suffices.
    bool inOrder_ = true;
};

} // namespace zorvane
