#include "app/platform/linux/LinuxPermissions.h"

namespace zorvane {

LinuxPermissions::LinuxPermissions(PermissionHalves halves) : halves_(std::move(halves)) {}

// A half that is not there answers "not granted", never a false yes.
bool LinuxPermissions::isAccessibilityTrusted() { return halves_.isAccessibilityEnabled && halves_.isAccessibilityEnabled(); }

bool LinuxPermissions::isScreenRecordingGranted() { return halves_.isScreenCaptureGranted && halves_.isScreenCaptureGranted(); }

bool LinuxPermissions::isMicrophoneAuthorized() { return microphoneStatus() == Status::authorized; }

bool LinuxPermissions::isSpeechRecognitionAuthorized() { return speechRecognitionStatus() == Status::authorized; }

Permissions::Status LinuxPermissions::microphoneStatus()
{
    return halves_.microphoneStatus ? halves_.microphoneStatus() : Status::denied;
}

Permissions::Status LinuxPermissions::speechRecognitionStatus()
{
    return halves_.speechRecognitionStatus ? halves_.speechRecognitionStatus() : Status::notDetermined;
}

void LinuxPermissions::requestAccessibility()
{
    // There is no prompt: turning the switch on is the grant (what a screen reader does).
    if (halves_.enableAccessibility && !isAccessibilityTrusted()) halves_.enableAccessibility();
}

// Nothing to ask: the session allows it or not.
bool LinuxPermissions::requestScreenRecording() { return isScreenRecordingGranted(); }

} // namespace zorvane
