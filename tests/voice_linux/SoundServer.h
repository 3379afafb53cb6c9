#pragma once

#include "app/platform/MainQueue.h"
#include "fakes/TemporaryDirectory.h"

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zorvane::testing {

struct SoundServerOptions {
    bool speaker = true;    // a null sink "vspk" that WAVs are played into
    bool microphone = true; // "vmic", a source remapped from the speaker's monitor
};

// A private PulseAudio daemon (48 kHz stereo): its own XDG_RUNTIME_DIR and HOME, no autospawn, stopped by pid.
// Exports its environment into this process while it lives (make it before any audio object).
class SoundServer {
public:
    explicit SoundServer(SoundServerOptions options = {});
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    const std::filesystem::path& directory() const { return directory_.path(); }
    // Starts playing a WAV into the speaker (and so into the microphone); waitFor waits for its end.
    pid_t startPlaying(const std::filesystem::path& wav) const;
    static void waitFor(pid_t child);
    // Waits until a capture stream of ours is connected to the microphone.
    bool waitForCapture(double timeoutSeconds = 10) const;
    void removeMicrophone() const;
    // Freezes or thaws the daemon (a server that does not answer).
    void pause(bool paused) const;

private:
    std::string pactl(const std::vector<std::string>& arguments) const;
    std::size_t captureStreamCount() const;

    fakes::TemporaryDirectory directory_;
    std::map<std::string, std::optional<std::string>> savedEnvironment_;
    pid_t daemon_ = -1;
    std::size_t baseCaptureStreams_ = 0;
};

// A private environment with no sound server at all.
class NoSoundServer {
public:
    NoSoundServer();
    ~NoSoundServer();

private:
    fakes::TemporaryDirectory directory_;
    std::map<std::string, std::optional<std::string>> savedEnvironment_;
};

// A sentence spoken by espeak-ng as 16 kHz mono 16-bit WAV, with exact digital silence around it.
std::filesystem::path speak(const std::filesystem::path& folder, const std::string& voice, const std::string& text,
    double silenceBefore, double silenceAfter);
void writeWav(const std::filesystem::path& path, const std::vector<std::int16_t>& samples, unsigned rate);
std::vector<std::int16_t> readWav(const std::filesystem::path& path, unsigned* rate = nullptr);

// A main queue that the test thread runs: tasks posted from any thread run on the thread that
// calls runUntil, in order of their due time.
class RealTimeQueue : public MainQueue {
public:
    void post(std::function<void()> task) override { postAfter(0, std::move(task)); }
    void postAfter(double seconds, std::function<void()> task) override;
    // Runs tasks until `done` holds (checked after each task) or the timeout passes; whether done.
    bool runUntil(const std::function<bool()>& done, double timeoutSeconds);

private:
    using Time = std::chrono::steady_clock::time_point;
    std::mutex mutex_;
    std::condition_variable posted_;
    std::multimap<Time, std::function<void()>> tasks_;
};

} // namespace zorvane::testing
