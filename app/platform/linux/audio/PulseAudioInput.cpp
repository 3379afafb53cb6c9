#include "app/platform/linux/audio/PulseAudioInput.h"

#include "app/core/LocalizedError.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

namespace zorvane::linux_platform {

namespace {

class AudioInputError : public LocalizedError {
public:
    explicit AudioInputError(std::string text) : text_(std::move(text)) {}
    std::string localizedDescription() const override { return text_; }

private:
    std::string text_;
};

constexpr const char* noServerText = "No hay un servidor de sonido disponible.";
constexpr const char* noAnswerText = "El servidor de sonido no responde.";
constexpr const char* noMicrophoneText = "No hay un micrófono disponible.";
constexpr const char* microphoneFailedText = "No se pudo abrir el micrófono.";

// Locks the main loop unless the caller already runs on its thread (inside one of its callbacks).
class MainloopLock {
public:
    explicit MainloopLock(pa_threaded_mainloop* mainloop)
        : mainloop_(pa_threaded_mainloop_in_thread(mainloop) ? nullptr : mainloop)
    {
        if (mainloop_) pa_threaded_mainloop_lock(mainloop_);
    }
    ~MainloopLock()
    {
        if (mainloop_) pa_threaded_mainloop_unlock(mainloop_);
    }
    MainloopLock(const MainloopLock&) = delete;
    MainloopLock& operator=(const MainloopLock&) = delete;

private:
    pa_threaded_mainloop* mainloop_;
};

void signalMainloop(void* mainloop)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(mainloop), 0);
}

bool isUsable(const AudioFormat& format)
{
    return format.sampleRate >= 1 && format.sampleRate <= PA_RATE_MAX && format.channelCount >= 1
        && format.channelCount <= PA_CHANNELS_MAX;
}

} // namespace

PulseAudioInput::PulseAudioInput(std::chrono::milliseconds timeout)
    : timeout_(timeout)
    , mainloop_(pa_threaded_mainloop_new())
{
    if (!mainloop_ || pa_threaded_mainloop_start(mainloop_) < 0) {
        if (mainloop_) pa_threaded_mainloop_free(mainloop_);
        throw std::system_error(ENOMEM, std::generic_category(), "pa_threaded_mainloop");
    }
}

PulseAudioInput::~PulseAudioInput()
{
    {
        MainloopLock lock(mainloop_);
        releaseStream();
        releaseContext();
    }
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
}

template <typename Predicate>
bool PulseAudioInput::waitUntil(Predicate done, Deadline deadline)
{
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
    while (!done()) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        // Wakes the wait at the deadline, whatever the server does.
        timeval wake {};
        pa_timeval_add(pa_gettimeofday(&wake), static_cast<pa_usec_t>(left.count()));
        pa_time_event* alarm = api->time_new(
            api, &wake, [](pa_mainloop_api*, pa_time_event*, const timeval*, void* m) { signalMainloop(m); }, mainloop_);
        pa_threaded_mainloop_wait(mainloop_);
        api->time_free(alarm);
    }
    return true;
}

const char* PulseAudioInput::connect(Deadline deadline)
{
    if (context_ && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) releaseContext();
    if (!context_) {
        context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), "Zorvane");
        if (!context_) return noServerText;
        pa_context_set_state_callback(context_, [](pa_context*, void* m) { signalMainloop(m); }, mainloop_);
        // Never start a sound server: one the user stopped stays stopped.
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            releaseContext();
            return noServerText;
        }
    }
    const bool settled = waitUntil(
        [this] { return !context_ || pa_context_get_state(context_) == PA_CONTEXT_READY
                     || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)); },
        deadline);
    if (settled && context_ && pa_context_get_state(context_) == PA_CONTEXT_READY) return nullptr;
    // Not answering in time counts as no input; the next call tries afresh.
    releaseContext();
    return settled ? noServerText : noAnswerText;
}

std::optional<PulseAudioInput::Source> PulseAudioInput::defaultSource(Deadline deadline)
{
    struct Query {
        pa_threaded_mainloop* mainloop;
        std::optional<std::string> name;
        std::optional<Source> source;
    } query {mainloop_, std::nullopt, std::nullopt};

    const auto run = [&](pa_operation* operation) {
        if (!operation) return false;
        const bool finished =
            waitUntil([&] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, deadline);
        if (!finished) pa_operation_cancel(operation);
        pa_operation_unref(operation);
        return finished;
    };

    const bool answered = run(pa_context_get_server_info(
        context_,
        [](pa_context*, const pa_server_info* info, void* userdata) {
            auto& q = *static_cast<Query*>(userdata);
            if (info && info->default_source_name) q.name = info->default_source_name;
            signalMainloop(q.mainloop);
        },
        &query));
    if (!answered || !query.name) return std::nullopt;

    run(pa_context_get_source_info_by_name(
        context_, query.name->c_str(),
        [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
            auto& q = *static_cast<Query*>(userdata);
            // A monitor of an output records what the desktop plays, not the user.
            if (eol == 0 && info && info->monitor_of_sink == PA_INVALID_INDEX)
                q.source = Source {info->name, AudioFormat {static_cast<double>(info->sample_spec.rate), info->sample_spec.channels}};
            signalMainloop(q.mainloop);
        },
        &query));
    if (query.source && !isUsable(query.source->format)) return std::nullopt;
    return query.source;
}

AudioFormat PulseAudioInput::inputFormat()
{
    MainloopLock lock(mainloop_);
    const Deadline deadline = std::chrono::steady_clock::now() + timeout_;
    const char* failure = connect(deadline);
    std::optional<Source> source;
    if (!failure) {
        source = defaultSource(deadline);
        if (!source) failure = noMicrophoneText;
        // The connection is kept only while capturing: an idle application holds nothing of the server.
        if (!stream_) releaseContext();
    }
    std::lock_guard reasonLock(reasonMutex_);
    reason_ = failure ? std::optional<std::string>(failure) : std::nullopt;
    return source ? source->format : AudioFormat {};
}

std::optional<std::string> PulseAudioInput::unavailableReason()
{
    std::lock_guard reasonLock(reasonMutex_);
    return reason_;
}

void PulseAudioInput::installTap(std::uint32_t bufferSize, const AudioFormat& format, TapBlock block)
{
    if (bufferSize == 0 || !isUsable(format) || !block)
        throw std::system_error(EINVAL, std::generic_category(), "installTap");
    std::lock_guard tapLock(tapMutex_);
    tap_ = std::move(block);
    bufferSize_ = bufferSize;
    tapFormat_ = format;
    pending_.clear();
}

void PulseAudioInput::removeTap()
{
    // Waits for a block in flight: the block runs with this mutex held.
    TapBlock released;
    {
        std::lock_guard tapLock(tapMutex_);
        released = std::move(tap_);
        tap_ = nullptr;
        pending_.clear();
    }
}

void PulseAudioInput::start()
{
    MainloopLock lock(mainloop_);
    try {
        openStream();
    } catch (...) {
        releaseContext();
        throw;
    }
}

void PulseAudioInput::openStream()
{
    releaseStream();
    const Deadline deadline = std::chrono::steady_clock::now() + timeout_;
    if (const char* failure = connect(deadline)) throw AudioInputError(failure);
    const std::optional<Source> source = defaultSource(deadline);
    if (!source) throw AudioInputError(noMicrophoneText);

    AudioFormat format;
    std::uint32_t bufferSize = 0;
    {
        std::lock_guard tapLock(tapMutex_);
        format = tap_ ? tapFormat_ : source->format;
        bufferSize = bufferSize_;
        pending_.clear();
    }
    const pa_sample_spec spec {PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(format.sampleRate),
        static_cast<std::uint8_t>(format.channelCount)};
    stream_ = pa_stream_new(context_, "Dictado", &spec, nullptr);
    if (!stream_) throw AudioInputError(microphoneFailedText);
    pa_stream_set_state_callback(stream_, [](pa_stream*, void* m) { signalMainloop(m); }, mainloop_);
    pa_stream_set_read_callback(
        stream_, [](pa_stream*, std::size_t, void* self) { static_cast<PulseAudioInput*>(self)->readAvailable(); }, this);

    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = bufferSize * format.channelCount * static_cast<std::uint32_t>(sizeof(float));
    // Bound to the source the dictation started on: if it goes away, capture ends instead of
    // quietly moving to whatever the server picks next (possibly a monitor of the speakers).
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(stream_, source->name.c_str(), &attributes, flags) < 0) {
        releaseStream();
        throw AudioInputError(microphoneFailedText);
    }
    const bool settled = waitUntil(
        [this] { return !stream_ || pa_stream_get_state(stream_) != PA_STREAM_CREATING; }, deadline);
    if (!settled || !stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY) {
        releaseStream();
        throw AudioInputError(settled ? microphoneFailedText : noAnswerText);
    }
}

bool PulseAudioInput::isRunning()
{
    MainloopLock lock(mainloop_);
    if (!stream_) return false;
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) return true;
    releaseContext(); // the source or the server went away
    return false;
}

void PulseAudioInput::stop()
{
    {
        MainloopLock lock(mainloop_);
        releaseContext();
    }
    std::lock_guard tapLock(tapMutex_);
    pending_.clear();
    pending_.shrink_to_fit();
}

void PulseAudioInput::requestAccess(std::function<void()> completion)
{
    if (completion) completion();
}

void PulseAudioInput::releaseStream()
{
    if (!stream_) return;
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

void PulseAudioInput::releaseContext()
{
    releaseStream();
    if (!context_) return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

void PulseAudioInput::readAvailable()
{
    if (!stream_) return;
    const pa_sample_spec* spec = pa_stream_get_sample_spec(stream_);
    const AudioFormat format {static_cast<double>(spec->rate), spec->channels};
    while (pa_stream_readable_size(stream_) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream_, &data, &bytes) < 0 || bytes == 0) return;
        // A hole (data null) is a gap the server reports; it carries no samples.
        if (data)
            deliver(static_cast<const float*>(data), static_cast<std::uint32_t>(bytes / sizeof(float) / format.channelCount),
                format);
        pa_stream_drop(stream_);
    }
}

void PulseAudioInput::deliver(const float* interleaved, std::uint32_t frames, const AudioFormat& format)
{
    std::lock_guard tapLock(tapMutex_);
    if (!tap_) return;
    const std::uint32_t channels = format.channelCount;
    pending_.insert(pending_.end(), interleaved, interleaved + std::size_t(frames) * channels);
    const std::size_t available = pending_.size() / channels;
    std::size_t offset = 0;
    while (available - offset >= bufferSize_) {
        AudioBuffer buffer;
        buffer.format = format;
        buffer.frameLength = bufferSize_;
        buffer.floatChannelData.assign(channels, std::vector<float>(bufferSize_));
        for (std::uint32_t frame = 0; frame < bufferSize_; ++frame)
            for (std::uint32_t channel = 0; channel < channels; ++channel)
                buffer.floatChannelData[channel][frame] = pending_[(offset + frame) * channels + channel];
        offset += bufferSize_;
        tap_(buffer);
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(offset * channels));
}

} // namespace zorvane::linux_platform
