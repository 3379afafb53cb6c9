#include "app/bridge/BrowserBridgeInstaller.h"
#include "app/platform/linux/LinuxBundle.h"
#include "app/system/UpdateService.h"
#include "fakes/CodexSandbox.h"
#include "fakes/FakeSystem.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

using namespace zorvane;
using fakes::readFile;

namespace {

// Runs a shell command line; its status, and what it wrote on both outputs.
std::pair<int, std::string> run(const std::string& line, const fakes::CodexSandbox& sandbox)
{
    const int raw = std::system((line + " >'" + sandbox.file("output").string() + "' 2>&1").c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(sandbox.file("output"))};
}

} // namespace

// The package built from this very build, unpacked into a throw-away root as dpkg would install it.
TEST(DebianPackage, InstallsAProgramThatAnswersFindsItsDataAndIsRegisteredWithTheDesktopAndTheBrowsers)
{
    fakes::CodexSandbox sandbox;
    const std::string out = sandbox.file("out").string(), root = sandbox.file("root").string();
    auto [status, text] = run("cd '" ZORVANE_BUILD_DIR "' && '" ZORVANE_CPACK "' -G DEB -B '" + out + "'", sandbox);
    ASSERT_EQ(status, 0) << text;
    const std::string deb = out + "/zorvane_" ZORVANE_PROJECT_VERSION "_amd64.deb";
    std::tie(status, text) = run("dpkg-deb -x '" + deb + "' '" + root + "' && dpkg-deb -f '" + deb + "' Depends", sandbox);
    ASSERT_EQ(status, 0) << text;
    EXPECT_NE(text.find("libqt6widgets6"), std::string::npos) << "the libraries it links are not among its dependencies: " << text;
    EXPECT_NE(text.find("qt6-qpa-plugins"), std::string::npos) << text;

    // The installed command asks the user's codex (a fake in ~/.local/bin) from a clean environment.
    sandbox.installFakeCodex(fakes::CodexSandbox::signedInStatus(), "printf 'Hola desde Codex' > \"$answer\"", true,
                             sandbox.homeCodex());
    std::tie(status, text) = run("cd / && env -i PATH=/usr/bin:/bin HOME='" + sandbox.home().string() + "' TMPDIR='"
                                     + sandbox.temporaryDirectory().string() + "' '" + root + "/usr/bin/zorvane' --ask hola",
                                 sandbox);
    EXPECT_EQ(status, 0) << text;
    EXPECT_EQ(text, "Hola desde Codex\n");

    // What the desktop reads: valid for the tools the desktops use.
    std::tie(status, text) = run("desktop-file-validate '" + root + "/usr/share/applications/com.quenvar.Zorvane.desktop'", sandbox);
    EXPECT_EQ(status, 0) << text;
    EXPECT_EQ(text, "");
    std::tie(status, text) = run("appstreamcli validate --no-net '" + root + "/usr/share/metainfo/com.quenvar.Zorvane.metainfo.xml'", sandbox);
    EXPECT_EQ(status, 0) << text;
    EXPECT_TRUE(std::filesystem::exists(root + "/usr/share/icons/hicolor/48x48/apps/com.quenvar.Zorvane.png"));

    // The program's own view of the installed copy: its data, its host, updates left to apt.
    const auto installed = linux_platform::LinuxBundle::installed(root + "/usr");
    EXPECT_TRUE(std::filesystem::exists(installed.resourcesPath() / "BrowserExtension/manifest.json"));
    EXPECT_TRUE(std::filesystem::exists(installed.resourcesPath() / "ZorvaneMenuTemplate.png"));
    EXPECT_EQ(installed.infoValue("CFBundleShortVersionString"), ZORVANE_PROJECT_VERSION);
    const UpdateService updates(installed, std::make_shared<fakes::FakeUpdater>());
    EXPECT_TRUE(updates.updatedByPackageManager());
    EXPECT_FALSE(updates.isConfigured());

    // Each browser's system-wide manifest names the installed host, byte for byte as the program writes it.
    const auto host = installed.executablesPath() / std::string(BrowserBridgeInstaller::hostExecutableName);
    EXPECT_EQ(::access(host.c_str(), X_OK), 0);
    for (const char* folder : {"/etc/chromium", "/etc/opt/chrome", "/etc/opt/edge"}) {
        EXPECT_EQ(readFile(root + folder + "/native-messaging-hosts/com.quenvar.zorvane.json"),
                  BrowserBridgeInstaller::manifestText("/usr/lib/zorvane/ZorvaneBrowserHost"))
            << folder;
    }
}
