#include "app/platform/linux/PropertyListFile.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace zorvane::linux_platform {

PlistPtr readPropertyList(const std::filesystem::path& path, bool& exists)
{
    std::ifstream in(path, std::ios::binary);
    exists = static_cast<bool>(in);
    if (!in) return nullptr;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    plist_t raw = nullptr;
    if (!bytes.empty() && bytes.size() < UINT32_MAX) plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &raw);
    return PlistPtr(raw);
}

void forEachEntry(plist_t dictionary, const std::function<void(const std::string&, plist_t)>& visit)
{
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(dictionary, &it);
    for (;;) {
        char* key = nullptr;
        plist_t node = nullptr;
        plist_dict_next_item(dictionary, it, &key, &node);
        if (!node) {
            std::free(key);
            break;
        }
        if (key) visit(key, node);
        std::free(key);
    }
    std::free(it);
}

} // namespace zorvane::linux_platform
