#include "app/core/UserDefaults.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <vector>

namespace zorvane {
namespace {

std::string_view skipLeadingSpace(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    return s;
}

// Strings convert the way the platform's string scanning does: a leading number, else 0.
std::int64_t leadingInteger(std::string_view s)
{
    const std::string text(skipLeadingSpace(s));
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str()) return 0;
    return static_cast<std::int64_t>(value);
}

double leadingDouble(std::string_view s)
{
    const std::string text(skipLeadingSpace(s));
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || !std::isfinite(value)) return 0;
    return value;
}

std::int64_t truncatedInteger(double value)
{
    if (std::isnan(value)) return 0;
    if (value >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
    if (value <= -9.2e18) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(value);
}

std::string numberText(double value)
{
    std::ostringstream out;
    out.precision(17);
    out << value;
    return out.str();
}

} // namespace

UserDefaults::UserDefaults(std::shared_ptr<PreferencesStore> store) : store_(std::move(store))
{
    if (store_) persistent_ = store_->load();
}

void UserDefaults::registerDefaults(const PreferenceDomain& defaults)
{
    std::lock_guard lock(mutex_);
    for (const auto& [key, value] : defaults) registered_[key] = value;
}

std::optional<PreferenceValue> UserDefaults::lookup(const std::string& key) const
{
    std::lock_guard lock(mutex_);
    if (auto it = persistent_.find(key); it != persistent_.end()) return it->second;
    if (auto it = registered_.find(key); it != registered_.end()) return it->second;
    return std::nullopt;
}

std::optional<PreferenceValue> UserDefaults::objectForKey(const std::string& key) const
{
    return lookup(key);
}

bool UserDefaults::hasStoredValue(const std::string& key) const
{
    std::lock_guard lock(mutex_);
    return persistent_.count(key) != 0;
}

bool UserDefaults::boolForKey(const std::string& key) const
{
    const auto value = lookup(key);
    if (!value) return false;
    if (const bool* b = std::get_if<bool>(&*value)) return *b;
    if (const std::int64_t* i = std::get_if<std::int64_t>(&*value)) return *i != 0;
    if (const double* d = std::get_if<double>(&*value)) return *d != 0;
    const std::string_view s = skipLeadingSpace(std::get<std::string>(*value));
    if (!s.empty() && std::string_view("YyTt").find(s.front()) != std::string_view::npos) return true;
    return leadingInteger(s) != 0;
}

std::int64_t UserDefaults::integerForKey(const std::string& key) const
{
    const auto value = lookup(key);
    if (!value) return 0;
    if (const bool* b = std::get_if<bool>(&*value)) return *b ? 1 : 0;
    if (const std::int64_t* i = std::get_if<std::int64_t>(&*value)) return *i;
    if (const double* d = std::get_if<double>(&*value)) return truncatedInteger(*d);
    return leadingInteger(std::get<std::string>(*value));
}

double UserDefaults::doubleForKey(const std::string& key) const
{
    const auto value = lookup(key);
    if (!value) return 0;
    if (const bool* b = std::get_if<bool>(&*value)) return *b ? 1 : 0;
    if (const std::int64_t* i = std::get_if<std::int64_t>(&*value)) return static_cast<double>(*i);
    if (const double* d = std::get_if<double>(&*value)) return *d;
    return leadingDouble(std::get<std::string>(*value));
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const
{
    const auto value = lookup(key);
    if (!value) return std::nullopt;
    if (const bool* b = std::get_if<bool>(&*value)) return *b ? "1" : "0";
    if (const std::int64_t* i = std::get_if<std::int64_t>(&*value)) return std::to_string(*i);
    if (const double* d = std::get_if<double>(&*value)) return numberText(*d);
    return std::get<std::string>(*value);
}

void UserDefaults::setBool(const std::string& key, bool value) { set(key, PreferenceValue(value)); }
void UserDefaults::setInteger(const std::string& key, std::int64_t value) { set(key, PreferenceValue(value)); }
void UserDefaults::setDouble(const std::string& key, double value) { set(key, PreferenceValue(value)); }
void UserDefaults::setString(const std::string& key, const std::string& value) { set(key, PreferenceValue(value)); }
void UserDefaults::removeObject(const std::string& key) { set(key, std::nullopt); }

void UserDefaults::set(const std::string& key, std::optional<PreferenceValue> value)
{
    std::vector<std::shared_ptr<Observer>> toNotify;
    std::exception_ptr saveError;
    {
        // Writers queue up here, so saved snapshots reach the store in the order of the writes.
        std::lock_guard saveLock(saveMutex_);
        PreferenceDomain snapshot;
        {
            std::lock_guard lock(mutex_);
            if (value) {
                persistent_[key] = *value;
            } else {
                persistent_.erase(key);
            }
            snapshot = persistent_;
            for (const auto& [token, observer] : observers_) toNotify.push_back(observer);
        }
        try {
            if (store_) store_->save(snapshot);
        } catch (...) {
            saveError = std::current_exception();
        }
    }
    // Outside both locks: an observer may read or write the settings again.
    for (const auto& observer : toNotify) (*observer)(key);
    if (saveError) std::rethrow_exception(saveError);
}

UserDefaults::ObserverToken UserDefaults::addObserver(Observer observer)
{
    std::lock_guard lock(mutex_);
    const ObserverToken token = nextToken_++;
    observers_[token] = std::make_shared<Observer>(std::move(observer));
    return token;
}

void UserDefaults::removeObserver(ObserverToken token)
{
    std::lock_guard lock(mutex_);
    observers_.erase(token);
}

} // namespace zorvane
