#include "app/platform/linux/desktop/XdgLoginItem.h"

#include "app/platform/linux/desktop/DesktopEntryFile.h"

namespace zorvane::linux_platform {
namespace {

bool isHidden(const std::map<std::string, std::string>& keys)
{
    const auto hidden = keys.find("Hidden");
    return hidden != keys.end() && hidden->second == "true";
}

} // namespace

XdgLoginItem::XdgLoginItem(std::filesystem::path program, std::filesystem::path autostartFolder)
    : program_(std::move(program)), folder_(std::move(autostartFolder))
{
}

std::filesystem::path XdgLoginItem::defaultAutostartFolder()
{
    return DesktopEntryFile::configHome() / "autostart";
}

LoginItem::Status XdgLoginItem::status()
{
    const auto keys = DesktopEntryFile::readMainGroup(entryPath());
    if (!keys || isHidden(*keys)) return Status::notRegistered;
    const auto exec = keys->find("Exec");
    if (exec == keys->end()) return Status::notRegistered;
    const auto program = DesktopEntryFile::execProgram(exec->second);
    return program && std::filesystem::path(*program) == program_ ? Status::enabled : Status::notRegistered;
}

void XdgLoginItem::registerItem()
{
    const std::string content = "[Desktop Entry]\n"
                                "Type=Application\n"
                                "Name=Zorvane\n"
                                "Comment=Pregunta sobre cualquier cosa en tu pantalla\n"
                                "Exec="
        + DesktopEntryFile::quotedExecArgument(program_.string())
        + "\n"
          "Icon=com.quenvar.Zorvane\n"
          "Terminal=false\n"
          "X-GNOME-Autostart-enabled=true\n";
    DesktopEntryFile::writeAtomically(
        entryPath(), content, "No se pudo crear la entrada de inicio automático en " + folder_.string());
}

void XdgLoginItem::unregisterItem()
{
    DesktopEntryFile::remove(entryPath(), "No se pudo quitar la entrada de inicio automático de " + folder_.string());
}

bool XdgLoginItem::refreshIfEnabled()
{
    const auto keys = DesktopEntryFile::readMainGroup(entryPath());
    if (!keys || isHidden(*keys) || status() == Status::enabled) return false;
    registerItem();
    return true;
}

} // namespace zorvane::linux_platform
