#pragma once

#include "app/platform/Bundle.h"

#include <filesystem>
#include <map>

namespace zorvane::fakes {

// A bundle laid out under a folder the test chooses, with the information keys it sets.
class FakeBundle : public Bundle {
public:
    explicit FakeBundle(std::filesystem::path bundlePath) : path_(std::move(bundlePath)) {}

    std::filesystem::path bundlePath() const override { return path_; }
    std::filesystem::path executablesPath() const override { return path_ / "Contents" / "MacOS"; }
    std::filesystem::path resourcesPath() const override { return path_ / "Contents" / "Resources"; }
    std::optional<std::string> infoValue(const std::string& key) const override
    {
        const auto found = info.find(key);
        return found == info.end() ? std::nullopt : std::optional(found->second);
    }

    std::map<std::string, std::string> info;

private:
    std::filesystem::path path_;
};

} // namespace zorvane::fakes
