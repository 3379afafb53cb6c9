// The host manifests, written for real under a temporary home: the browsers read them byte for
// byte, and a wrong path or origin means web selection silently never works.

#include "app/bridge/BrowserBridgeInstaller.h"
#include "fakes/FakeBundle.h"
#include "fakes/TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sodium.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace zorvane {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path)
{
    std::stringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

void writeFile(const fs::path& path, const std::string& contents, fs::perms permissions = fs::perms::owner_all)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << contents;
    fs::permissions(path, permissions);
}

std::vector<fs::path> manifests(const fs::path& config)
{
    std::vector<fs::path> paths;
    for (const char* browser : {"google-chrome", "chromium", "microsoft-edge", "BraveSoftware/Brave-Browser"})
        paths.push_back(config / browser / "NativeMessagingHosts/com.quenvar.zorvane.json");
    return paths;
}

class BrowserBridgeInstallerTest : public ::testing::Test {
protected:
    fakes::TemporaryDirectory temporary;
    fs::path home = temporary / "home";
    // Slashes, a space and non-ASCII text in the bundle's path, as users' folders have.
    fakes::FakeBundle bundle {temporary / "Mis Apps/Zorvane ñ.app"};
    fs::path host = bundle.executablesPath() / "ZorvaneBrowserHost";
    BrowserBridgeInstaller installer {bundle, home};

    void SetUp() override { writeFile(host, "#!/bin/sh\n"); }
};

TEST_F(BrowserBridgeInstallerTest, WritesTheExactManifestIntoEveryBrowserFolder)
{
    // An old manifest pointing elsewhere, unreadable to the browser, is replaced.
    writeFile(manifests(home / ".config")[1], R"({"path":"/old/ZorvaneBrowserHost"})", fs::perms::owner_read);
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
    for (const fs::path& manifest : manifests(home / ".config")) {
        EXPECT_EQ(readFile(manifest), expected) << manifest;
        EXPECT_NE(fs::status(manifest).permissions() & fs::perms::others_read, fs::perms::none) << manifest;
        // No temporary files left behind beside the manifest.
        const fs::directory_iterator folder(manifest.parent_path());
        EXPECT_EQ(std::distance(fs::begin(folder), fs::end(folder)), 1) << manifest;
    }
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

TEST(BrowserBridgeInstallerText, PathsWithQuotesAndBackslashesSurviveTheRoundTrip)
{
    for (const std::string path : {"/opt/a \"b\"/c\\d/ZorvaneBrowserHost", "/tmp/tab\there/ZorvaneBrowserHost"})
        EXPECT_EQ(nlohmann::json::parse(BrowserBridgeInstaller::manifestText(path))["path"], path);
    EXPECT_THROW(BrowserBridgeInstaller::manifestText("/tmp/\xFF/ZorvaneBrowserHost"), std::system_error);
}

TEST(BrowserBridgeInstallerUser, FollowsTheBrowsersConfigurationFolder)
{
    fakes::TemporaryDirectory temporary;
    fakes::FakeBundle bundle(temporary / "Zorvane.app");
    writeFile(bundle.executablesPath() / "ZorvaneBrowserHost", "");
    std::map<std::string, std::optional<std::string>> saved;
    for (const char* name : {"HOME", "XDG_CONFIG_HOME"})
        saved[name] = std::getenv(name) ? std::optional<std::string>(std::getenv(name)) : std::nullopt;

    ::setenv("HOME", (temporary / "home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (temporary / "config").c_str(), 1);
    BrowserBridgeInstaller::forCurrentUser(bundle).install();
    // A relative one is ignored, as the browsers ignore it.
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);
    BrowserBridgeInstaller::forCurrentUser(bundle).install();
    for (const auto& [name, value] : saved) value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());

    for (const fs::path& manifest : manifests(temporary / "config")) EXPECT_TRUE(fs::exists(manifest)) << manifest;
    for (const fs::path& manifest : manifests(temporary / "home/.config")) EXPECT_TRUE(fs::exists(manifest)) << manifest;
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
