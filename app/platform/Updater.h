#pragma once

namespace zorvane {

// The software-update engine. It does nothing by itself until started.
class Updater {
public:
    virtual ~Updater() = default;
    virtual void start() = 0;
    virtual bool automaticallyChecksForUpdates() = 0;
    virtual void setAutomaticallyChecksForUpdates(bool value) = 0;
    virtual bool automaticallyDownloadsUpdates() = 0;
    virtual void setAutomaticallyDownloadsUpdates(bool value) = 0;
    virtual bool canCheckForUpdates() = 0;
    virtual bool allowsAutomaticUpdates() = 0;
    virtual void checkForUpdates() = 0; // user-initiated
};

} // namespace zorvane
