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

    void grantAll()
    {
        accessibility = screenRecording = microphone = speechRecognition = true;
    }

    bool isAccessibilityTrusted() override { return accessibility; }
    bool isScreenRecordingGranted() override { return screenRecording; }
    bool isMicrophoneAuthorized() override { return microphone; }
    bool isSpeechRecognitionAuthorized() override { return speechRecognition; }
};

} // namespace zorvane::fakes
