#include "app/system/UpdateService.h"
#include "fakes/FakeSystem.h"

#include <gtest/gtest.h>

using namespace zorvane;

TEST(Updates, OnlyATrimmedFeedAndAKeyMakeAConfiguredBuildElseTheUpdaterStaysInert)
{
    const std::map<std::string, std::string> configured {
        {"SUFeedURL", " \n https://updates.example/appcast.xml \t"}, {"SUPublicEDKey", "abc="}, {"CFBundleShortVersionString", "1.4.2"}};
    for (const auto& info : {configured, {{"SUFeedURL", "https://updates.example/a.xml"}, {"SUPublicEDKey", " \n "}},
                             {{"SUFeedURL", "not a url"}, {"SUPublicEDKey", "abc="}}, {{"SUFeedURL", ""}, {"SUPublicEDKey", ""}}, {}}) {
        const bool isConfigured = info == configured;
        SCOPED_TRACE(info.empty() ? "no keys" : info.at("SUFeedURL"));
        fakes::FakeBundle bundle("/Zorvane.app");
        bundle.info = info;
        auto updater = std::make_shared<fakes::FakeUpdater>();
        UpdateService service(bundle, updater);
        EXPECT_EQ(service.isConfigured(), isConfigured);
        EXPECT_EQ(updater->started, isConfigured);
        EXPECT_EQ(service.installedVersion(), isConfigured ? "1.4.2" : "Desarrollo");
        EXPECT_TRUE(!isConfigured || service.feedURL() == "https://updates.example/appcast.xml");

        int announcements = 0;
        service.addChangeObserver([&] {
            ++announcements;
            EXPECT_TRUE(service.automaticallyChecksForUpdates()); // a view reading it sees the new value
        });
        service.setAutomaticallyChecksForUpdates(true);
        service.setAutomaticallyDownloadsUpdates(true);
        EXPECT_EQ(service.automaticallyChecksForUpdates(), isConfigured);
        EXPECT_EQ(updater->checksAutomatically, isConfigured);
        EXPECT_EQ(announcements, isConfigured ? 2 : 0);
        service.checkForUpdates();
        updater->canCheck = false;
        service.checkForUpdates();
        EXPECT_EQ(updater->checks, isConfigured ? 1 : 0);
    }
}
