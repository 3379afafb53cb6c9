#include "app/platform/linux/speech/RecognitionEngine.h"

#include "app/core/LocalizedError.h"

#include <algorithm>
#include <atomic>
#include <exception>

namespace zorvane::linux_platform {

void BufferedRecognitionRequest::append(const AudioBuffer& buffer)
{
    const std::size_t channels = buffer.floatChannelData.size();
    if (channels == 0 || !(buffer.format.sampleRate > 0)) return;
    std::size_t frames = buffer.frameLength;
    for (const auto& channel : buffer.floatChannelData) frames = std::min(frames, channel.size());
    std::lock_guard lock(mutex_);
    if (ended_ || abandoned_ || frames == 0) return;
    if (buffer.format.sampleRate != inputRate_) {
        inputRate_ = buffer.format.sampleRate;
        resampler_.emplace(inputRate_, SpeechDecoder::sampleRate);
    }
    mono_.assign(frames, 0.0f);
    for (const auto& channel : buffer.floatChannelData)
        for (std::size_t i = 0; i < frames; ++i) mono_[i] += channel[i] / static_cast<float>(channels);
    resampler_->process(mono_.data(), frames, samples_);
    changed_.notify_all();
}

void BufferedRecognitionRequest::endAudio()
{
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

void BufferedRecognitionRequest::abandon()
{
    std::lock_guard lock(mutex_);
    abandoned_ = true;
    changed_.notify_all();
}

BufferedRecognitionRequest::Audio BufferedRecognitionRequest::take()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !samples_.empty() || ended_ || abandoned_; });
    Audio audio;
    audio.samples.swap(samples_);
    audio.ended = ended_;
    audio.abandoned = abandoned_;
    return audio;
}

struct RecognitionEngine::Job {
    std::shared_ptr<BufferedRecognitionRequest> request;
    SpeechRecognizer::ResultHandler handler;
    std::atomic<bool> cancelled = false;

    void report(const std::optional<SpeechRecognitionResult>& result, const std::optional<std::string>& error)
    {
        if (!cancelled && handler) handler(result, error);
    }
};

namespace {

// What the caller holds: cancelling, or simply letting go, gives the recognition up.
class EngineTask : public SpeechRecognitionTask {
public:
    EngineTask(std::shared_ptr<std::atomic<bool>> cancelled, std::weak_ptr<BufferedRecognitionRequest> request)
        : cancelled_(std::move(cancelled)), request_(std::move(request))
    {
    }
    ~EngineTask() override { cancel(); }
    void cancel() override
    {
        cancelled_->store(true);
        if (const auto request = request_.lock()) request->abandon();
    }

private:
    std::shared_ptr<std::atomic<bool>> cancelled_;
    std::weak_ptr<BufferedRecognitionRequest> request_;
};

} // namespace

RecognitionEngine::RecognitionEngine(SpeechDecoderLoader loader) : loader_(std::move(loader)) {}

RecognitionEngine::~RecognitionEngine()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (const auto& job : jobs_) job->cancelled = true;
        if (current_) {
            current_->cancelled = true;
            current_->request->abandon();
        }
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
}

std::optional<std::string> RecognitionEngine::failure() const
{
    std::lock_guard lock(mutex_);
    return failure_;
}

bool RecognitionEngine::isLoaded() const
{
    std::lock_guard lock(mutex_);
    return loaded_;
}

std::shared_ptr<SpeechRecognitionTask> RecognitionEngine::recognize(
    std::shared_ptr<SpeechRecognitionRequest> request, SpeechRecognizer::ResultHandler handler)
{
    auto buffered = std::dynamic_pointer_cast<BufferedRecognitionRequest>(request);
    if (!buffered) return nullptr;
    // The job's flag is shared with the task through an aliasing pointer, so the task keeps
    // the job alive but never the engine.
    auto job = std::make_shared<Job>();
    job->request = buffered;
    job->handler = std::move(handler);
    std::shared_ptr<std::atomic<bool>> cancelled(job, &job->cancelled);
    {
        std::lock_guard lock(mutex_);
        if (failure_ || stopping_) return nullptr;
        jobs_.push_back(job);
        if (!worker_.joinable()) worker_ = std::thread([this] { run(); });
    }
    wake_.notify_all();
    return std::make_shared<EngineTask>(std::move(cancelled), buffered);
}

void RecognitionEngine::run()
{
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
            if (stopping_) return;
            job = jobs_.front();
            jobs_.pop_front();
            current_ = job;
        }
        if (!job->cancelled) {
            if (!decoder_) {
                std::optional<std::string> failure;
                try {
                    decoder_ = loader_();
                } catch (...) {
                    failure = describe(std::current_exception());
                }
                std::lock_guard lock(mutex_);
                if (decoder_) loaded_ = true;
                else failure_ = failure && !failure->empty() ? *failure : "No se pudo cargar el modelo de voz.";
            }
            if (decoder_) process(*job);
            else job->report(std::nullopt, failure());
        }
        std::deque<std::shared_ptr<Job>> refused;
        std::optional<std::string> failure;
        {
            std::lock_guard lock(mutex_);
            current_.reset();
            // A failed model fails every recognition already queued behind it.
            if (failure_) refused.swap(jobs_);
            failure = failure_;
        }
        for (const auto& waiting : refused) waiting->report(std::nullopt, failure);
    }
}

void RecognitionEngine::process(Job& job)
{
    std::string lastPartial;
    try {
        decoder_->begin();
        for (;;) {
            BufferedRecognitionRequest::Audio audio = job.request->take();
            if (audio.abandoned || job.cancelled) {
                decoder_->finish(); // leaves the decoder ready for the next utterance
                return;
            }
            if (!audio.samples.empty()) {
                decoder_->accept(audio.samples);
                if (job.request->reportsPartialResults() && !audio.ended) {
                    std::string text = decoder_->partialText();
                    if (!text.empty() && text != lastPartial) {
                        lastPartial = text;
                        job.report(SpeechRecognitionResult {std::move(text), false}, std::nullopt);
                    }
                }
            }
            if (audio.ended) {
                job.report(SpeechRecognitionResult {decoder_->finish(), true}, std::nullopt);
                return;
            }
        }
    } catch (...) {
        std::string reason = describe(std::current_exception());
        job.report(std::nullopt, reason.empty() ? "El reconocimiento de voz falló." : reason);
    }
}

} // namespace zorvane::linux_platform
