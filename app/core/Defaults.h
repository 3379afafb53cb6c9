#pragma once

#include "app/core/CapturedContext.h"
#include "app/core/UserDefaults.h"

#include <cstdint>
#include <string>

// The settings keys, their registered fallbacks and the one migration.
namespace zorvane::Defaults {

inline const std::string activationEnabled = "activationEnabled";
inline const std::string motionThreshold = "motionThreshold";
inline const std::string voiceEnabled = "voiceEnabled";
inline const std::string aiResponseMode = "aiResponseMode";
inline const std::string onboardingVersion = "onboardingVersion";
inline const std::string gestureProfileVersion = "gestureProfileVersion";

inline constexpr std::int64_t currentOnboardingVersion = 1;
inline constexpr std::int64_t currentGestureProfileVersion = 2;
inline constexpr double defaultMotionThreshold = 2200.0;

// Registers the fallbacks, then resets the shake threshold once for users of an older gesture
// profile. ("register" itself is a reserved word in C++.)
void registerDefaults(UserDefaults& defaults);

// The mode for a question: "thinking" gives thinking, anything else (or nothing) fast.
AIResponseMode responseMode(const UserDefaults& defaults);

// Shown sensitivity 0…1 of a stored threshold, and the threshold stored for a sensitivity.
double sensitivity(double threshold);
double threshold(double sensitivity);
// "30% · Baja" and the like.
std::string sensitivityCaption(double threshold);

} // namespace zorvane::Defaults
