#pragma once

#include "app/platform/LoginItem.h"
#include "app/platform/Updater.h"
#include "app/platform/Workspace.h"

#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace zorvane::fakes {

class FakeLoginItem : public LoginItem {
public:
    Status currentStatus = Status::notRegistered;
    bool failNextCall = false; // the system refuses the next change
    int registerCalls = 0;
    int unregisterCalls = 0;

    Status status() override { return currentStatus; }
    void registerItem() override { ++registerCalls, change(Status::enabled); }
    void unregisterItem() override { ++unregisterCalls, change(Status::notRegistered); }

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
    std::set<std::string> installed;
    std::vector<std::string> openedURLs;
    std::vector<std::pair<std::string, std::string>> openedWithApplication;
    std::vector<std::filesystem::path> revealed;

    std::optional<std::string> frontmostApplicationIdentifier() override { return frontmost; }
    bool openURL(const std::string& url) override { return openedURLs.push_back(url), true; }
    bool openURLWithApplication(const std::string& url, const std::string& app) override
    {
        return openedWithApplication.emplace_back(url, app), isApplicationInstalled(app);
    }
    bool revealFile(const std::filesystem::path& path) override { return revealed.push_back(path), true; }
    bool isApplicationInstalled(const std::string& app) override { return installed.count(app) != 0; }
};

} // namespace zorvane::fakes
