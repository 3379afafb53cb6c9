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
    // Statuses reported before the user has answered; a granted flag above reads as authorized.
    std::atomic<Status> microphoneUndecided {Status::notDetermined};
    std::atomic<Status> speechUndecided {Status::notDetermined};
    // What the user answers to the prompts.
    std::atomic<bool> grantAccessibilityWhenAsked {false};
    std::atomic<bool> grantScreenRecordingWhenAsked {false};
    std::atomic<int> accessibilityRequests {0};
    std::atomic<int> screenRecordingRequests {0};

    void grantAll()
    {
        accessibility = screenRecording = microphone = speechRecognition = true;
    }

    bool isAccessibilityTrusted() override { return accessibility; }
    bool isScreenRecordingGranted() override { return screenRecording; }
    bool isMicrophoneAuthorized() override { return microphone; }
    bool isSpeechRecognitionAuthorized() override { return speechRecognition; }
    Status microphoneStatus() override { return microphone ? Status::authorized : microphoneUndecided.load(); }
    Status speechRecognitionStatus() override { return speechRecognition ? Status::authorized : speechUndecided.load(); }
    void requestAccessibility() override
    {
        ++accessibilityRequests;
        if (grantAccessibilityWhenAsked) accessibility = true;
    }
    bool requestScreenRecording() override
    {
        ++screenRecordingRequests;
        if (grantScreenRecordingWhenAsked) screenRecording = true;
        return screenRecording;
    }
};

} // namespace zorvane::fakes
