#pragma once

#include "app/platform/Permissions.h"

#include <functional>

namespace zorvane {

// The four permissions on a Linux desktop, each answered by the adapter that knows it:
// accessibility by the session's assistive-technology switch, the microphone by the sound server,
// speech recognition by the recognisers (a usable model for the user's language), screen capture
// by the session (an X11 session lets every client read the screen; Wayland does not). Callable
// from any thread, as long as the halves are.
struct PermissionHalves {
    std::function<bool()> isScreenCaptureGranted;
    std::function<bool()> isAccessibilityEnabled;
    std::function<bool()> enableAccessibility; // whether it is on afterwards
    std::function<Permissions::Status()> microphoneStatus;
    std::function<Permissions::Status()> speechRecognitionStatus;
};

class LinuxPermissions final : public Permissions {
public:
    explicit LinuxPermissions(PermissionHalves halves);

    bool isAccessibilityTrusted() override;
    bool isScreenRecordingGranted() override;
    bool isMicrophoneAuthorized() override;
    bool isSpeechRecognitionAuthorized() override;
    Status microphoneStatus() override;
    Status speechRecognitionStatus() override;
    void requestAccessibility() override;
    bool requestScreenRecording() override;

private:
    PermissionHalves halves_;
};

} // namespace zorvane
