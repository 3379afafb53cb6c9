#include "app/platform/linux/LinuxBundle.h"

#include <plist/plist.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

namespace zorvane::linux_platform {

LinuxBundle::LinuxBundle(std::filesystem::path bundlePath) : root_(std::move(bundlePath))
{
    std::ifstream in(root_ / "Contents" / "Info.plist", std::ios::binary);
    if (!in) return;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    plist_t raw = nullptr;
    if (!bytes.empty() && bytes.size() < UINT32_MAX) plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &raw);
    std::unique_ptr<void, void (*)(plist_t)> root(raw, plist_free);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return;

    plist_dict_iter it = nullptr;
    plist_dict_new_iter(root.get(), &it);
    for (;;) {
        char* key = nullptr;
        plist_t node = nullptr;
        plist_dict_next_item(root.get(), it, &key, &node);
        if (!node) {
            std::free(key);
            break;
        }
        if (key && plist_get_node_type(node) == PLIST_STRING) {
            char* value = nullptr;
            plist_get_string_val(node, &value);
            info_[key] = value ? value : "";
            std::free(value);
        }
        std::free(key);
    }
    std::free(it);
}

LinuxBundle LinuxBundle::forRunningExecutable()
{
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    // .../Zorvane.app/Contents/MacOS/Zorvane
    if (ec || exe.empty()) return LinuxBundle(std::filesystem::current_path(ec));
    return LinuxBundle(exe.parent_path().parent_path().parent_path());
}

std::optional<std::string> LinuxBundle::infoValue(const std::string& key) const
{
    if (auto it = info_.find(key); it != info_.end()) return it->second;
    return std::nullopt;
}

} // namespace zorvane::linux_platform
