#include "app/platform/linux/desktop/XdgLoginItem.h"

#include "app/platform/linux/desktop/DesktopEntryFile.h"

namespace zorvane::linux_platform {

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
    if (!keys || !DesktopEntryFile::offSwitches(*keys).empty()) return Status::notRegistered;
    const auto exec = keys->find("Exec");
    if (exec == keys->end()) return Status::notRegistered;
    const auto program = DesktopEntryFile::execProgram(exec->second);
    return program && DesktopEntryFile::sameProgram(*program, program_) ? Status::enabled : Status::notRegistered;
}

void XdgLoginItem::registerItem() { write({}); }

void XdgLoginItem::write(const std::vector<std::string>& offSwitches)
{
    std::string content = "[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Zorvane\n"
                          "Comment=Pregunta sobre cualquier cosa en tu pantalla\n"
                          "Exec="
        + DesktopEntryFile::quotedExecArgument(program_.string())
        + "\n"
          "Icon=com.quenvar.Zorvane\n"
          "Terminal=false\n";
    if (offSwitches.empty()) content += "X-GNOME-Autostart-enabled=true\n";
    for (const auto& line : offSwitches) content += line + "\n";
    DesktopEntryFile::writeAtomically(
        entryPath(), content, "No se pudo crear la entrada de inicio automático en " + folder_.string());
}

void XdgLoginItem::unregisterItem()
{
    DesktopEntryFile::remove(entryPath(), "No se pudo quitar la entrada de inicio automático de " + folder_.string());
}

bool XdgLoginItem::followThisProgram()
{
    const auto keys = DesktopEntryFile::readMainGroup(entryPath());
    if (!keys) return false;
    const auto exec = keys->find("Exec");
    const auto named = exec == keys->end() ? std::nullopt : DesktopEntryFile::execProgram(exec->second);
    if (named && (DesktopEntryFile::sameProgram(*named, program_) || DesktopEntryFile::existingProgram(*keys))) return false;
    // The user's "off" is theirs: only the program changes.
    write(DesktopEntryFile::offSwitches(*keys));
    return true;
}

} // namespace zorvane::linux_platform
