#include "app/platform/linux/PlistPreferencesStore.h"

#include "app/platform/linux/PropertyListFile.h"

#include <plist/plist.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace zorvane::linux_platform {
namespace {

std::system_error lastError(const std::string& what)
{
    return std::system_error(errno, std::generic_category(), what);
}

// Unsupported value types (arrays, data, dates) are skipped: nothing of ours stores them.
std::optional<PreferenceValue> valueOf(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return PreferenceValue(b != 0);
    }
    case PLIST_UINT: {
        uint64_t u = 0;
        plist_get_uint_val(node, &u);
        return PreferenceValue(static_cast<std::int64_t>(u));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return PreferenceValue(d);
    }
    case PLIST_STRING: {
        char* s = nullptr;
        plist_get_string_val(node, &s);
        std::string text = s ? s : "";
        std::free(s);
        return PreferenceValue(std::move(text));
    }
    default: return std::nullopt;
    }
}

plist_t nodeOf(const PreferenceValue& value)
{
    if (const bool* b = std::get_if<bool>(&value)) return plist_new_bool(*b ? 1 : 0);
    if (const std::int64_t* i = std::get_if<std::int64_t>(&value)) return plist_new_uint(static_cast<uint64_t>(*i));
    if (const double* d = std::get_if<double>(&value)) return plist_new_real(*d);
    return plist_new_string(std::get<std::string>(value).c_str());
}

void writeAll(int fd, const char* data, std::size_t size, const std::string& path)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw lastError("No se pudieron guardar los ajustes en " + path);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

} // namespace

PlistPreferencesStore::PlistPreferencesStore(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path PlistPreferencesStore::defaultPath()
{
    std::filesystem::path base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home && home[0] ? home : "/") / ".config";
    }
    return base / "zorvane" / "preferences.plist";
}

PreferenceDomain PlistPreferencesStore::load()
{
    std::lock_guard lock(mutex_);
    bool exists = false;
    PlistPtr root = readPropertyList(file_, exists);
    if (!exists) return {};
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
        moveAside();
        return {};
    }
    PreferenceDomain domain;
    forEachEntry(root.get(), [&](const std::string& key, plist_t node) {
        if (auto value = valueOf(node)) domain.emplace(key, std::move(*value));
    });
    return domain;
}

void PlistPreferencesStore::moveAside()
{
    // Keep every unreadable file for the user: never replace an earlier one.
    std::filesystem::path target = file_;
    target += ".corrupt";
    for (int n = 1; std::filesystem::exists(target) && n < 1000; ++n) {
        target = file_;
        target += ".corrupt." + std::to_string(n);
    }
    std::error_code ignored;
    std::filesystem::rename(file_, target, ignored);
}

void PlistPreferencesStore::save(const PreferenceDomain& domain)
{
    std::lock_guard lock(mutex_);
    PlistPtr root(plist_new_dict());
    for (const auto& [key, value] : domain) plist_dict_set_item(root.get(), key.c_str(), nodeOf(value));
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    if (!xml) throw std::system_error(std::make_error_code(std::errc::not_enough_memory), "No se pudieron guardar los ajustes");
    std::unique_ptr<char, void (*)(char*)> xmlGuard(xml, plist_to_xml_free);

    const std::filesystem::path dir = file_.parent_path();
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw std::system_error(ec, "No se pudo crear la carpeta de ajustes " + dir.string());

    std::string temp = (dir / ".preferences.plist.XXXXXX").string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) throw lastError("No se pudieron guardar los ajustes en " + dir.string());
    try {
        ::fchmod(fd, 0600);
        writeAll(fd, xml, length, temp);
        if (::fsync(fd) != 0) throw lastError("No se pudieron guardar los ajustes en " + temp);
    } catch (...) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw;
    }
    ::close(fd);
    if (::rename(temp.c_str(), file_.c_str()) != 0) {
        const auto error = lastError("No se pudieron guardar los ajustes en " + file_.string());
        ::unlink(temp.c_str());
        throw error;
    }
    // Make the rename itself durable.
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

} // namespace zorvane::linux_platform
