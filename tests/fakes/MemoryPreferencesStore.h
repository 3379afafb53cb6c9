#pragma once

#include "app/platform/PreferencesStore.h"

#include <atomic>
#include <mutex>
#include <system_error>

namespace zorvane::fakes {

// Preferences kept in memory; saves can be made to fail.
class MemoryPreferencesStore : public PreferencesStore {
public:
    explicit MemoryPreferencesStore(PreferenceDomain initial = {}) : domain_(std::move(initial)) {}

    PreferenceDomain load() override { return stored(); }
    void save(const PreferenceDomain& domain) override
    {
        std::lock_guard lock(mutex_);
        if (failSaves) throw std::system_error(std::make_error_code(std::errc::no_space_on_device), "guardar preferencias");
        domain_ = domain;
    }
    PreferenceDomain stored()
    {
        std::lock_guard lock(mutex_);
        return domain_;
    }

    std::atomic<bool> failSaves {false};

private:
    std::mutex mutex_;
    PreferenceDomain domain_;
};

} // namespace zorvane::fakes
