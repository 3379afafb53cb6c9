// The host manifests, written for real under a temporary home: a wrong path or origin means web
// selection silently never works.

#include "app/bridge/BrowserBridgeInstaller.h"
#include "fakes/FakeSystem.h"
#include "fakes/TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

namespace zorvane {
namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path& path, const std::string& contents, fs::perms permissions = fs::perms::owner_all)
{
    fakes::writeFile(path, contents);
    fs::permissions(path, permissions);
}

std::vector<fs::path> manifests(const fs::path& config)
{
    std::vector<fs::path> paths;
    for (const char* browser : {"google-chrome", "chromium", "microsoft-edge", "BraveSoftware/Brave-Browser"})
        paths.push_back(config / browser / "NativeMessagingHosts/com.quenvar.zorvane.json");
    return paths;
}

TEST(BrowserBridgeInstaller, WritesTheManifestIntoEveryBrowserFolderOnlyForARunnableHost)
{
    fakes::TemporaryDirectory temporary;
    const fs::path home = temporary / "home";
    // Slashes, a space and non-ASCII text in the bundle's path, as users' folders have.
    const fakes::FakeBundle bundle(temporary / "Mis Apps/Zorvane ñ.app");
    const fs::path host = bundle.executablesPath() / "ZorvaneBrowserHost";
    BrowserBridgeInstaller installer(bundle, home);

    // A missing or unrunnable host writes nothing.
    for (const bool present : {false, true}) {
        if (present) writeFile(host, "#!/bin/sh\n", fs::perms::owner_read | fs::perms::owner_write);
        try {
            installer.install();
            ADD_FAILURE() << "install() succeeded";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
        }
        EXPECT_FALSE(fs::exists(home));
    }

    // An old manifest pointing elsewhere, unreadable to the browser, is replaced.
    writeFile(host, "#!/bin/sh\n");
    writeFile(manifests(home / ".config")[1], R"({"path":"/old/ZorvaneBrowserHost"})", fs::perms::owner_read);
    installer.install();
    const nlohmann::json expected = {{"allowed_origins", {"chrome-extension://mdclfcdboeglgnlhajcabdbhofpffcmi/"}},
        {"description", "Zorvane browser bridge"}, {"name", "com.quenvar.zorvane"}, {"path", host.string()},
        {"type", "stdio"}};
    for (const fs::path& manifest : manifests(home / ".config")) {
        EXPECT_EQ(nlohmann::json::parse(fakes::readFile(manifest), nullptr, false), expected) << manifest;
        EXPECT_NE(fs::status(manifest).permissions() & fs::perms::others_read, fs::perms::none) << manifest;
        const fs::directory_iterator folder(manifest.parent_path());
        EXPECT_EQ(std::distance(fs::begin(folder), fs::end(folder)), 1) << manifest << ": something left beside it";
    }

    // Quotes, backslashes and tabs survive; a path that is not UTF-8 is refused.
    for (const std::string path : {"/opt/a \"b\"/c\\d/ZorvaneBrowserHost", "/tmp/tab\there/ZorvaneBrowserHost"})
        EXPECT_EQ(nlohmann::json::parse(BrowserBridgeInstaller::manifestText(path))["path"], path);
    EXPECT_THROW(BrowserBridgeInstaller::manifestText("/tmp/\xFF/ZorvaneBrowserHost"), std::system_error);
}

TEST(BrowserBridgeInstaller, FollowsTheBrowsersConfigurationFolder)
{
    fakes::TemporaryDirectory temporary;
    const fakes::FakeBundle bundle(temporary / "Zorvane.app");
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

} // namespace
} // namespace zorvane
