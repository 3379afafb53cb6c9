#pragma once

namespace zorvane {

// The four privacy permissions. Probes never prompt; requests may.
class Permissions {
public:
    virtual ~Permissions() = default;
    virtual bool isAccessibilityTrusted() = 0;
    virtual bool isScreenRecordingGranted() = 0;
    virtual bool isMicrophoneAuthorized() = 0;
    virtual bool isSpeechRecognitionAuthorized() = 0;
};

} // namespace zorvane
