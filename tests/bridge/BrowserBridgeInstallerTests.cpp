// The host manifests, written for real under a temporary home: the browsers read them byte for
// byte, and a wrong path or origin means web selection silently never works.

#include "app/bridge/BrowserBridgeInstaller.h"
#include "fakes/FakeBundle.h"
#include "fakes/TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sodium.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace zorvane {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeFile(const fs::path& path, const std::string& contents, fs::perms permissions)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << contents;
    fs::permissions(path, permissions);
}

const fs::perms executable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec;

std::vector<fs::path> browserFolders(const fs::path& config)
{
    return {config / "google-chrome/NativeMessagingHosts", config / "chromium/NativeMessagingHosts",
            config / "microsoft-edge/NativeMessagingHosts", config / "BraveSoftware/Brave-Browser/NativeMessagingHosts"};
}

class BrowserBridgeInstallerTest : public ::testing::Test {
protected:
    fakes::TemporaryDirectory temporary;
    fs::path home = temporary / "home";
    // Slashes, a space and non-ASCII text in the bundle's path, as users' folders have.
    fakes::FakeBundle bundle {temporary / "Mis Apps/Zorvane ñ.app"};
    fs::path host = bundle.executablesPath() / "ZorvaneBrowserHost";
    BrowserBridgeInstaller installer {bundle, home};

    void SetUp() override { writeFile(host, "#!/bin/sh\n", executable); }
};

TEST_F(BrowserBridgeInstallerTest, WritesTheExactManifestIntoEveryBrowserFolder)
{
    installer.install();

    std::string escapedHost;
    for (const char c : host.string()) escapedHost += c == '/' ? std::string("\\/") : std::string(1, c);
    const std::string expected = "{\n"
                                 "  \"allowed_origins\" : [\n"
                                 "    \"chrome-extension:\\/\\/mdclfcdboeglgnlhajcabdbhofpffcmi\\/\"\n"
                                 "  ],\n"
                                 "  \"description\" : \"Zorvane browser bridge\",\n"
                                 "  \"name\" : \"com.quenvar.zorvane\",\n"
                                 "  \"path\" : \""
        + escapedHost + "\",\n"
                        "  \"type\" : \"stdio\"\n"
                        "}";
    for (const fs::path& folder : browserFolders(home / ".config")) {
        SCOPED_TRACE(folder.string());
        const std::string written = readFile(folder / "com.quenvar.zorvane.json");
        EXPECT_EQ(written, expected);
        // What a browser's JSON reader makes of it.
        const auto manifest = nlohmann::json::parse(written);
        EXPECT_EQ(manifest["path"], host.string());
        EXPECT_EQ(manifest["allowed_origins"][0], "chrome-extension://mdclfcdboeglgnlhajcabdbhofpffcmi/");
    }
}

TEST_F(BrowserBridgeInstallerTest, RunningAgainLeavesTheSameFilesAndNothingElse)
{
    installer.install();
    const std::string first = readFile(browserFolders(home / ".config")[0] / "com.quenvar.zorvane.json");
    installer.install();
    for (const fs::path& folder : browserFolders(home / ".config")) {
        EXPECT_EQ(readFile(folder / "com.quenvar.zorvane.json"), first);
        // No temporary files left behind beside the manifest.
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << folder;
    }
}

TEST_F(BrowserBridgeInstallerTest, ReplacesAnOldManifestPointingElsewhere)
{
    const fs::path old = browserFolders(home / ".config")[1] / "com.quenvar.zorvane.json";
    writeFile(old, R"({"path":"/old/place/ZorvaneBrowserHost"})", fs::perms::owner_read | fs::perms::owner_write);
    installer.install();
    EXPECT_EQ(nlohmann::json::parse(readFile(old))["path"], host.string());
    EXPECT_TRUE((fs::status(old).permissions() & fs::perms::others_read) != fs::perms::none);
}

TEST_F(BrowserBridgeInstallerTest, AMissingOrUnrunnableHostWritesNothing)
{
    for (const bool present : {false, true}) {
        SCOPED_TRACE(present ? "not executable" : "missing");
        fs::remove(host);
        if (present) writeFile(host, "#!/bin/sh\n", fs::perms::owner_read | fs::perms::owner_write);
        try {
            installer.install();
            ADD_FAILURE() << "install() succeeded";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
        }
        EXPECT_FALSE(fs::exists(home));
    }
}

TEST_F(BrowserBridgeInstallerTest, StopsAtTheFirstFolderThatCannotBeMade)
{
    const auto folders = browserFolders(home / ".config");
    writeFile(home / ".config/chromium", "a file where a folder belongs", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_THROW(installer.install(), std::system_error);
    EXPECT_TRUE(fs::exists(folders[0] / "com.quenvar.zorvane.json"));
    EXPECT_FALSE(fs::exists(folders[2]));
    EXPECT_FALSE(fs::exists(folders[3]));
}

TEST(BrowserBridgeInstallerText, PathsWithQuotesAndBackslashesSurviveTheRoundTrip)
{
    for (const std::string& path : std::vector<std::string> {"/opt/a \"b\"/c\\d/ZorvaneBrowserHost", "/tmp/tab\there/ZorvaneBrowserHost"}) {
        EXPECT_EQ(nlohmann::json::parse(BrowserBridgeInstaller::manifestText(path))["path"], path);
    }
    EXPECT_THROW(BrowserBridgeInstaller::manifestText("/tmp/\xFF/ZorvaneBrowserHost"), std::system_error);
}

TEST(BrowserBridgeInstallerUser, FollowsTheBrowsersConfigurationFolder)
{
    fakes::TemporaryDirectory temporary;
    fakes::FakeBundle bundle(temporary / "Zorvane.app");
    writeFile(bundle.executablesPath() / "ZorvaneBrowserHost", "", executable);
    const auto previous = [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
    const auto savedHome = previous("HOME"), savedConfig = previous("XDG_CONFIG_HOME");
    const auto restore = [&] {
        savedHome ? ::setenv("HOME", savedHome->c_str(), 1) : ::unsetenv("HOME");
        savedConfig ? ::setenv("XDG_CONFIG_HOME", savedConfig->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    };

    ::setenv("HOME", (temporary / "home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (temporary / "config").c_str(), 1);
    BrowserBridgeInstaller::forCurrentUser(bundle).install();
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    BrowserBridgeInstaller::forCurrentUser(bundle).install();
    restore();

    for (const fs::path& folder : browserFolders(temporary / "config")) EXPECT_TRUE(fs::exists(folder / "com.quenvar.zorvane.json"));
    for (const fs::path& folder : browserFolders(temporary / "home/.config")) EXPECT_TRUE(fs::exists(folder / "com.quenvar.zorvane.json"));
}

TEST(BrowserBridgeInstallerExtension, TheShippedExtensionHasTheAllowedID)
{
    // The browser derives the ID from the manifest's key; if they part, the host refuses it.
    const auto manifest = nlohmann::json::parse(readFile(fs::path(ZORVANE_TEST_SOURCE_DIR) / "resources/BrowserExtension/manifest.json"));
    const std::string key = manifest.at("key");
    std::vector<unsigned char> der(key.size());
    std::size_t length = 0;
    ASSERT_EQ(sodium_base642bin(der.data(), der.size(), key.data(), key.size(), nullptr, &length, nullptr,
                                sodium_base64_VARIANT_ORIGINAL),
              0);
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, der.data(), length);
    std::string id;
    for (int i = 0; i < 16; ++i) {
        id += static_cast<char>('a' + (digest[i] >> 4));
        id += static_cast<char>('a' + (digest[i] & 0xF));
    }
    EXPECT_EQ(id, BrowserBridgeInstaller::extensionID);
    const auto& permissions = manifest.at("permissions");
    EXPECT_NE(std::find(permissions.begin(), permissions.end(), "nativeMessaging"), permissions.end());
}

} // namespace
} // namespace zorvane
