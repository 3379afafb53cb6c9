#pragma once

#include "app/platform/PreferencesStore.h"

#include <mutex>
#include <system_error>

namespace zorvane::fakes {

// Preferences kept in memory; can be told to fail the next saves.
class MemoryPreferencesStore : public PreferencesStore {
public:
    explicit MemoryPreferencesStore(PreferenceDomain initial = {}) : domain_(std::move(initial)) {}

    PreferenceDomain load() override
    {
        std::lock_guard lock(mutex_);
        return domain_;
    }

    void save(const PreferenceDomain& domain) override
    {
        std::lock_guard lock(mutex_);
        ++saves_;
        if (failSaves_) throw std::system_error(std::make_error_code(std::errc::no_space_on_device), "guardar preferencias");
        domain_ = domain;
    }

    PreferenceDomain stored()
    {
        std::lock_guard lock(mutex_);
        return domain_;
    }
    int saveCount()
    {
        std::lock_guard lock(mutex_);
        return saves_;
    }
    void setFailSaves(bool fail)
    {
        std::lock_guard lock(mutex_);
        failSaves_ = fail;
    }

private:
    std::mutex mutex_;
    PreferenceDomain domain_;
    int saves_ = 0;
    bool failSaves_ = false;
};

} // namespace zorvane::fakes
