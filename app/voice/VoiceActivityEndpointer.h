#pragma once

#include <optional>

namespace zorvane {

// Remembers when voice was last heard and says when the silence since then has lasted long enough
// to end a dictation. Times are wall-clock seconds; only their differences matter.
struct VoiceActivityEndpointer {
    double silenceTimeout = 1.15;
    std::optional<double> lastVoiceActivity; // none until voice is heard after a reset

    void reset() { lastVoiceActivity.reset(); }
    void registerVoice(double at) { lastVoiceActivity = at; }
    // Silence alone, before any voice, never finishes.
    bool shouldFinish(double at) const { return lastVoiceActivity && at - *lastVoiceActivity >= silenceTimeout; }
};

} // namespace zorvane
