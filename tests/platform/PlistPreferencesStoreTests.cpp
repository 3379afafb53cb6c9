#include "app/core/Defaults.h"
#include "app/platform/linux/PlistPreferencesStore.h"
#include "fakes/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <thread>

using namespace zorvane;
using linux_platform::PlistPreferencesStore;

namespace {

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace

TEST(PlistPreferencesStore, EveryValueTypeSurvivesARestart)
{
    fakes::TemporaryDirectory dir;
    const auto file = dir / "config/zorvane/preferences.plist";
    {
        UserDefaults d(std::make_shared<PlistPreferencesStore>(file));
        d.setBool("activationEnabled", false);
        d.setDouble("motionThreshold", 1234.5);
        d.setInteger("onboardingVersion", 1);
        d.setInteger("negative", -7);
        d.setString("aiResponseMode", "thinking");
        d.setString("texto", "ñandú <&> \"comillas\"");
    }
    UserDefaults again(std::make_shared<PlistPreferencesStore>(file));
    EXPECT_FALSE(again.boolForKey("activationEnabled"));
    EXPECT_TRUE(again.hasStoredValue("activationEnabled"));
    EXPECT_EQ(again.doubleForKey("motionThreshold"), 1234.5);
    EXPECT_EQ(again.integerForKey("onboardingVersion"), 1);
    EXPECT_EQ(again.integerForKey("negative"), -7);
    EXPECT_EQ(again.stringForKey("aiResponseMode"), "thinking");
    EXPECT_EQ(again.stringForKey("texto"), "ñandú <&> \"comillas\"");

    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Only the file itself: no temporary left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()), {}), 1);
}

TEST(PlistPreferencesStore, AnUnreadableFileIsKeptAsideAndDefaultsApply)
{
    fakes::TemporaryDirectory dir;
    const auto file = dir / "preferences.plist";
    const std::string garbage = "<?xml version=\"1.0\"?><plist><dict><key>motionThreshold</key><real>12";
    writeFile(file, garbage);

    UserDefaults d(std::make_shared<PlistPreferencesStore>(file));
    Defaults::registerDefaults(d);
    EXPECT_EQ(d.doubleForKey(Defaults::motionThreshold), 2200.0);
    EXPECT_EQ(readFile(dir / "preferences.plist.corrupt"), garbage);

    // A second bad file does not replace the first one kept aside.
    writeFile(file, "not a property list");
    PlistPreferencesStore(file).load();
    EXPECT_EQ(readFile(dir / "preferences.plist.corrupt"), garbage);
    EXPECT_EQ(readFile(dir / "preferences.plist.corrupt.1"), "not a property list");
}

TEST(PlistPreferencesStore, ARootThatIsNotADictionaryCountsAsUnreadable)
{
    fakes::TemporaryDirectory dir;
    const auto file = dir / "preferences.plist";
    writeFile(file, "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>x</string></array></plist>");
    EXPECT_TRUE(PlistPreferencesStore(file).load().empty());
    EXPECT_TRUE(std::filesystem::exists(dir / "preferences.plist.corrupt"));
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST(PlistPreferencesStore, AFailedSaveLeavesTheStoredFileIntact)
{
    fakes::TemporaryDirectory dir;
    const auto file = dir / "preferences.plist";
    PlistPreferencesStore store(file);
    store.save({{"voiceEnabled", false}});
    const std::string before = readFile(file);

    // A disk that fills up mid-write, by a file-size limit (which binds root too), in a child.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit {64, 64};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            store.save({{"voiceEnabled", true}, {"padding", std::string(4096, 'x')}});
        } catch (const std::system_error&) {
            ::_exit(0);
        }
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the failed save was not reported";
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "a temporary file was left behind";
}

TEST(PlistPreferencesStore, ConcurrentWritersNeverInterleaveAFile)
{
    fakes::TemporaryDirectory dir;
    const auto file = dir / "preferences.plist";
    UserDefaults d(std::make_shared<PlistPreferencesStore>(file));
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) d.setString("writer" + std::to_string(t), std::string(200 + i, 'a' + t));
        });
    }
    for (auto& w : writers) w.join();
    UserDefaults reread(std::make_shared<PlistPreferencesStore>(file));
    for (int t = 0; t < 4; ++t) EXPECT_EQ(reread.stringForKey("writer" + std::to_string(t)), std::string(224, 'a' + t));
    EXPECT_FALSE(std::filesystem::exists(dir / "preferences.plist.corrupt"));
}

TEST(PlistPreferencesStore, DefaultLocationFollowsXdgConfigHome)
{
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = oldXdg ? oldXdg : "";
    ::setenv("XDG_CONFIG_HOME", "/tmp/xdg-elsewhere", 1);
    EXPECT_EQ(PlistPreferencesStore::defaultPath(), "/tmp/xdg-elsewhere/zorvane/preferences.plist");
    ::unsetenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    EXPECT_EQ(PlistPreferencesStore::defaultPath(), std::filesystem::path(home ? home : "/") / ".config/zorvane/preferences.plist");
    if (oldXdg) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}
