#include "app/core/Defaults.h"

#include <algorithm>
#include <cmath>

namespace zorvane::Defaults {

void registerDefaults(UserDefaults& defaults)
{
    defaults.registerDefaults({
        {activationEnabled, true},
        {motionThreshold, defaultMotionThreshold},
        {voiceEnabled, true},
        {aiResponseMode, std::string("fast")},
        {onboardingVersion, std::int64_t {0}},
    });
    if (defaults.integerForKey(gestureProfileVersion) < currentGestureProfileVersion) {
        // The threshold first, so an interrupted migration runs again next launch.
        defaults.setDouble(motionThreshold, defaultMotionThreshold);
        defaults.setInteger(gestureProfileVersion, currentGestureProfileVersion);
    }
}

AIResponseMode responseMode(const UserDefaults& defaults)
{
    const auto stored = defaults.stringForKey(aiResponseMode);
    return stored && *stored == "thinking" ? AIResponseMode::thinking : AIResponseMode::fast;
}

namespace {
double rawSensitivity(double threshold) { return (2800.0 - threshold) / 2000.0; }
} // namespace

double sensitivity(double threshold)
{
    const double r = rawSensitivity(threshold);
    if (!(r > 0)) return 0; // also NaN
    return std::min(r, 1.0);
}

double threshold(double sensitivity)
{
    if (!(sensitivity > 0)) return 2800.0;
    return 2800.0 - 2000.0 * std::min(sensitivity, 1.0);
}

std::string sensitivityCaption(double threshold)
{
    const double raw = rawSensitivity(threshold);
    const double r = std::isnan(raw) ? 0.0 : raw; // a hand-edited non-number reads as the lowest
    const int percentage = r <= 0 ? 0 : static_cast<int>(100.0 * std::min(r, 1.0));
    const char* word = r < 0.34 ? "Baja" : (r < 0.68 ? "Equilibrada" : "Alta");
    return std::to_string(percentage) + "% · " + word;
}

} // namespace zorvane::Defaults
