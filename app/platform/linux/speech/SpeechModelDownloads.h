#pragma once

#include "app/core/LocalizedError.h"
#include "app/platform/linux/speech/SpeechModelCatalog.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace zorvane::linux_platform {

class SpeechModelError : public LocalizedError {
public:
    // `resumable`: the download was cut off; what it got is kept and the next one goes on from there.
    SpeechModelError(std::string reason, bool resumable = false) : reason_(std::move(reason)), resumable_(resumable) {}
    std::string localizedDescription() const override { return reason_; }
    bool resumable() const { return resumable_; }

private:
    std::string reason_;
    bool resumable_;
};

// Fetches, checks and installs one speech model into `modelsFolder`/<language>/<name>, where the
// recognisers look for it. Nothing is used before it has passed every check: the size and the
// publisher's checksum of the archive, the updater's rules for what an archive may unpack, and the
// files of a model. A download cut off keeps what it got (and resumes with an HTTP range); any other
// failure, and a cancel, leave nothing behind. Runs on the caller's thread; safe on several at once
// for different languages.
class SpeechModelDownloads {
public:
    struct Progress {
        std::uint64_t receivedBytes = 0;
        std::uint64_t totalBytes = 0;
        bool downloaded = false; // the archive is complete; checking and unpacking follow
    };
    using ProgressHandler = std::function<void(const Progress&)>;

    // HTTPS only. `allowPlainHttpToLoopback` lets a test's server on this machine serve plain HTTP;
    // nothing in the program sets it, whatever the environment says.
    explicit SpeechModelDownloads(std::filesystem::path modelsFolder, bool allowPlainHttpToLoopback = false);

    // Throws SpeechModelError with the reason the user is shown (a cancel says so too). A cancel
    // deletes what was fetched, unless `keepOnCancel` is set by then (the program is closing: the
    // next start resumes).
    void install(const SpeechModelEntry& entry, const std::atomic<bool>& cancelled, const ProgressHandler& progress,
        const std::atomic<bool>* keepOnCancel = nullptr) const;
    // What an interrupted download of the entry kept.
    std::uint64_t partialBytes(const SpeechModelEntry& entry) const;
    // Deletes the language's model and any partial download of `entry`. Throws SpeechModelError.
    void remove(const std::string& language, const SpeechModelEntry* entry) const;

    // The environment's proxy settings (https_proxy, no_proxy…) apply, as libcurl reads them.
    bool isAllowedURL(const std::string& url) const;

private:
    std::filesystem::path partialFile(const SpeechModelEntry& entry) const;
    void fetch(const SpeechModelEntry& entry, const std::atomic<bool>& cancelled, const ProgressHandler& progress) const;
    void check(const SpeechModelEntry& entry, const std::atomic<bool>& cancelled) const;
    void unpackAndPlace(const SpeechModelEntry& entry, const std::atomic<bool>& cancelled) const;
    void discard(const SpeechModelEntry& entry) const;

    const std::filesystem::path modelsFolder_;
    const bool allowPlainHttpToLoopback_;
};

} // namespace zorvane::linux_platform
