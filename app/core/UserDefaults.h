#pragma once

#include "app/platform/PreferencesStore.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace zorvane {

// The settings store: an in-memory registration domain (fallbacks, never written) over the
// persistent domain kept by a PreferencesStore. Reads follow the platform's typed semantics: an
// absent bool reads false, an absent integer 0, an absent double 0.0, an absent string none.
// Writes are visible to the next reader at once and are saved before the setter returns.
// Thread-safe.
class UserDefaults {
public:
    using ObserverToken = std::uint64_t;
    using Observer = std::function<void(const std::string& key)>;

    explicit UserDefaults(std::shared_ptr<PreferencesStore> store);

    // Fallbacks for keys that have no stored value; they replace earlier registrations of the same key.
    void registerDefaults(const PreferenceDomain& defaults);

    bool boolForKey(const std::string& key) const;
    std::int64_t integerForKey(const std::string& key) const;
    double doubleForKey(const std::string& key) const;
    std::optional<std::string> stringForKey(const std::string& key) const;
    // The stored value, else the registered one, else none.
    std::optional<PreferenceValue> objectForKey(const std::string& key) const;
    // Whether a value is stored (registered fallbacks do not count).
    bool hasStoredValue(const std::string& key) const;

    // Each write is saved through the store; if saving fails the value still holds in memory for
    // this run and the error (std::system_error) is passed to the caller.
    void setBool(const std::string& key, bool value);
    void setInteger(const std::string& key, std::int64_t value);
    void setDouble(const std::string& key, double value);
    void setString(const std::string& key, const std::string& value);
    void removeObject(const std::string& key);

    // Observers are called after every change of a key's value (on the writer's thread), outside
    // the lock, so they may read the store again.
    ObserverToken addObserver(Observer observer);
    void removeObserver(ObserverToken token);

private:
    void set(const std::string& key, std::optional<PreferenceValue> value);
    std::optional<PreferenceValue> lookup(const std::string& key) const;

    std::shared_ptr<PreferencesStore> store_;
    mutable std::mutex mutex_;
    std::mutex saveMutex_; // keeps saves in the order of the writes they carry
    PreferenceDomain registered_;
    PreferenceDomain persistent_;
    std::map<ObserverToken, std::shared_ptr<Observer>> observers_;
    ObserverToken nextToken_ = 1;
};

} // namespace zorvane
