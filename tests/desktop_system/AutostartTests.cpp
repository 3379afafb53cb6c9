#include "app/platform/linux/desktop/DesktopEntryFile.h"
#include "app/platform/linux/desktop/LauncherEntry.h"
#include "app/platform/linux/desktop/XdgLoginItem.h"
#include "app/system/LaunchAtLoginService.h"
#include "fakes/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace zorvane;
using namespace zorvane::linux_platform;

namespace {

std::string readAll(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeText(const std::filesystem::path& file, const std::string& text)
{
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

} // namespace

// Switching start-at-login on and off as the settings toggle does, with a program path that needs
// quoting, a hand-disabled entry and a moved bundle.
TEST(Autostart, EntryIsWrittenFoundEnabledAndRemoved)
{
    fakes::TemporaryDirectory home;
    const std::filesystem::path program = home / "Mis Apps/Zorvane \"beta\" $1.app/Contents/MacOS/Zorvane";
    const std::filesystem::path folder = home / "config/autostart";
    auto item = std::make_shared<XdgLoginItem>(program, folder);
    LaunchAtLoginService service(item);

    EXPECT_FALSE(service.isEnabled());
    service.setEnabled(true);
    EXPECT_TRUE(service.isEnabled());
    const std::string entry = readAll(folder / "com.quenvar.Zorvane.desktop");
    EXPECT_NE(entry.find("[Desktop Entry]\nType=Application\n"), std::string::npos);
    EXPECT_EQ(DesktopEntryFile::execProgram(DesktopEntryFile::quotedExecArgument(program.string())), program.string());

    // Another copy of Zorvane does not see this entry as its own.
    EXPECT_EQ(XdgLoginItem(home / "other/Zorvane", folder).status(), LoginItem::Status::notRegistered);

    // A desktop's "disable" marks the entry Hidden; that counts as off and enabling rewrites it.
    writeText(folder / "com.quenvar.Zorvane.desktop", entry + "Hidden=true\n");
    EXPECT_FALSE(service.isEnabled());
    EXPECT_FALSE(item->refreshIfEnabled());
    service.setEnabled(true);
    EXPECT_TRUE(service.isEnabled());

    // The bundle moved: the entry is pointed at the new place at start.
    XdgLoginItem moved(home / "moved/Zorvane.app/Contents/MacOS/Zorvane", folder);
    EXPECT_EQ(moved.status(), LoginItem::Status::notRegistered);
    EXPECT_TRUE(moved.refreshIfEnabled());
    EXPECT_EQ(moved.status(), LoginItem::Status::enabled);
    EXPECT_FALSE(moved.refreshIfEnabled());

    LaunchAtLoginService movedService(std::make_shared<XdgLoginItem>(moved));
    movedService.setEnabled(false);
    EXPECT_FALSE(std::filesystem::exists(folder / "com.quenvar.Zorvane.desktop"));
    EXPECT_FALSE(movedService.isEnabled());
    EXPECT_NO_THROW(movedService.setEnabled(false));
    // No temporary files are left behind.
    EXPECT_TRUE(std::filesystem::is_empty(folder));
}

TEST(Autostart, AFolderThatCannotBeWrittenGivesASpanishReason)
{
    fakes::TemporaryDirectory home;
    struct Case {
        std::filesystem::path folder;
        std::string reason;
    };
    std::vector<Case> cases;
    writeText(home / "config", "not a folder");
    cases.push_back({home / "config/autostart", "una parte de la ruta no es una carpeta"});
    if (::geteuid() != 0) { // root writes anywhere
        std::filesystem::create_directories(home / "locked/autostart");
        ::chmod((home / "locked/autostart").c_str(), 0500);
        cases.push_back({home / "locked/autostart", "no hay permiso para escribir ahí"});
    }
    for (const auto& c : cases) {
        XdgLoginItem item(home / "Zorvane.app/Contents/MacOS/Zorvane", c.folder);
        try {
            item.registerItem();
            ADD_FAILURE() << "no error for " << c.folder;
        } catch (const std::system_error& error) {
            EXPECT_EQ(std::string(error.what()),
                "No se pudo crear la entrada de inicio automático en " + c.folder.string() + ": " + c.reason);
        }
        EXPECT_EQ(item.status(), LoginItem::Status::notRegistered);
    }
}

TEST(LauncherEntryFile, InstallsTheMenuEntryAndTheIconsForThisBundle)
{
    fakes::TemporaryDirectory home;
    const std::filesystem::path icons = home / "Resources/icons";
    writeText(icons / "icon48.png", "png48");
    writeText(icons / "icon128.png", "png128");
    const std::filesystem::path program = home / "Zorvane 2.app/Contents/MacOS/Zorvane";

    LauncherEntry(program, icons, home / "share").install();
    LauncherEntry(program, icons, home / "share").install(); // at every start: same result

    EXPECT_EQ(readAll(home / "share/icons/hicolor/128x128/apps/com.quenvar.Zorvane.png"), "png128");
    EXPECT_EQ(readAll(home / "share/icons/hicolor/48x48/apps/com.quenvar.Zorvane.png"), "png48");
    EXPECT_FALSE(std::filesystem::exists(home / "share/icons/hicolor/16x16"));
    const auto keys = DesktopEntryFile::readMainGroup(home / "share/applications/com.quenvar.Zorvane.desktop");
    ASSERT_TRUE(keys);
    EXPECT_EQ(keys->at("Name"), "Zorvane");
    EXPECT_EQ(keys->at("Icon"), "com.quenvar.Zorvane");
    EXPECT_EQ(DesktopEntryFile::execProgram(keys->at("Exec")), program.string());
    const std::string entry = readAll(home / "share/applications/com.quenvar.Zorvane.desktop");
    EXPECT_NE(entry.find("Exec=\"" + program.string() + "\" --settings\n"), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home / "share/applications"), {}), 1);
}
