#include "app/core/Defaults.h"
#include "app/platform/linux/LinuxBundle.h"
#include "app/platform/linux/PlistPreferencesStore.h"
#include "fakes/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <thread>

using namespace zorvane;
using linux_platform::LinuxBundle;
using linux_platform::PlistPreferencesStore;

namespace {

std::size_t entries(const std::filesystem::path& folder)
{
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

} // namespace

TEST(PlistPreferencesStore, EveryValueTypeSurvivesARestartInAPrivateFile)
{
    fakes::TemporaryDirectory dir;
    const auto file = dir / "config/zorvane/preferences.plist";
    {
        UserDefaults d(std::make_shared<PlistPreferencesStore>(file));
        d.setBool("activationEnabled", false);
        d.setDouble("motionThreshold", 1234.5);
        d.setInteger("negative", -7);
        d.setString("texto", "ñandú <&> \"comillas\"");
    }
    UserDefaults again(std::make_shared<PlistPreferencesStore>(file));
    EXPECT_TRUE(again.hasStoredValue("activationEnabled"));
    EXPECT_FALSE(again.boolForKey("activationEnabled"));
    EXPECT_EQ(again.doubleForKey("motionThreshold"), 1234.5);
    EXPECT_EQ(again.integerForKey("negative"), -7);
    EXPECT_EQ(again.stringForKey("texto"), "ñandú <&> \"comillas\"");
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(entries(file.parent_path()), 1u) << "a temporary file was left beside it";
}

TEST(PlistPreferencesStore, AnUnreadableFileIsKeptAsideNeverOverwrittenAndDefaultsApply)
{
    fakes::TemporaryDirectory dir;
    const auto file = dir / "preferences.plist";
    const std::string garbage = "<?xml version=\"1.0\"?><plist><dict><key>motionThreshold</key><real>12";
    const std::string notADictionary = "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array></plist>";
    std::ofstream(file) << garbage;
    UserDefaults d(std::make_shared<PlistPreferencesStore>(file));
    Defaults::registerDefaults(d);
    EXPECT_EQ(d.doubleForKey(Defaults::motionThreshold), 2200.0);

    std::ofstream(file) << notADictionary;
    EXPECT_TRUE(PlistPreferencesStore(file).load().empty());
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(fakes::readFile(dir / "preferences.plist.corrupt"), garbage);
    EXPECT_EQ(fakes::readFile(dir / "preferences.plist.corrupt.1"), notADictionary);
}

TEST(PlistPreferencesStore, ConcurrentWritersNeverInterleaveAFile)
{
    fakes::TemporaryDirectory dir;
    const auto file = dir / "preferences.plist";
    UserDefaults d(std::make_shared<PlistPreferencesStore>(file));
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) d.setString("writer" + std::to_string(t), std::string(200 + i, 'a' + t));
        });
    for (auto& w : writers) w.join();
    UserDefaults reread(std::make_shared<PlistPreferencesStore>(file));
    for (int t = 0; t < 4; ++t) EXPECT_EQ(reread.stringForKey("writer" + std::to_string(t)), std::string(224, 'a' + t));
    EXPECT_EQ(entries(dir.path()), 1u) << "the file was found unreadable or a temporary was left";
}

TEST(LinuxBundle, TheBuiltBundleCarriesTheProjectVersionAndEmptyUpdateKeysAndABrokenOneNone)
{
    LinuxBundle bundle(ZORVANE_BUILT_BUNDLE);
    EXPECT_EQ(bundle.infoValue("CFBundleShortVersionString"), ZORVANE_PROJECT_VERSION);
    // Not configured by default: present but empty.
    EXPECT_EQ(bundle.infoValue("SUFeedURL"), "");
    EXPECT_EQ(bundle.infoValue("SUPublicEDKey"), "");
    EXPECT_TRUE(std::filesystem::is_directory(bundle.resourcesPath() / "BrowserExtension"));

    fakes::TemporaryDirectory dir;
    fakes::writeFile(dir / "Contents/Info.plist", "<plist><dict><key>CFBundleShortVersionString");
    EXPECT_FALSE(LinuxBundle(dir.path()).infoValue("CFBundleShortVersionString"));
}
