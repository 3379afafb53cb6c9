#include "app/platform/linux/audio/MicrophoneAccess.h"

#include <string>

namespace zorvane::linux_platform::MicrophoneAccess {

Permissions::Status status(AudioInput& input)
{
    return input.inputFormat().sampleRate > 0 ? Permissions::Status::authorized : Permissions::Status::denied;
}

bool openSoundSettings(Workspace& workspace)
{
    for (const std::string_view application : soundSettingsApplications) {
        const std::string identifier(application);
        // An empty URL starts the application without a document.
        if (workspace.isApplicationInstalled(identifier)) return workspace.openURLWithApplication("", identifier);
    }
    return false;
}

} // namespace zorvane::linux_platform::MicrophoneAccess
