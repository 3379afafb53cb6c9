#include "app/platform/linux/wayland/GnomeShellExtension.h"

#include <gio/gio.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace zorvane {

namespace {

constexpr const char* shellSchema = "org.gnome.shell";

struct Unref {
    void operator()(gpointer p) const { g_object_unref(p); }
};

std::vector<std::string> enabled(GSettings* settings)
{
    gchar** all = g_settings_get_strv(settings, "enabled-extensions");
    std::vector<std::string> result;
    for (gchar** it = all; it && *it; ++it) result.emplace_back(*it);
    g_strfreev(all);
    return result;
}

void setEnabled(GSettings* settings, const std::vector<std::string>& list)
{
    std::vector<const gchar*> raw;
    for (const auto& s : list) raw.push_back(s.c_str());
    raw.push_back(nullptr);
    g_settings_set_strv(settings, "enabled-extensions", raw.data());
    g_settings_sync();
}

std::string contents(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Whether the folder holds the shipped files, each with the same bytes.
bool sameFiles(const std::filesystem::path& shipped, const std::filesystem::path& copy)
{
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(shipped, error); !error && it != std::filesystem::recursive_directory_iterator();
         it.increment(error)) {
        if (!it->is_regular_file()) continue;
        const auto other = copy / std::filesystem::relative(it->path(), shipped);
        if (!std::filesystem::is_regular_file(other) || contents(it->path()) != contents(other)) return false;
    }
    return !error;
}

std::unique_ptr<GSettings, Unref> shellSettings()
{
    return std::unique_ptr<GSettings, Unref>(g_settings_new(shellSchema));
}

} // namespace

GnomeShellExtension::GnomeShellExtension(std::filesystem::path shipped) : shipped_(std::move(shipped)) {}

bool GnomeShellExtension::isAvailable()
{
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema = source ? g_settings_schema_source_lookup(source, shellSchema, TRUE) : nullptr;
    if (schema) g_settings_schema_unref(schema);
    return schema != nullptr;
}

std::filesystem::path GnomeShellExtension::userFolder()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    const std::filesystem::path base = data && *data ? std::filesystem::path(data) : std::filesystem::path(home ? home : "") / ".local/share";
    return base / "gnome-shell" / "extensions";
}

bool GnomeShellExtension::installed() const
{
    std::error_code error;
    if (!std::filesystem::exists(userFolder() / uuid / "extension.js", error)) return false;
    const auto list = enabled(shellSettings().get());
    return std::find(list.begin(), list.end(), uuid) != list.end();
}

void GnomeShellExtension::install() const
{
    auto settings = shellSettings();
    // The user switched every extension off: turning them all back on is not ours to do.
    if (g_settings_get_boolean(settings.get(), "disable-user-extensions"))
        throw std::runtime_error("Las extensiones están desactivadas en GNOME: actívalas en la aplicación Extensiones y vuelve a intentarlo.");
    // What `gnome-extensions install --force` does with a packed copy: the folder, replaced.
    const auto target = userFolder() / uuid;
    std::error_code error;
    std::filesystem::remove_all(target, error);
    std::filesystem::create_directories(target, error);
    if (!error) std::filesystem::copy(shipped_, target, std::filesystem::copy_options::recursive, error);
    if (error) throw std::runtime_error("No se pudo copiar la extensión en la carpeta de extensiones de GNOME.");
    // And `gnome-extensions enable`, which a running GNOME Shell refuses for an extension it has
    // not read yet.
    auto list = enabled(settings.get());
    if (std::find(list.begin(), list.end(), uuid) == list.end()) list.push_back(uuid);
    setEnabled(settings.get(), list);
}

void GnomeShellExtension::replaceIfOther() const
{
    const auto target = userFolder() / uuid;
    std::error_code error;
    if (!std::filesystem::exists(target / "extension.js", error) || sameFiles(shipped_, target)) return;
    const auto staged = userFolder() / (std::string(uuid) + ".new");
    std::filesystem::remove_all(staged, error);
    std::filesystem::copy(shipped_, staged, std::filesystem::copy_options::recursive, error);
    if (!error) std::filesystem::remove_all(target, error);
    if (!error) std::filesystem::rename(staged, target, error);
    if (error) std::filesystem::remove_all(staged, error); // the old copy keeps working
}

void GnomeShellExtension::remove() const
{
    auto settings = shellSettings();
    auto list = enabled(settings.get());
    list.erase(std::remove(list.begin(), list.end(), uuid), list.end());
    setEnabled(settings.get(), list);
    std::error_code error;
    std::filesystem::remove_all(userFolder() / uuid, error);
}

} // namespace zorvane
