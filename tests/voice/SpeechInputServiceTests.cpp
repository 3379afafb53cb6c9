#include "app/voice/SpeechInputService.h"

#include "fakes/FakeAudioInput.h"
#include "fakes/FakePermissions.h"
#include "fakes/FakeSpeechRecognizer.h"
#include "fakes/VirtualTime.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

using namespace zorvane;
using fakes::FakeAudioInput;

namespace {

constexpr double blockSeconds = 1024.0 / 48000.0;

SpeechInputService::TranscriptHandler into(std::vector<std::string>& texts)
{
    return [&texts](const std::string& text) { texts.push_back(text); };
}

class SpeechInputServiceTest : public ::testing::Test {
protected:
    SpeechInputServiceTest()
    {
        permissions->grantAll();
        // The wall-clock time at which capture stopped, as the composer would notice it.
        service->addObserver([this] {
            if (service && !service->isListening()) stoppedAt = clock->now();
        });
    }

    // Capture running in virtual time: one block every 1024 frames at 48 kHz.
    void feed(const AudioBuffer& block, double seconds)
    {
        for (double elapsed = 0; elapsed < seconds; elapsed += blockSeconds) {
            if (audio->deliver(block) && SpeechInputService::containsVoice(block, 0.012f)) lastVoiceAt = clock->now();
            queue->advance(blockSeconds);
        }
    }

    // A short question, then silence until capture stops (at most 10 ms late); the recogniser has
    // not finished yet.
    void speakAndFallSilent(SpeechInputService& s)
    {
        s.start(into(transcripts));
        feed(FakeAudioInput::voice(), 0.3);
        for (int i = 0; i < 300 && s.isListening(); ++i) queue->advance(0.01);
        ASSERT_FALSE(s.isListening());
    }

    std::shared_ptr<fakes::FakeSpeechRecognitionTask> task() const { return recognizer->tasks().back(); }

    std::shared_ptr<fakes::FakeClock> clock = std::make_shared<fakes::FakeClock>();
    std::shared_ptr<fakes::ManualMainQueue> queue = std::make_shared<fakes::ManualMainQueue>(*clock);
    std::shared_ptr<FakeAudioInput> audio = std::make_shared<FakeAudioInput>();
    std::shared_ptr<fakes::FakeSpeechRecognizers> recognizers = std::make_shared<fakes::FakeSpeechRecognizers>();
    std::shared_ptr<fakes::FakeSpeechRecognizer> recognizer = recognizers->install("es_ES");
    std::shared_ptr<fakes::FakePermissions> permissions = std::make_shared<fakes::FakePermissions>();
    std::shared_ptr<SpeechInputService> service =
        SpeechInputService::create(audio, recognizers, permissions, clock, queue, std::string("es_ES"));

    std::vector<std::string> transcripts;
    std::optional<double> stoppedAt;
    double lastVoiceAt = 0;
};

} // namespace

TEST(SpeechInputVoiceLevel, ABlockHoldsVoiceWhenItsFirstChannelReachesTheThreshold)
{
    AudioBuffer noSamples;
    noSamples.frameLength = 1024;
    // A frame count beyond the samples actually there is not read past: 8 loud samples of 1024 claimed.
    AudioBuffer overstated = FakeAudioInput::block({0.5f}, 8);
    overstated.frameLength = 1024;
    const struct { const char* what; AudioBuffer buffer; float threshold; bool voice; } cases[] = {
        {"loud, alternating sign", FakeAudioInput::block({0.02f}, 1024, true), 0.012f, true},
        {"quiet", FakeAudioInput::block({0.01f}), 0.012f, false},
        // 0.5 squared and averaged is exact in floats.
        {"exactly at the threshold", FakeAudioInput::block({0.5f}, 256), 0.5f, true},
        {"voice only in the second channel", FakeAudioInput::block({0.0f, 0.5f}), 0.012f, false},
        {"no frames", FakeAudioInput::block({0.5f}, 0), 0.012f, false},
        {"no float samples", noSamples, 0.012f, false},
        {"frame count beyond the samples", overstated, 0.5f, true},
    };
    for (const auto& c : cases) EXPECT_EQ(SpeechInputService::containsVoice(c.buffer, c.threshold), c.voice) << c.what;
}

TEST_F(SpeechInputServiceTest, DictationStreamsToTheRecogniserAndEndsWithItsFinalTextOrError)
{
    audio->setInputFormat(AudioFormat {44100, 2});
    service->start(into(transcripts));
    EXPECT_TRUE(service->isListening());
    EXPECT_EQ(audio->tapFormat().sampleRate, 44100);
    EXPECT_EQ(audio->tapFormat().channelCount, 2u);
    const auto request = recognizer->requests().back();
    EXPECT_TRUE(request->reportsPartialResults());

    // Blocks reach the recogniser straight from the audio thread; texts reach the callback only on
    // the main queue, each carrying the whole text.
    EXPECT_EQ(audio->deliverOnAudioThread({FakeAudioInput::voice(), FakeAudioInput::silence()}), 2u);
    EXPECT_EQ(request->appendedBlockCount(), 2u);
    task()->reportOnOtherThread(SpeechRecognitionResult {"qué es", false}, std::nullopt);
    task()->reportPartial("qué es esto");
    EXPECT_TRUE(transcripts.empty());
    queue->runPending();
    EXPECT_EQ(transcripts, (std::vector<std::string> {"qué es", "qué es esto"}));
    EXPECT_TRUE(service->isListening());

    task()->reportFinal("qué es esto, dime");
    queue->runPending();
    EXPECT_FALSE(service->isListening());
    EXPECT_FALSE(audio->isRunning());
    EXPECT_EQ(transcripts.back(), "qué es esto, dime");

    service->start(into(transcripts));
    task()->reportPartial("otra");
    task()->reportError("el reconocimiento falló");
    queue->runPending();
    EXPECT_FALSE(service->isListening());
    EXPECT_EQ(transcripts.back(), "otra");
}

TEST_F(SpeechInputServiceTest, WithoutBothPermissionsNothingStartsAndNothingIsAsked)
{
    const std::string message = "Activa Micrófono y Reconocimiento de voz en Ajustes del Sistema.";
    for (const bool microphone : {false, true}) {
        permissions->microphone = microphone;
        permissions->speechRecognition = !microphone;
        service->start(into(transcripts));
        EXPECT_EQ(service->authorizationMessage(), message);
        EXPECT_EQ(audio->startCount(), 0u);
    }
    EXPECT_EQ(audio->pendingAccessRequestCount() + recognizers->pendingAuthorizationRequestCount(), 0u) << "no prompt";

    // Once allowed, the next start clears the message; a refused attempt then leaves it running.
    permissions->grantAll();
    service->start(into(transcripts));
    EXPECT_TRUE(service->isListening());
    EXPECT_FALSE(service->authorizationMessage());
    permissions->microphone = false;
    service->start(into(transcripts));
    EXPECT_TRUE(service->isListening());
    EXPECT_FALSE(task()->isCancelled());
    EXPECT_EQ(service->authorizationMessage(), message);
}

TEST_F(SpeechInputServiceTest, RecognitionOffForAKnownReasonShowsThatReason)
{
    const std::string settings = "Activa Micrófono y Reconocimiento de voz en Ajustes del Sistema.";
    const std::string noModel = "No hay un modelo de reconocimiento de voz en /home/ana/.local/share/zorvane/speech/es.";
    const struct {
        bool microphone;
        bool speechRecognition;
        std::optional<std::string> reason;
        std::string message;
    } cases[] = {
        {true, false, noModel, noModel},
        {false, false, noModel, noModel},
        {true, false, std::nullopt, settings},
        {true, false, std::string(), settings},
        {false, true, noModel, settings}, // the reason is about recognition, not the microphone
    };
    for (const auto& c : cases) {
        permissions->microphone = c.microphone;
        permissions->speechRecognition = c.speechRecognition;
        recognizers->setUnavailableReason(c.reason);
        service->start(into(transcripts));
        EXPECT_EQ(service->authorizationMessage(), c.message) << c.microphone << c.speechRecognition;
        EXPECT_FALSE(service->isListening());
    }
}

TEST_F(SpeechInputServiceTest, ACaptureThatCannotStartShowsWhyAndLeavesNothingRunning)
{
    audio->setInputFormat(AudioFormat {0, 0});
    service->start(into(transcripts));
    EXPECT_EQ(service->authorizationMessage(), "No hay una entrada de audio disponible.");
    EXPECT_EQ(audio->startCount(), 0u);
    audio->setInputFormat(AudioFormat {48000, 1});

    const std::system_error busy(std::make_error_code(std::errc::device_or_resource_busy), "abrir el micrófono");
    audio->failNextStart(std::make_exception_ptr(busy));
    service->start(into(transcripts));
    EXPECT_EQ(service->authorizationMessage(), std::string(busy.what()));
    EXPECT_FALSE(service->isListening());
    EXPECT_FALSE(audio->isTapInstalled());
    EXPECT_TRUE(recognizer->tasks().empty());

    // A tap the input refuses is reported the same way, and the next attempt still works.
    audio->failNextTap(std::make_exception_ptr(std::runtime_error("formato no admitido")));
    service->start(into(transcripts));
    EXPECT_EQ(service->authorizationMessage(), "formato no admitido");
    service->start(into(transcripts));
    EXPECT_TRUE(service->isListening());
    EXPECT_FALSE(service->authorizationMessage());
}

TEST_F(SpeechInputServiceTest, SilenceAfterVoiceEndsCaptureButLetsTheFinalTextThrough)
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
    EXPECT_FALSE(audio->isRunning());
    EXPECT_FALSE(audio->isTapInstalled());
    EXPECT_TRUE(recognizer->requests().back()->hasEndedAudio()) << "so that the recogniser settles on its final text";

    // 2 s of silence have passed since the last voice, so the grace second is running out: a
    // final text coming now still reaches the question.
    task()->reportFinal("explica esta imagen");
    queue->runPending();
    EXPECT_EQ(transcripts, std::vector<std::string> {"explica esta imagen"});
}

TEST_F(SpeechInputServiceTest, ARecogniserThatNeverFinishesIsAbandonedAfterOneSecond)
{
    speakAndFallSilent(*service);
    const auto abandoned = task();

    // Within the second its text still counts; after it, a late report changes nothing.
    queue->advance(0.9);
    abandoned->reportPartial("hola");
    queue->runPending();
    queue->advance(0.2);
    abandoned->reportFinal("hola, ¿qué tal?");
    queue->runPending();
    EXPECT_EQ(transcripts, std::vector<std::string> {"hola"});
    EXPECT_EQ(queue->pendingCount(), 0u) << "nothing keeps running after a dictation has finished";
}

TEST_F(SpeechInputServiceTest, ANewDictationInsideTheGraceSecondIsLeftAlone)
{
    speakAndFallSilent(*service);
    const auto earlier = task();

    queue->advance(0.5);
    std::vector<std::string> second;
    service->start(into(second));
    EXPECT_TRUE(earlier->isCancelled());
    queue->advance(1.0);
    EXPECT_TRUE(service->isListening());

    // The earlier task's late final text neither ends the new dictation nor lands in it.
    earlier->reportFinal("viejo");
    task()->reportPartial("nuevo");
    queue->runPending();
    EXPECT_TRUE(service->isListening());
    EXPECT_EQ(second, std::vector<std::string> {"nuevo"});
    EXPECT_TRUE(transcripts.empty());
}

TEST_F(SpeechInputServiceTest, WithoutARecogniserDictationStillRunsAndEndsBySilence)
{
    auto french = SpeechInputService::create(audio, recognizers, permissions, clock, queue, std::string("fr_FR"));
    EXPECT_FALSE(french->hasRecognizer());
    speakAndFallSilent(*french);

    // Restarting within the grace second: the earlier dictation had no task either, and still
    // must not end this one.
    queue->advance(0.2);
    french->start(into(transcripts));
    queue->advance(3.0);
    EXPECT_TRUE(french->isListening());
    EXPECT_TRUE(recognizer->requests().empty());
}

TEST_F(SpeechInputServiceTest, StartingWhileListeningReplacesEverything)
{
    service->start(into(transcripts));
    feed(FakeAudioInput::voice(), 0.5);
    const auto first = task();
    // A voice block captured just before the restart, still on its way to the main queue.
    audio->deliver(FakeAudioInput::voice());

    std::vector<std::string> second;
    service->start(into(second));
    EXPECT_TRUE(first->isCancelled());

    // The new dictation has heard no voice yet, so silence must not end it — neither through the
    // earlier dictation's voice nor through its silence monitor.
    feed(FakeAudioInput::silence(), 3.0);
    EXPECT_TRUE(service->isListening());

    first->reportFinal("primera");
    task()->reportPartial("segunda");
    queue->runPending();
    EXPECT_TRUE(transcripts.empty());
    EXPECT_EQ(second, std::vector<std::string> {"segunda"});
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
        EXPECT_TRUE(running->isCancelled());
        EXPECT_FALSE(audio->isRunning());
        EXPECT_FALSE(audio->isTapInstalled());

        // What the cancelled task still says afterwards is not written into the question.
        running->reportFinal("pregunta vieja");
        queue->advance(3);
        EXPECT_TRUE(transcripts.empty());
        EXPECT_EQ(queue->pendingCount(), 0u) << "destroyed: " << destroy;
    }
}

TEST_F(SpeechInputServiceTest, PermissionAnswersArriveOnTheMainQueue)
{
    int answers = 0;
    service->requestMicrophonePermission([&] { ++answers; });
    service->requestSpeechRecognitionPermission([&] { ++answers; });
    audio->answerAccessRequests();
    recognizers->answerAuthorizationRequests();
    EXPECT_EQ(answers, 0);
    queue->runPending();
    EXPECT_EQ(answers, 2);

    // An answer for a service that is gone goes nowhere.
    service->requestMicrophonePermission([&] { ++answers; });
    service.reset();
    audio->answerAccessRequests();
    queue->runPending();
    EXPECT_EQ(answers, 2);
}
