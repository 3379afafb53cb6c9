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

LauncherEntry::LauncherEntry(std::filesystem::path program, std::filesystem::path iconFolder, std::filesystem::path dataHome)
    : program_(std::move(program)), iconFolder_(std::move(iconFolder)), dataHome_(std::move(dataHome))
{
}

std::filesystem::path LauncherEntry::defaultDataHome() { return DesktopEntryFile::dataHome(); }

void LauncherEntry::install() const
{
    const std::filesystem::path hicolor = dataHome_ / "icons" / "hicolor";
    for (int size : {16, 32, 48, 128}) {
        const auto png = readFile(iconFolder_ / ("icon" + std::to_string(size) + ".png"));
        if (!png) continue;
        const std::string dimension = std::to_string(size) + "x" + std::to_string(size);
        writeIfChanged(hicolor / dimension / "apps" / (std::string(iconName) + ".png"), *png,
            "No se pudo instalar el icono de Zorvane en " + hicolor.string());
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
          "\n"
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

} // namespace zorvane::linux_platform
