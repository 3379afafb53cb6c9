#pragma once

// The sound world of the dictation tests and benchmarks: a private PulseAudio, speech to play into
// it, and a main queue run in real time.

#include "tests/fakes/TemporaryDirectory.h"
#include "tests/fakes/VirtualTime.h"
#include "tests/support/Processes.h"

namespace zorvane::testing {

struct SoundServerOptions {
    bool running = true;    // false: a private environment with no sound server at all
    bool speaker = true;    // a null sink "vspk" that sound is played into
    bool microphone = true; // "vmic", a source remapped from the speaker's monitor
};

// A PulseAudio daemon (48 kHz stereo) with its own XDG_RUNTIME_DIR and HOME, exported into this
// process while it lives (make it before any audio object), stopped by process id.
class SoundServer {
public:
    explicit SoundServer(SoundServerOptions options = {});

    const std::filesystem::path& directory() const { return directory_.path(); }
    // Plays a sound file into the speaker, and so into the microphone; `options` go to paplay.
    pid_t startPlaying(const std::filesystem::path& file, const std::vector<std::string>& options = {});
    void waitFor(pid_t player);
    // Waits until a capture stream is connected to the server.
    bool waitForCapture() { return waitUntil(10, [&] { return !run({"pactl", "list", "short", "source-outputs"}).empty(); }); }
    void removeMicrophone() { run({"pactl", "unload-module", "module-remap-source"}); }
    void pause(bool paused) const; // a server that does not answer
    // Runs a program in this world to its end; its standard output (throws when it fails).
    std::string run(const std::vector<std::string>& argv);

private:
    fakes::TemporaryDirectory directory_;
    ScopedEnvironment environment_;
    Processes processes_ {directory_ / "logs"};
    pid_t daemon_ = -1;
};

// A sentence spoken by espeak-ng as a 16 kHz mono 16-bit WAV, with exact digital silence around it.
std::filesystem::path speak(SoundServer& world, const std::string& voice, const std::string& text,
    double silenceBefore, double silenceAfter);

// Runs a manual main queue in real time, its clock following the steady clock in 5 ms steps, until
// `done` holds; whether it did in time.
bool runInRealTime(fakes::ManualMainQueue& queue, const std::function<bool()>& done, double timeoutSeconds);

} // namespace zorvane::testing
