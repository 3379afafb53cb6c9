#include "app/platform/linux/LinuxBundle.h"

#include "app/platform/linux/PropertyListFile.h"

#include <cstdlib>

namespace zorvane::linux_platform {

LinuxBundle::LinuxBundle(std::filesystem::path bundlePath) : root_(std::move(bundlePath))
{
    bool exists = false;
    const PlistPtr root = readPropertyList(root_ / "Contents" / "Info.plist", exists);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return;
    forEachEntry(root.get(), [&](const std::string& key, plist_t node) {
        if (plist_get_node_type(node) != PLIST_STRING) return;
        char* value = nullptr;
        plist_get_string_val(node, &value);
        info_[key] = value ? value : "";
        std::free(value);
    });
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
