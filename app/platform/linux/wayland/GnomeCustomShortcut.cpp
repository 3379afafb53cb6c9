#include "app/platform/linux/wayland/GnomeCustomShortcut.h"

#include <gio/gio.h>

#include <algorithm>
#include <memory>
#include <set>
#include <stdexcept>

namespace zorvane {

namespace {

constexpr const char* mediaKeysSchema = "org.gnome.settings-daemon.plugins.media-keys";
constexpr const char* customSchema = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
// Where GNOME keeps every other shortcut, to leave their keys alone.
constexpr const char* keybindingSchemas[] = {"org.gnome.desktop.wm.keybindings", "org.gnome.shell.keybindings",
    "org.gnome.mutter.keybindings", "org.gnome.mutter.wayland.keybindings", mediaKeysSchema};

struct Unref {
    void operator()(gpointer p) const { g_object_unref(p); }
};
using Settings = std::unique_ptr<GSettings, Unref>;

bool hasSchema(const char* id)
{
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema = source ? g_settings_schema_source_lookup(source, id, TRUE) : nullptr;
    if (schema) g_settings_schema_unref(schema);
    return schema != nullptr;
}

std::vector<std::string> strings(GSettings* settings, const char* key)
{
    std::vector<std::string> result;
    GVariant* value = g_settings_get_value(settings, key);
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING)) {
        result.emplace_back(g_variant_get_string(value, nullptr));
    } else if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING_ARRAY)) {
        gsize count = 0;
        const gchar** all = g_variant_get_strv(value, &count);
        result.assign(all, all + count);
        g_free(all);
    }
    g_variant_unref(value);
    return result;
}

Settings custom(const std::string& path) { return Settings(g_settings_new_with_path(customSchema, path.c_str())); }

// Every accelerator the desktop uses now, ours left out.
std::vector<std::string> acceleratorsInUse()
{
    std::vector<std::string> inUse;
    for (const char* id : keybindingSchemas) {
        if (!hasSchema(id)) continue;
        Settings settings(g_settings_new(id));
        GSettingsSchema* schema = nullptr;
        g_object_get(settings.get(), "settings-schema", &schema, nullptr);
        gchar** keys = g_settings_schema_list_keys(schema);
        for (gchar** key = keys; *key; ++key) {
            if (std::string(*key) == "custom-keybindings") continue;
            for (auto& value : strings(settings.get(), *key)) inUse.push_back(value);
        }
        g_strfreev(keys);
        g_settings_schema_unref(schema);
    }
    Settings mediaKeys(g_settings_new(mediaKeysSchema));
    for (const auto& path : strings(mediaKeys.get(), "custom-keybindings"))
        if (path != GnomeCustomShortcut::entryPath) inUse.push_back(strings(custom(path).get(), "binding").front());
    return inUse;
}

// Modifiers as a set and the key, lower-cased, so that "<Primary><Alt>Space" and
// "<Alt><Control>space" compare equal.
std::pair<std::set<std::string>, std::string> normalized(std::string accelerator)
{
    std::transform(accelerator.begin(), accelerator.end(), accelerator.begin(), [](unsigned char c) { return std::tolower(c); });
    std::set<std::string> modifiers;
    std::size_t at = 0;
    while (at < accelerator.size() && accelerator[at] == '<') {
        const std::size_t end = accelerator.find('>', at);
        if (end == std::string::npos) break;
        std::string modifier = accelerator.substr(at + 1, end - at - 1);
        if (modifier == "primary" || modifier == "ctrl" || modifier == "control") modifier = "control";
        modifiers.insert(modifier);
        at = end + 1;
    }
    return {modifiers, accelerator.substr(at)};
}

} // namespace

GnomeCustomShortcut::GnomeCustomShortcut(std::filesystem::path program) : program_(std::move(program)) {}

bool GnomeCustomShortcut::isAvailable() { return hasSchema(mediaKeysSchema) && hasSchema(customSchema); }

std::optional<std::string> GnomeCustomShortcut::installed() const
{
    if (!isAvailable()) return std::nullopt;
    Settings mediaKeys(g_settings_new(mediaKeysSchema));
    const auto paths = strings(mediaKeys.get(), "custom-keybindings");
    if (std::find(paths.begin(), paths.end(), entryPath) == paths.end()) return std::nullopt;
    return readable(strings(custom(entryPath).get(), "binding").front());
}

std::string GnomeCustomShortcut::install() const
{
    if (!isAvailable()) throw std::runtime_error("Este escritorio no guarda atajos de teclado de GNOME.");
    const auto keys = firstFree({"<Control><Alt>space", "<Control><Alt>z", "<Super><Alt>space"}, acceleratorsInUse());
    if (!keys)
        throw std::runtime_error("Ctrl+Alt+Espacio y las demás combinaciones que Zorvane propone ya están en uso. Crea el atajo en "
                                 "Configuración › Teclado › Atajos de teclado con la orden «Zorvane --select».");
    Settings entry = custom(entryPath);
    g_settings_set_string(entry.get(), "name", "Zorvane: seleccionar en pantalla");
    const std::string command = "'" + program_.string() + "' --select";
    g_settings_set_string(entry.get(), "command", command.c_str());
    g_settings_set_string(entry.get(), "binding", keys->c_str());
    Settings mediaKeys(g_settings_new(mediaKeysSchema));
    auto paths = strings(mediaKeys.get(), "custom-keybindings");
    if (std::find(paths.begin(), paths.end(), entryPath) == paths.end()) paths.emplace_back(entryPath);
    std::vector<const char*> list;
    for (auto& path : paths) list.push_back(path.c_str());
    list.push_back(nullptr);
    g_settings_set_strv(mediaKeys.get(), "custom-keybindings", list.data());
    g_settings_sync();
    return readable(*keys);
}

void GnomeCustomShortcut::remove() const
{
    if (!isAvailable()) return;
    Settings mediaKeys(g_settings_new(mediaKeysSchema));
    auto paths = strings(mediaKeys.get(), "custom-keybindings");
    std::erase(paths, std::string(entryPath));
    std::vector<const char*> list;
    for (auto& path : paths) list.push_back(path.c_str());
    list.push_back(nullptr);
    g_settings_set_strv(mediaKeys.get(), "custom-keybindings", list.data());
    Settings entry = custom(entryPath);
    for (const char* key : {"name", "command", "binding"}) g_settings_reset(entry.get(), key);
    g_settings_sync();
}

std::string GnomeCustomShortcut::readable(const std::string& accelerator)
{
    const auto [modifiers, key] = normalized(accelerator);
    std::string text;
    for (const char* m : {"control", "super", "alt", "shift"}) {
        if (!modifiers.count(m)) continue;
        text += std::string(m) == "control" ? "Ctrl+" : std::string(m) == "super" ? "Super+" : std::string(m) == "alt" ? "Alt+" : "Mayús+";
    }
    std::string name = key == "space" ? "Espacio" : key;
    if (name.size() == 1) name[0] = char(std::toupper(static_cast<unsigned char>(name[0])));
    return text + name;
}

std::optional<std::string> GnomeCustomShortcut::firstFree(const std::vector<std::string>& candidates, const std::vector<std::string>& inUse)
{
    for (const auto& candidate : candidates) {
        const auto wanted = normalized(candidate);
        if (std::none_of(inUse.begin(), inUse.end(), [&](const std::string& used) { return normalized(used) == wanted; })) return candidate;
    }
    return std::nullopt;
}

} // namespace zorvane
