#pragma once

#include <plist/plist.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace zorvane::linux_platform {

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// The root of a property-list file (XML or binary), or null when the file is missing or empty.
// `exists` tells a missing file from one that exists but does not parse.
PlistPtr readPropertyList(const std::filesystem::path& path, bool& exists);

// Calls `visit(key, value)` for every entry of a dictionary node.
void forEachEntry(plist_t dictionary, const std::function<void(const std::string&, plist_t)>& visit);

} // namespace zorvane::linux_platform
