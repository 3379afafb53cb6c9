#pragma once

#include "app/platform/Permissions.h"

#include <atomic>

namespace zorvane::fakes {

class FakePermissions : public Permissions {
public:
    std::atomic<bool> accessibility {false};
    std::atomic<bool> screenRecording {false};
    std::atomic<bool> microphone {false};
    std::atomic<bool> speechRecognition {false};
    // The microphone's status before the user has answered; granted reads as authorized.
    std::atomic<Status> microphoneUndecided {Status::notDetermined};
    // What the user answers when asked for Accessibility.
    std::atomic<bool> grantAccessibilityWhenAsked {false};
    std::atomic<int> accessibilityRequests {0};

    void grantAll() { accessibility = screenRecording = microphone = speechRecognition = true; }

    bool isAccessibilityTrusted() override { return accessibility; }
    bool isScreenRecordingGranted() override { return screenRecording; }
    bool isMicrophoneAuthorized() override { return microphone; }
    bool isSpeechRecognitionAuthorized() override { return speechRecognition; }
    Status microphoneStatus() override { return microphone ? Status::authorized : microphoneUndecided.load(); }
    Status speechRecognitionStatus() override { return speechRecognition ? Status::authorized : Status::notDetermined; }
    void requestAccessibility() override
    {
        ++accessibilityRequests;
        if (grantAccessibilityWhenAsked) accessibility = true;
    }
    bool requestScreenRecording() override { return screenRecording; }
};

} // namespace zorvane::fakes
