#include "app/system/LaunchAtLoginService.h"
#include "app/system/SystemPrivacySettings.h"
#include "app/system/UpdateService.h"
#include "fakes/FakeSystem.h"

#include <gtest/gtest.h>

#include <map>

using namespace zorvane;
using fakes::FakeLoginItem;
using fakes::FakeUpdater;

namespace {

class InfoBundle : public Bundle {
public:
    explicit InfoBundle(std::map<std::string, std::string> info) : info_(std::move(info)) {}
    std::filesystem::path bundlePath() const override { return "/Zorvane.app"; }
    std::filesystem::path executablesPath() const override { return "/Zorvane.app/Contents/MacOS"; }
    std::filesystem::path resourcesPath() const override { return "/Zorvane.app/Contents/Resources"; }
    std::optional<std::string> infoValue(const std::string& key) const override
    {
        if (auto it = info_.find(key); it != info_.end()) return it->second;
        return std::nullopt;
    }

private:
    std::map<std::string, std::string> info_;
};

} // namespace

TEST(LaunchAtLogin, CallsTheSystemOnlyWhenTheStateMustChange)
{
    auto item = std::make_shared<FakeLoginItem>();
    LaunchAtLoginService service(item);
    item->currentStatus = LoginItem::Status::enabled;
    service.setEnabled(true);
    EXPECT_EQ(item->registerCalls, 0);

    service.setEnabled(false);
    EXPECT_EQ(item->unregisterCalls, 1);
    service.setEnabled(false);
    EXPECT_EQ(item->unregisterCalls, 1);

    // Waiting for approval counts as off: enabling registers again, disabling does nothing.
    item->currentStatus = LoginItem::Status::requiresApproval;
    service.setEnabled(false);
    EXPECT_EQ(item->unregisterCalls, 1);
    service.setEnabled(true);
    EXPECT_EQ(item->registerCalls, 1);
    EXPECT_TRUE(service.isEnabled());
}

TEST(LaunchAtLogin, ASystemRefusalReachesTheCaller)
{
    auto item = std::make_shared<FakeLoginItem>();
    item->failNextCall = true;
    LaunchAtLoginService service(item);
    EXPECT_THROW(service.setEnabled(true), std::system_error);
    EXPECT_FALSE(service.isEnabled());
}

TEST(Updates, AFeedWithBlanksAroundItAndAKeyMakeAConfiguredBuild)
{
    auto updater = std::make_shared<FakeUpdater>();
    UpdateService service(InfoBundle({{"SUFeedURL", " \n https://updates.example/appcast.xml \t"}, {"SUPublicEDKey", "abc="},
                                      {"CFBundleShortVersionString", "1.4.2"}}),
                          updater);
    EXPECT_TRUE(service.isConfigured());
    EXPECT_EQ(service.feedURL(), "https://updates.example/appcast.xml");
    EXPECT_TRUE(updater->started);
    EXPECT_EQ(service.installedVersion(), "1.4.2");

    int announcements = 0;
    service.addChangeObserver([&] {
        ++announcements;
        EXPECT_TRUE(service.automaticallyChecksForUpdates()); // a view reading it sees the new value
    });
    service.setAutomaticallyChecksForUpdates(true);
    EXPECT_TRUE(service.automaticallyChecksForUpdates());
    EXPECT_EQ(announcements, 1);

    service.checkForUpdates();
    updater->canCheck = false;
    service.checkForUpdates();
    EXPECT_EQ(updater->checks, 1);
}

TEST(Updates, ABlankKeyOrAnUnparsableFeedLeavesTheUpdaterInert)
{
    for (const auto& info : std::vector<std::map<std::string, std::string>> {
             {{"SUFeedURL", "https://updates.example/a.xml"}, {"SUPublicEDKey", " \n "}},
             {{"SUFeedURL", "not a url"}, {"SUPublicEDKey", "abc="}},
             {{"SUFeedURL", ""}, {"SUPublicEDKey", ""}},
             {}}) {
        auto updater = std::make_shared<FakeUpdater>();
        UpdateService service(InfoBundle(info), updater);
        EXPECT_FALSE(service.isConfigured());
        EXPECT_FALSE(updater->started);
        service.setAutomaticallyChecksForUpdates(true);
        service.setAutomaticallyDownloadsUpdates(true);
        EXPECT_FALSE(service.automaticallyChecksForUpdates());
        EXPECT_FALSE(updater->checksAutomatically);
        service.checkForUpdates();
        EXPECT_EQ(updater->checks, 0);
        EXPECT_EQ(service.installedVersion(), "Desarrollo");
    }
}

TEST(PrivacySettings, EachPaneOpensTheExactSystemAddress)
{
    fakes::FakeWorkspace workspace;
    SystemPrivacySettings::open(workspace, SystemPrivacySettings::Pane::screenCapture);
    SystemPrivacySettings::open(workspace, SystemPrivacySettings::Pane::speechRecognition);
    ASSERT_EQ(workspace.openedURLs.size(), 2u);
    EXPECT_EQ(workspace.openedURLs[0], "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture");
    EXPECT_EQ(workspace.openedURLs[1], "x-apple.systempreferences:com.apple.preference.security?Privacy_SpeechRecognition");
}
