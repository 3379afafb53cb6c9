#include "app/platform/linux/LinuxBundle.h"

#include "app/platform/linux/PropertyListFile.h"

#include <cstdlib>

namespace zorvane::linux_platform {

namespace fs = std::filesystem;

LinuxBundle::LinuxBundle(fs::path bundlePath)
    : root_(std::move(bundlePath))
    , executables_(root_ / "Contents" / "MacOS")
    , resources_(root_ / "Contents" / "Resources")
    , frameworks_(root_ / "Contents" / "Frameworks")
    , program_(executables_ / "Zorvane")
{
    readInfo(root_ / "Contents" / "Info.plist");
}

LinuxBundle LinuxBundle::installed(const fs::path& prefix)
{
    LinuxBundle copy;
    copy.installed_ = true;
    copy.root_ = copy.executables_ = copy.frameworks_ = prefix / "lib" / "zorvane";
    copy.resources_ = prefix / "share" / "zorvane";
    copy.program_ = prefix / "bin" / "zorvane";
    copy.readInfo(copy.resources_ / "Info.plist");
    return copy;
}

LinuxBundle LinuxBundle::forRunningExecutable()
{
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return LinuxBundle(fs::current_path(ec));
    // <prefix>/bin/zorvane, or .../Zorvane.app/Contents/MacOS/Zorvane
    const fs::path folder = exe.parent_path();
    if (folder.filename() == "bin" && fs::is_regular_file(folder.parent_path() / "share" / "zorvane" / "Info.plist", ec)) {
        return installed(folder.parent_path());
    }
    return LinuxBundle(folder.parent_path().parent_path());
}

void LinuxBundle::readInfo(const fs::path& plist)
{
    bool exists = false;
    const PlistPtr root = readPropertyList(plist, exists);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return;
    forEachEntry(root.get(), [&](const std::string& key, plist_t node) {
        if (plist_get_node_type(node) != PLIST_STRING) return;
        char* value = nullptr;
        plist_get_string_val(node, &value);
        info_[key] = value ? value : "";
        std::free(value);
    });
}

std::optional<std::string> LinuxBundle::infoValue(const std::string& key) const
{
    if (auto it = info_.find(key); it != info_.end()) return it->second;
    return std::nullopt;
}

} // namespace zorvane::linux_platform
