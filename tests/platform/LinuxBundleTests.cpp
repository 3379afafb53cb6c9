#include "app/platform/linux/LinuxBundle.h"
#include "fakes/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>

using zorvane::linux_platform::LinuxBundle;

TEST(LinuxBundle, TheBuiltBundleCarriesTheProjectVersionAndEmptyUpdateKeysAndABrokenOneNone)
{
    LinuxBundle bundle(ZORVANE_BUILT_BUNDLE);
    EXPECT_EQ(bundle.infoValue("CFBundleShortVersionString"), ZORVANE_PROJECT_VERSION);
    // Not configured by default: present but empty.
    EXPECT_EQ(bundle.infoValue("SUFeedURL"), "");
    EXPECT_EQ(bundle.infoValue("SUPublicEDKey"), "");
    EXPECT_TRUE(std::filesystem::is_directory(bundle.resourcesPath() / "BrowserExtension"));

    zorvane::fakes::TemporaryDirectory dir;
    zorvane::fakes::writeFile(dir / "Contents/Info.plist", "<plist><dict><key>CFBundleShortVersionString");
    EXPECT_FALSE(LinuxBundle(dir.path()).infoValue("CFBundleShortVersionString"));
}
