#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>

namespace zorvane {

// One stored preference value: the property-list scalar types the settings use.
using PreferenceValue = std::variant<bool, std::int64_t, double, std::string>;
using PreferenceDomain = std::map<std::string, PreferenceValue>;

// The persistent preferences domain of the application.
class PreferencesStore {
public:
    virtual ~PreferencesStore() = default;
    // Everything stored; an empty domain when nothing is (or nothing usable is) stored.
    virtual PreferenceDomain load() = 0;
    // Replaces what is stored with `domain`. Throws std::system_error when it cannot be written;
    // what was stored before is then still intact.
    virtual void save(const PreferenceDomain& domain) = 0;
};

} // namespace zorvane
