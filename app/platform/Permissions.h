#pragma once

namespace zorvane {

// The four privacy permissions. The probes never prompt; the requests may. Callable from any
// thread (the capture checks screen recording off the main thread).
class Permissions {
public:
    enum class Status { notDetermined, authorized, denied, restricted };

    virtual ~Permissions() = default;
    virtual bool isAccessibilityTrusted() = 0;
    virtual bool isScreenRecordingGranted() = 0;
    virtual bool isMicrophoneAuthorized() = 0;
    virtual bool isSpeechRecognitionAuthorized() = 0;

    virtual Status microphoneStatus() = 0;
    virtual Status speechRecognitionStatus() = 0;
    // Shows the system's prompt when not yet trusted.
    virtual void requestAccessibility() = 0;
    // Asks for screen recording; returns whether it is granted.
    virtual bool requestScreenRecording() = 0;
};

} // namespace zorvane
