#pragma once

#include "app/platform/SpeechRecognizer.h"
#include "app/platform/linux/speech/Resampler.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zorvane::linux_platform {

// What an offline recogniser does with one utterance. Used on one thread at a time.
class SpeechDecoder {
public:
    static constexpr double sampleRate = 16000; // what the models here are trained on

    virtual ~SpeechDecoder() = default;
    virtual void begin() = 0;
    // Mono samples at sampleRate, full scale 1.0.
    virtual void accept(const std::vector<float>& samples) = 0;
    // The whole text heard so far in this utterance.
    virtual std::string partialText() = 0;
    // Ends the utterance and gives its final text.
    virtual std::string finish() = 0;
};

// Loads the model; throws (a LocalizedError for choice) with the reason when it cannot.
using SpeechDecoderLoader = std::function<std::unique_ptr<SpeechDecoder>()>;

// A request that keeps what is appended, mixed down to mono at the decoder's rate, until the
// recognition takes it. append runs on the audio thread, endAudio on the main thread.
class BufferedRecognitionRequest : public SpeechRecognitionRequest {
public:
    explicit BufferedRecognitionRequest(bool shouldReportPartialResults)
        : reportsPartialResults_(shouldReportPartialResults)
    {
    }
    void append(const AudioBuffer& buffer) override;
    void endAudio() override;

    bool reportsPartialResults() const { return reportsPartialResults_; }
    struct Audio {
        std::vector<float> samples;
        bool ended = false;     // no more audio will come
        bool abandoned = false; // the recognition was given up
    };
    // Waits until there is audio, its end, or abandon(); takes what is there.
    Audio take();
    void abandon();

private:
    const bool reportsPartialResults_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<float> samples_;
    bool ended_ = false;
    bool abandoned_ = false;
    double inputRate_ = 0;
    std::optional<Resampler> resampler_;
    std::vector<float> mono_;
};

// One recogniser's model and the thread that runs it. The model is loaded on that thread at the
// first recognition and kept for every later one; recognitions run one after another. Nothing
// here waits on a recognition: cancel only marks it, and a cancelled one ends at its next step.
class RecognitionEngine : public std::enable_shared_from_this<RecognitionEngine> {
public:
    explicit RecognitionEngine(SpeechDecoderLoader loader);
    ~RecognitionEngine();
    RecognitionEngine(const RecognitionEngine&) = delete;
    RecognitionEngine& operator=(const RecognitionEngine&) = delete;

    // Null when the request is not one of ours or the model could not be loaded.
    std::shared_ptr<SpeechRecognitionTask> recognize(
        std::shared_ptr<SpeechRecognitionRequest> request, SpeechRecognizer::ResultHandler handler);
    // Why the model could not be loaded, once a recognition has tried.
    std::optional<std::string> failure() const;
    bool isLoaded() const;

private:
    struct Job;
    void run();
    void process(Job& job);

    const SpeechDecoderLoader loader_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<Job>> jobs_;
    std::shared_ptr<Job> current_;
    bool stopping_ = false;
    bool loaded_ = false;
    std::optional<std::string> failure_;
    std::unique_ptr<SpeechDecoder> decoder_; // only the worker touches it
    std::thread worker_;                     // started by the first recognition
};

// A recogniser for one locale over a shared engine.
class EngineSpeechRecognizer : public SpeechRecognizer {
public:
    explicit EngineSpeechRecognizer(std::shared_ptr<RecognitionEngine> engine) : engine_(std::move(engine)) {}
    std::shared_ptr<SpeechRecognitionRequest> makeRequest(bool shouldReportPartialResults) override
    {
        return std::make_shared<BufferedRecognitionRequest>(shouldReportPartialResults);
    }
    std::shared_ptr<SpeechRecognitionTask> recognitionTask(
        std::shared_ptr<SpeechRecognitionRequest> request, ResultHandler resultHandler) override
    {
        return engine_->recognize(std::move(request), std::move(resultHandler));
    }

private:
    std::shared_ptr<RecognitionEngine> engine_;
};

} // namespace zorvane::linux_platform
