#pragma once

// The rest of the platform, as the model meets it: permissions, the bundle, start at login, the
// updater, the workspace and the application's own windows, each recording what it was asked.

#include "app/platform/ApplicationWindows.h"
#include "app/platform/Bundle.h"
#include "app/platform/ChatPanelController.h"
#include "app/platform/LoginItem.h"
#include "app/platform/Permissions.h"
#include "app/platform/Updater.h"
#include "app/platform/Workspace.h"

#include <atomic>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace zorvane::fakes {

class FakePermissions : public Permissions {
public:
    std::atomic<bool> accessibility {false};
    std::atomic<bool> screenRecording {false};
    std::atomic<bool> microphone {false};
    std::atomic<bool> speechRecognition {false};
    // The microphone's status before the user has answered; granted reads as authorized.
    std::atomic<Status> microphoneUndecided {Status::notDetermined};
    // What the user answers when asked for Accessibility.
    std::atomic<bool> grantAccessibilityWhenAsked {false};
    std::atomic<int> accessibilityRequests {0};

    void grantAll() { accessibility = screenRecording = microphone = speechRecognition = true; }

    bool isAccessibilityTrusted() override { return accessibility; }
    bool isScreenRecordingGranted() override { return screenRecording; }
    bool isMicrophoneAuthorized() override { return microphone; }
    bool isSpeechRecognitionAuthorized() override { return speechRecognition; }
    Status microphoneStatus() override { return microphone ? Status::authorized : microphoneUndecided.load(); }
    Status speechRecognitionStatus() override { return speechRecognition ? Status::authorized : Status::notDetermined; }
    void requestAccessibility() override
    {
        ++accessibilityRequests;
        if (grantAccessibilityWhenAsked) accessibility = true;
    }
    bool requestScreenRecording() override { return screenRecording; }
};

// A bundle laid out under a folder the test chooses, with the information keys it sets.
class FakeBundle : public Bundle {
public:
    explicit FakeBundle(std::filesystem::path bundlePath) : path_(std::move(bundlePath)) {}

    std::filesystem::path bundlePath() const override { return path_; }
    std::filesystem::path executablesPath() const override { return path_ / "Contents" / "MacOS"; }
    std::filesystem::path resourcesPath() const override { return path_ / "Contents" / "Resources"; }
    std::optional<std::string> infoValue(const std::string& key) const override
    {
        const auto found = info.find(key);
        return found == info.end() ? std::nullopt : std::optional(found->second);
    }

    std::map<std::string, std::string> info;

private:
    std::filesystem::path path_;
};

class FakeLoginItem : public LoginItem {
public:
    Status currentStatus = Status::notRegistered;
    bool failNextCall = false; // the system refuses the next change

    Status status() override { return currentStatus; }
    void registerItem() override { change(Status::enabled); }
    void unregisterItem() override { change(Status::notRegistered); }

private:
    void change(Status to)
    {
        if (std::exchange(failNextCall, false))
            throw std::system_error(std::make_error_code(std::errc::operation_not_permitted), "Operación no permitida");
        currentStatus = to;
    }
};

class FakeUpdater : public Updater {
public:
    bool started = false;
    bool checksAutomatically = false;
    bool canCheck = true;
    int checks = 0;

    void start() override { started = true; }
    bool automaticallyChecksForUpdates() override { return checksAutomatically; }
    void setAutomaticallyChecksForUpdates(bool value) override { checksAutomatically = value; }
    bool automaticallyDownloadsUpdates() override { return false; }
    void setAutomaticallyDownloadsUpdates(bool) override {}
    bool canCheckForUpdates() override { return canCheck; }
    bool allowsAutomaticUpdates() override { return true; }
    void checkForUpdates() override { ++checks; }
};

// Records what it is asked to open or reveal; only the applications listed are installed.
class FakeWorkspace : public Workspace {
public:
    std::optional<std::string> frontmost;
    std::optional<ProcessID> frontmostPID;
    std::map<ProcessID, std::string> processes; // the application identifier of each running process
    std::set<std::string> installed;
    std::vector<std::string> openedURLs;
    std::vector<std::pair<std::string, std::string>> openedWithApplication;
    std::vector<std::filesystem::path> revealed;

    std::optional<std::string> frontmostApplicationIdentifier() override { return frontmost; }
    std::optional<ProcessID> frontmostApplicationProcessID() override { return frontmostPID; }
    std::optional<std::string> applicationIdentifierOfProcess(ProcessID pid) override
    {
        return processes.contains(pid) ? std::optional(processes.at(pid)) : std::nullopt;
    }
    bool openURL(const std::string& url) override { return openedURLs.push_back(url), true; }
    bool openURLWithApplication(const std::string& url, const std::string& app) override
    {
        return openedWithApplication.emplace_back(url, app), isApplicationInstalled(app);
    }
    bool revealFile(const std::filesystem::path& path) override { return revealed.push_back(path), true; }
    bool isApplicationInstalled(const std::string& app) override { return installed.count(app) != 0; }
};

// A chat panel that records where it was shown; its window is number 77.
class FakeChatPanel : public ChatPanelController {
public:
    bool isVisible = false;
    std::vector<Rect> shownNear;
    bool mapsWhenShown = true; // false: a window manager that never maps it

    void prepare(AppModel&) override {}
    void show(AppModel&, const Rect& nearQuartzRect) override { shownNear.push_back(nearQuartzRect), isVisible = true; }
    void expandForResponse() override {}
    void hide() override { isVisible = false; }
    std::optional<std::uint32_t> windowNumber() override { return 77; }
    bool isOnScreen() override { return isVisible && mapsWhenShown; }
};

class FakeOnboardingWindow : public OnboardingWindowController {
public:
    int showCount = 0;
    void show(AppModel&) override { ++showCount; }
};

class FakeApplicationWindows : public ApplicationWindows {
public:
    std::vector<Window> list;
    int activations = 0;
    std::vector<std::uint64_t> raised;

    void activateIgnoringOtherApps() override { ++activations; }
    std::vector<Window> windows() override { return list; }
    void orderFrontRegardlessAndMakeKey(std::uint64_t handle) override { raised.push_back(handle); }
};

} // namespace zorvane::fakes
