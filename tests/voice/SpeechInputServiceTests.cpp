#include "app/voice/SpeechInputService.h"

#include "fakes/FakeSystem.h"
#include "fakes/FakeVoice.h"
#include "fakes/VirtualTime.h"

#include <gtest/gtest.h>

#include <system_error>

using namespace zorvane;
using fakes::FakeAudioInput;
using Texts = std::vector<std::string>;

namespace {

constexpr double blockSeconds = 1024.0 / 48000.0;

class SpeechInputServiceTest : public ::testing::Test {
protected:
    SpeechInputServiceTest()
    {
        permissions->grantAll();
        // When capture stopped, as the composer would notice it.
        service->addObserver([this] {
            if (service && !service->isListening()) stoppedAt = clock->now();
        });
    }

    SpeechInputService::TranscriptHandler into(Texts& texts)
    {
        return [&texts](const std::string& text) { texts.push_back(text); };
    }

    // Capture running in virtual time: one block every 1024 frames at 48 kHz.
    void feed(const AudioBuffer& block, double seconds)
    {
        for (double elapsed = 0; elapsed < seconds; elapsed += blockSeconds) {
            if (audio->deliver(block) && SpeechInputService::containsVoice(block, 0.012f)) lastVoiceAt = clock->now();
            queue->advance(blockSeconds);
        }
    }

    std::shared_ptr<fakes::FakeSpeechRecognitionTask> task() const { return recognizer->tasks.back(); }

    std::shared_ptr<fakes::FakeClock> clock = std::make_shared<fakes::FakeClock>();
    std::shared_ptr<fakes::ManualMainQueue> queue = std::make_shared<fakes::ManualMainQueue>(*clock);
    std::shared_ptr<FakeAudioInput> audio = std::make_shared<FakeAudioInput>();
    std::shared_ptr<fakes::FakeSpeechRecognizers> recognizers = std::make_shared<fakes::FakeSpeechRecognizers>();
    std::shared_ptr<fakes::FakeSpeechRecognizer> recognizer = recognizers->install("es_ES");
    std::shared_ptr<fakes::FakePermissions> permissions = std::make_shared<fakes::FakePermissions>();
    std::shared_ptr<SpeechInputService> service =
        SpeechInputService::create(audio, recognizers, permissions, clock, queue, std::string("es_ES"));

    Texts transcripts;
    std::optional<double> stoppedAt;
    double lastVoiceAt = 0;
};

} // namespace

TEST(SpeechInputVoiceLevel, ABlockHoldsVoiceWhenItsFirstChannelReachesTheThreshold)
{
    AudioBuffer noSamples;
    noSamples.frameLength = 1024;
    AudioBuffer overstated = FakeAudioInput::block({0.5f}, 8); // claims more frames than it holds
    overstated.frameLength = 1024;
    const struct { const char* what; AudioBuffer buffer; float threshold; bool voice; } cases[] = {
        {"loud, alternating sign", FakeAudioInput::block({0.02f}, 1024, true), 0.012f, true},
        {"quiet", FakeAudioInput::block({0.01f}), 0.012f, false},
        {"exactly at the threshold", FakeAudioInput::block({0.5f}, 256), 0.5f, true}, // exact in floats
        {"voice only in the second channel", FakeAudioInput::block({0.0f, 0.5f}), 0.012f, false},
        {"no frames", FakeAudioInput::block({0.5f}, 0), 0.012f, false},
        {"no float samples", noSamples, 0.012f, false},
        {"frame count beyond the samples", overstated, 0.5f, true},
    };
    for (const auto& c : cases) EXPECT_EQ(SpeechInputService::containsVoice(c.buffer, c.threshold), c.voice) << c.what;
}

// Streaming, partial and final texts through a real sound server are the dictation test's
// (tests/voice_linux); here are the rules around them.
TEST_F(SpeechInputServiceTest, ARecognitionErrorEndsTheDictationKeepsTheLastTextAndSaysWhy)
{
    audio->format = AudioFormat {44100, 2};
    service->start(into(transcripts));
    EXPECT_EQ(audio->tapFormat.sampleRate, 44100); // the device's own format
    EXPECT_EQ(audio->tapFormat.channelCount, 2u);
    task()->reportPartial("otra");
    task()->report(std::nullopt, "el reconocimiento falló");
    EXPECT_TRUE(transcripts.empty()) << "texts arrive on the main queue";
    queue->runPending();
    EXPECT_FALSE(service->isListening());
    EXPECT_FALSE(audio->running);
    EXPECT_EQ(transcripts, Texts {"otra"});
    EXPECT_EQ(service->authorizationMessage(), "el reconocimiento falló");
}

TEST_F(SpeechInputServiceTest, WhatStopsADictationFromStartingIsShownAndLeavesNothingRunning)
{
    using Remedy = SpeechInputService::Remedy;
    const std::string settings = SpeechInputService::permissionMessage;
    const std::string noModel = "Para dictar en español hace falta un modelo de voz.";
    const std::string noMicrophone = "No hay un micrófono disponible.";
    const std::system_error busy(std::make_error_code(std::errc::device_or_resource_busy), "abrir el micrófono");
    const struct {
        bool microphone, speech;
        std::optional<std::string> reason, audioReason;
        double sampleRate;
        std::exception_ptr startError, tapError;
        std::string message;
        Remedy remedy; // what the composer offers
    } cases[] = {
        {false, true, std::nullopt, std::nullopt, 48000, nullptr, nullptr, settings, Remedy::microphone},
        {false, true, noModel, noMicrophone, 48000, nullptr, nullptr, noMicrophone, Remedy::microphone},
        {true, false, std::nullopt, std::nullopt, 48000, nullptr, nullptr, settings, Remedy::speechRecognition},
        // Without a model nothing else matters, and it is the bigger thing to fix.
        {false, false, noModel, noMicrophone, 48000, nullptr, nullptr, noModel, Remedy::speechRecognition},
        {true, true, std::nullopt, std::nullopt, 0, nullptr, nullptr, SpeechInputService::noInputMessage, Remedy::microphone},
        {true, true, std::nullopt, noMicrophone, 0, nullptr, nullptr, noMicrophone, Remedy::microphone},
        {true, true, std::nullopt, std::nullopt, 48000, std::make_exception_ptr(busy), nullptr, busy.what(), Remedy::microphone},
        {true, true, std::nullopt, std::nullopt, 48000, nullptr, std::make_exception_ptr(std::runtime_error("formato no admitido")),
         "formato no admitido", Remedy::microphone},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        permissions->microphone = c.microphone;
        permissions->speechRecognition = c.speech;
        recognizers->reason = c.reason;
        audio->reason = c.audioReason;
        audio->format.sampleRate = c.sampleRate;
        audio->startError = c.startError;
        audio->tapError = c.tapError;
        audio->starts = 0;
        service->start(into(transcripts));
        EXPECT_EQ(service->authorizationMessage(), c.message);
        EXPECT_EQ(service->remedy(), c.remedy);
        EXPECT_FALSE(service->isListening());
        EXPECT_EQ(audio->starts, c.startError ? 1u : 0u);
        EXPECT_FALSE(audio->tap);
    }
    EXPECT_TRUE(recognizer->tasks.empty());
    EXPECT_EQ(audio->accessRequests.count() + recognizers->authorizationRequests.count(), 0u) << "no prompt";

    // Once allowed, the next start clears the message; a refused restart leaves it running.
    permissions->grantAll();
    service->start(into(transcripts));
    EXPECT_TRUE(service->isListening());
    EXPECT_FALSE(service->authorizationMessage());
    permissions->microphone = false;
    service->start(into(transcripts));
    EXPECT_TRUE(service->isListening());
    EXPECT_FALSE(task()->cancelled);
    EXPECT_EQ(service->authorizationMessage(), settings);

    // A recogniser that arrived meanwhile (a model just downloaded) serves the next start.
    const auto downloaded = recognizers->install("es_ES");
    permissions->grantAll();
    service->start(into(transcripts));
    EXPECT_EQ(downloaded->tasks.size(), 1u);
}

TEST_F(SpeechInputServiceTest, SilenceAfterVoiceEndsCaptureAndTheRecogniserGetsOneSecondMore)
{
    service->start(into(transcripts));
    feed(FakeAudioInput::block({0.011f}), 5); // just below the voice threshold: no end without voice
    ASSERT_TRUE(service->isListening());
    feed(FakeAudioInput::voice(), 0.8);
    feed(FakeAudioInput::silence(), 2.0);
    ASSERT_FALSE(service->isListening());
    ASSERT_TRUE(stoppedAt);
    EXPECT_GE(*stoppedAt - lastVoiceAt, 1.15);
    EXPECT_LE(*stoppedAt - lastVoiceAt, 1.30);
    EXPECT_FALSE(audio->running);
    EXPECT_FALSE(audio->tap);
    EXPECT_TRUE(task()->ended) << "so that the recogniser settles on its final text";

    // The grace second is running out, but a text coming now still reaches the question; once
    // it is over, nothing does, and nothing keeps running.
    task()->reportPartial("explica esta");
    queue->runPending();
    queue->advance(0.35);
    task()->reportFinal("explica esta imagen");
    queue->runPending();
    EXPECT_EQ(transcripts, Texts {"explica esta"});
    EXPECT_EQ(queue->pendingCount(), 0u);
}

TEST_F(SpeechInputServiceTest, ANewDictationIsNeitherEndedNorFilledByTheOneBefore)
{
    // The earlier dictation still inside its grace second, or still listening with a voice block
    // on its way to the main queue.
    for (const bool earlierStillListening : {false, true}) {
        SCOPED_TRACE(earlierStillListening ? "still listening" : "in its grace second");
        transcripts.clear();
        service->start(into(transcripts));
        feed(FakeAudioInput::voice(), 0.5);
        if (earlierStillListening) audio->deliver(FakeAudioInput::voice());
        else feed(FakeAudioInput::silence(), 2.0); // capture ends; the recogniser has a second more
        ASSERT_EQ(service->isListening(), earlierStillListening);
        const auto earlier = task();
        Texts second;
        service->start(into(second));
        EXPECT_TRUE(earlier->cancelled);
        feed(FakeAudioInput::silence(), 3.0); // no voice yet in this one: silence must not end it
        earlier->reportFinal("vieja");
        task()->reportPartial("nueva");
        queue->runPending();
        EXPECT_TRUE(service->isListening());
        EXPECT_EQ(transcripts, Texts {});
        EXPECT_EQ(second, Texts {"nueva"});
        service->stop();
    }
}

TEST_F(SpeechInputServiceTest, StoppingOrDestroyingTheServiceDiscardsTheRecognition)
{
    service->stop(); // harmless when idle
    for (const bool destroy : {false, true}) {
        service->start(into(transcripts));
        feed(FakeAudioInput::voice(), 0.2);
        const auto running = task();
        audio->deliver(FakeAudioInput::voice()); // still on its way to the main queue
        running->reportPartial("pregunta");
        destroy ? service.reset() : service->stop();
        EXPECT_TRUE(running->cancelled);
        EXPECT_FALSE(audio->running);
        EXPECT_FALSE(audio->tap);

        running->reportFinal("pregunta vieja");
        queue->advance(3);
        EXPECT_TRUE(transcripts.empty());
        EXPECT_EQ(queue->pendingCount(), 0u) << "destroyed: " << destroy;
    }
}
