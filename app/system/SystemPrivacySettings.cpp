#include "app/system/SystemPrivacySettings.h"

namespace zorvane::SystemPrivacySettings {

std::string anchor(Pane pane)
{
    switch (pane) {
    case Pane::accessibility: return "Privacy_Accessibility";
    case Pane::microphone: return "Privacy_Microphone";
    case Pane::screenCapture: return "Privacy_ScreenCapture";
    case Pane::speechRecognition: return "Privacy_SpeechRecognition";
    }
    return "Privacy_Accessibility";
}

std::string url(Pane pane)
{
    return "x-apple.systempreferences:com.apple.preference.security?" + anchor(pane);
}

void open(Workspace& workspace, Pane pane)
{
    // A desktop without such a pane simply ignores the request; nothing is shown either way.
    workspace.openURL(url(pane));
}

} // namespace zorvane::SystemPrivacySettings
