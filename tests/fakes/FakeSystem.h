#pragma once

#include "app/platform/LoginItem.h"
#include "app/platform/Updater.h"
#include "app/platform/Workspace.h"

#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace zorvane::fakes {

class FakeLoginItem : public LoginItem {
public:
    Status currentStatus = Status::notRegistered;
    bool failNextCall = false;
    int registerCalls = 0;
    int unregisterCalls = 0;

    Status status() override { return currentStatus; }
    void registerItem() override
    {
        ++registerCalls;
        failIfAsked();
        currentStatus = Status::enabled;
    }
    void unregisterItem() override
    {
        ++unregisterCalls;
        failIfAsked();
        currentStatus = Status::notRegistered;
    }

private:
    void failIfAsked()
    {
        if (!failNextCall) return;
        failNextCall = false;
        throw std::system_error(std::make_error_code(std::errc::operation_not_permitted), "Operación no permitida");
    }
};

class FakeUpdater : public Updater {
public:
    bool started = false;
    bool checksAutomatically = false;
    bool downloadsAutomatically = false;
    bool canCheck = true;
    bool allowsAutomatic = true;
    int checks = 0;

    void start() override { started = true; }
    bool automaticallyChecksForUpdates() override { return checksAutomatically; }
    void setAutomaticallyChecksForUpdates(bool value) override { checksAutomatically = value; }
    bool automaticallyDownloadsUpdates() override { return downloadsAutomatically; }
    void setAutomaticallyDownloadsUpdates(bool value) override { downloadsAutomatically = value; }
    bool canCheckForUpdates() override { return canCheck; }
    bool allowsAutomaticUpdates() override { return allowsAutomatic; }
    void checkForUpdates() override { ++checks; }
};

class FakeWorkspace : public Workspace {
public:
    std::optional<std::string> frontmost;
    std::set<std::string> installed;
    std::vector<std::string> openedURLs;
    std::vector<std::pair<std::string, std::string>> openedWithApplication;
    std::vector<std::filesystem::path> revealed;

    std::optional<std::string> frontmostApplicationIdentifier() override { return frontmost; }
    bool openURL(const std::string& url) override
    {
        openedURLs.push_back(url);
        return true;
    }
    bool openURLWithApplication(const std::string& url, const std::string& app) override
    {
        openedWithApplication.emplace_back(url, app);
        return installed.count(app) != 0;
    }
    bool revealFile(const std::filesystem::path& path) override
    {
        revealed.push_back(path);
        return true;
    }
    bool isApplicationInstalled(const std::string& app) override { return installed.count(app) != 0; }
};

} // namespace zorvane::fakes
