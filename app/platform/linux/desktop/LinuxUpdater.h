#pragma once

#include "app/core/UserDefaults.h"
#include "app/platform/Bundle.h"
#include "app/platform/Clock.h"
#include "app/platform/MainQueue.h"
#include "app/platform/Updater.h"
#include "app/platform/linux/desktop/UpdateSteps.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace zorvane::linux_platform {

// What the user sees of an update; the desktop program shows these as dialogs. Main thread only.
class UpdateUserDriver {
public:
    virtual ~UpdateUserDriver() = default;
    // Answers to a check the user asked for.
    virtual void showUpToDate(const std::string& installedVersion) = 0;
    virtual void showUpdateFound(
        const std::string& newVersion, const std::string& installedVersion, std::function<void(bool install)> reply) = 0;
    // The new bundle is in place; the running program is still the old one.
    virtual void showReadyToRestart(const std::string& newVersion, std::function<void(bool restartNow)> reply) = 0;
    // A Spanish sentence: "No se pudo actualizar Zorvane: …". The installed bundle is untouched.
    virtual void showFailure(const std::string& message) = 0;
};

struct LinuxUpdaterOptions {
    std::shared_ptr<const Bundle> bundle;
    std::shared_ptr<UserDefaults> defaults;
    std::shared_ptr<MainQueue> mainQueue;
    std::shared_ptr<Clock> clock;
    std::shared_ptr<UpdateUserDriver> userDriver;
    // Ends the program after a restart was chosen; the new program starts once this process is gone.
    std::function<void()> quitApplication;
    // Starts `program` once this process has ended; by default a detached waiter does it.
    std::function<void(const std::string& program)> relaunchAfterExit;
    // The first automatic check after start waits this long, so start-up stays quick.
    double firstCheckDelay = 10.0;
    // For tests, called on the worker thread at each step of an install: true ends the install
    // there as a kill would, with nothing cleaned up and nothing shown.
    std::function<bool(UpdateSteps::InstallStep reached)> stopAfter;
};

// Updates from a signed RSS feed: the bundle names the feed (SUFeedURL) and the Ed25519 public key
// (SUPublicEDKey). A release is downloaded beside the bundle, its signature checked before
// anything reads it, unpacked, checked to be Zorvane of the announced version, flushed to the disk
// and exchanged with the installed bundle atomically; the old bundle stays until the next start,
// which also clears what an interrupted install left. Network and disk work run on one worker
// thread; results come back through the main queue. The automatic settings and the time of the
// last check live in the preferences domain under the updater's own keys.
class LinuxUpdater : public Updater, public std::enable_shared_from_this<LinuxUpdater> {
public:
    static constexpr const char* automaticChecksKey = "SUEnableAutomaticChecks";
    static constexpr const char* automaticDownloadsKey = "SUAutomaticallyUpdate";
    static constexpr const char* lastCheckTimeKey = "SULastCheckTime";
    static constexpr double checkInterval = 24 * 60 * 60;

    static std::shared_ptr<LinuxUpdater> create(LinuxUpdaterOptions options);
    ~LinuxUpdater() override;
    LinuxUpdater(const LinuxUpdater&) = delete;
    LinuxUpdater& operator=(const LinuxUpdater&) = delete;

    void setUserDriver(std::shared_ptr<UpdateUserDriver> driver) { options_.userDriver = std::move(driver); }

    // Removes what earlier updates left beside the bundle, then schedules the automatic checks.
    void start() override;
    bool automaticallyChecksForUpdates() override;
    void setAutomaticallyChecksForUpdates(bool value) override;
    bool automaticallyDownloadsUpdates() override;
    void setAutomaticallyDownloadsUpdates(bool value) override;
    bool canCheckForUpdates() override { return started_ && !busy_; }
    // Whether this user may replace the bundle in its folder, and its file system can do it in one step.
    bool allowsAutomaticUpdates() override;
    void checkForUpdates() override { check(true); }

    bool isBusy() const { return busy_; }

private:
    explicit LinuxUpdater(LinuxUpdaterOptions options);

    void check(bool userInitiated);
    void scheduleAutomaticCheck();
    void checkFinished(bool userInitiated, std::optional<UpdateSteps::AppcastItem> item, std::optional<std::string> failure);
    void install(UpdateSteps::AppcastItem item);
    void installFinished(const std::string& version, std::optional<std::string> failure);
    void runOnWorker(std::function<void(const std::atomic<bool>& cancelled)> job);
    void remember(const std::string& key, PreferenceValue value);
    UpdateUserDriver* driver() const { return options_.userDriver.get(); }

    LinuxUpdaterOptions options_;
    std::string feedURL_;
    std::string publicKey_;
    std::string identifier_;
    UpdateSteps::BundleVersion installed_;
    bool started_ = false;
    bool busy_ = false;
    bool exchanges_ = true; // known after start's first job
    std::uint64_t scheduleGeneration_ = 0;
    std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
    std::thread worker_;
};

} // namespace zorvane::linux_platform
