#pragma once

#include "app/core/ObservableObject.h"
#include "app/platform/Bundle.h"
#include "app/platform/Updater.h"

#include <memory>
#include <optional>
#include <string>

namespace zorvane {

// The software updater and whether this build is set up for updates (a feed and a signing key).
class UpdateService : public ObservableObject {
public:
    // The updater is started only when the build is configured.
    UpdateService(const Bundle& bundle, std::shared_ptr<Updater> updater);

    bool isConfigured() const { return isConfigured_; }
    // An installed copy (this information key "YES") never updates itself: the package manager does.
    static constexpr const char* updatedByPackageManagerKey = "ZorvaneUpdatedByPackageManager";
    bool updatedByPackageManager() const { return updatedByPackageManager_; }
    const std::optional<std::string>& feedURL() const { return feedURL_; }
    std::string installedVersion() const { return installedVersion_; }

    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool value);
    bool automaticallyDownloadsUpdates() const;
    void setAutomaticallyDownloadsUpdates(bool value);
    bool canCheckForUpdates() const { return isConfigured_ && updater_->canCheckForUpdates(); }
    bool allowsAutomaticUpdates() const { return isConfigured_ && updater_->allowsAutomaticUpdates(); }
    void checkForUpdates();

    const std::shared_ptr<Updater>& updater() const { return updater_; }

private:
    std::shared_ptr<Updater> updater_;
    std::optional<std::string> feedURL_;
    bool isConfigured_ = false;
    bool updatedByPackageManager_ = false;
    std::string installedVersion_;
};

// Whether the text is an absolute URL a URL parser would accept (scheme, then only characters
// allowed in URLs, percent escapes well formed).
bool isWellFormedURL(const std::string& text);

} // namespace zorvane
