#pragma once

#include "app/platform/Workspace.h"

#include <string>

// Opens one of the privacy panes of the system settings.
namespace zorvane::SystemPrivacySettings {

enum class Pane { accessibility, microphone, screenCapture, speechRecognition };

std::string anchor(Pane pane);
std::string url(Pane pane);
void open(Workspace& workspace, Pane pane);

} // namespace zorvane::SystemPrivacySettings
