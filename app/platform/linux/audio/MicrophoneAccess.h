#pragma once

#include "app/platform/AudioInput.h"
#include "app/platform/Permissions.h"
#include "app/platform/Workspace.h"

#include <array>
#include <string_view>

// The microphone half of the permissions. The desktop has no microphone prompt: access is there
// when the sound server answers and has a microphone, and the user fixes it in the sound settings.
namespace zorvane::linux_platform::MicrophoneAccess {

// authorized or denied, never notDetermined (there is nothing to ask). Bounded like the input.
Permissions::Status status(AudioInput& input);

// Desktop-file identifiers of sound settings, preferred first: GNOME's sound panel, KDE's, then
// the mixers any desktop may have.
inline constexpr std::array<std::string_view, 4> soundSettingsApplications {
    "gnome-sound-panel", "kcm_pulseaudio", "org.pulseaudio.pavucontrol", "pavucontrol"};

// Opens the first installed one; returns whether one was handed to the desktop.
bool openSoundSettings(Workspace& workspace);

} // namespace zorvane::linux_platform::MicrophoneAccess
