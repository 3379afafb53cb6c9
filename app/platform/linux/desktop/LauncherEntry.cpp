#include "app/platform/linux/desktop/LauncherEntry.h"

#include "app/platform/linux/desktop/DesktopEntryFile.h"

#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace zorvane::linux_platform {
namespace {

std::optional<std::string> readFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeIfChanged(const std::filesystem::path& file, const std::string& content, const std::string& failureText)
{
    if (readFile(file) == content) return;
    DesktopEntryFile::writeAtomically(file, content, failureText);
}

} // namespace

LauncherEntry::LauncherEntry(std::filesystem::path program, std::filesystem::path iconFolder, std::filesystem::path dataHome,
    std::vector<std::filesystem::path> systemDataFolders)
    : program_(std::move(program))
    , iconFolder_(std::move(iconFolder))
    , dataHome_(std::move(dataHome))
    , systemDataFolders_(std::move(systemDataFolders))
{
}

std::filesystem::path LauncherEntry::defaultDataHome() { return DesktopEntryFile::dataHome(); }

std::optional<std::filesystem::path> LauncherEntry::installedProgram() const
{
    for (const auto& folder : systemDataFolders_) {
        std::error_code ec;
        if (std::filesystem::equivalent(folder, dataHome_, ec)) continue; // our own entry is no package's
        if (const auto keys = DesktopEntryFile::readMainGroup(folder / "applications" / entryName))
            return DesktopEntryFile::existingProgram(*keys); // the first one found is the one menus show
    }
    return std::nullopt;
}

bool LauncherEntry::ownsEntries(const std::filesystem::path& autostartEntry) const
{
    const auto startedBy = [](const std::filesystem::path& entry) -> std::optional<std::filesystem::path> {
        const auto keys = DesktopEntryFile::readMainGroup(entry);
        return keys ? DesktopEntryFile::existingProgram(*keys) : std::nullopt;
    };
    for (const auto& owner : {startedBy(autostartEntry), installedProgram(), startedBy(entryPath())})
        if (owner) return DesktopEntryFile::sameProgram(*owner, program_);
    return true;
}

void LauncherEntry::install() const
{
    const std::filesystem::path hicolor = dataHome_ / "icons" / "hicolor";
    const auto installed = installedProgram();
    const bool isInstalled = installed && DesktopEntryFile::sameProgram(*installed, program_);
    for (int size : {16, 32, 48, 128}) {
        const std::string dimension = std::to_string(size) + "x" + std::to_string(size);
        const std::filesystem::path icon = hicolor / dimension / "apps" / (std::string(iconName) + ".png");
        const auto png = readFile(iconFolder_ / ("icon" + std::to_string(size) + ".png"));
        if (isInstalled) {
            DesktopEntryFile::remove(icon, "No se pudo quitar el icono de Zorvane de " + hicolor.string());
        } else if (png) {
            writeIfChanged(icon, *png, "No se pudo instalar el icono de Zorvane en " + hicolor.string());
        }
    }
    // A menu editor hides the entry with these keys in this very file: the user's choice outlives
    // our rewrite, and in the installed copy keeps the package's entry hidden as well.
    std::string hiding;
    if (const auto keys = DesktopEntryFile::readMainGroup(entryPath())) {
        for (const char* key : {"NoDisplay", "Hidden"}) {
            const auto found = keys->find(key);
            if (found != keys->end() && found->second.substr(0, found->second.find_last_not_of(" \t") + 1) == "true")
                hiding += std::string(key) + "=true\n";
        }
    }
    if (isInstalled) {
        if (hiding.empty())
            DesktopEntryFile::remove(entryPath(),
                "No se pudo quitar la entrada de Zorvane del menú de aplicaciones de " + entryPath().parent_path().string());
        return;
    }

    const std::string exec = DesktopEntryFile::quotedExecArgument(program_.string());
    const std::string content = "[Desktop Entry]\n"
                                "Type=Application\n"
                                "Name=Zorvane\n"
                                "GenericName=Preguntas sobre la pantalla\n"
                                "Comment=Pregunta sobre cualquier cosa en tu pantalla\n"
                                "Exec="
        + exec
        + "\n"
          "Icon="
        + iconName
        + "\n"
          "Terminal=false\n"
          "Categories=Utility;\n"
          "Keywords=pantalla;captura;pregunta;Codex;\n"
          "StartupNotify=false\n"
          // KWin answers its screenshot interface only to programs whose entry lists it.
          "X-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\n"
          "Actions=select;settings;\n"
        + hiding
        + "\n"
          "[Desktop Action select]\n"
          "Name=Seleccionar en pantalla\n"
          "Exec="
        + exec
        + " --select\n"
          "\n"
          "[Desktop Action settings]\n"
          "Name=Ajustes\n"
          "Exec="
        + exec + " --settings\n";
    writeIfChanged(entryPath(), content,
        "No se pudo crear la entrada de Zorvane en el menú de aplicaciones en " + entryPath().parent_path().string());
}

bool refreshDesktopEntries(XdgLoginItem& autostart, const LauncherEntry& launcher)
{
    if (!launcher.ownsEntries(autostart.entryPath())) return false;
    try {
        autostart.followThisProgram();
    } catch (const std::system_error&) {
        // The old entry stays; the settings show the state the next time they read it.
    }
    try {
        launcher.install();
    } catch (const std::exception&) {
        // Without the entry Zorvane still runs; it is only missing from the application menu.
    }
    return true;
}

} // namespace zorvane::linux_platform
