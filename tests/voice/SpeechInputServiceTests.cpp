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

class SpeechInputServiceTest : public ::testing::Test {
protected:
    SpeechInputServiceTest()
    {
        permissions->grantAll();
        watch(service);
    }

    std::shared_ptr<SpeechInputService> makeService(const std::string& locale)
    {
        auto s = SpeechInputService::create(audio, recognizers, permissions, clock, queue, locale);
        watch(s);
        return s;
    }

    // Remembers the wall-clock time at which capture stopped, as the composer would notice it.
    void watch(const std::shared_ptr<SpeechInputService>& s)
    {
        s->addObserver([this, weak = std::weak_ptr<SpeechInputService>(s)] {
            ++changes;
            const auto self = weak.lock();
            if (self && !self->isListening()) stoppedAt = clock->now();
        });
    }

    void startDictation(const std::shared_ptr<SpeechInputService>& s, std::vector<std::string>& into)
    {
        s->start([&into](const std::string& text) { into.push_back(text); });
    }
    void startDictation() { startDictation(service, transcripts); }

    // Capture running in virtual time: one block every 1024 frames at 48 kHz.
    void feed(const AudioBuffer& block, double seconds)
    {
        for (double elapsed = 0; elapsed < seconds; elapsed += blockSeconds) {
            if (audio->deliver(block) && SpeechInputService::containsVoice(block, 0.012f)) lastVoiceAt = clock->now();
            queue->advance(blockSeconds);
        }
    }

    // Lets virtual time run until silence has ended capture, landing at most 10 ms after it.
    void advanceUntilCaptureStops(const std::shared_ptr<SpeechInputService>& s)
    {
        for (int i = 0; i < 300 && s->isListening(); ++i) queue->advance(0.01);
        ASSERT_FALSE(s->isListening());
    }
    void advanceUntilCaptureStops() { advanceUntilCaptureStops(service); }

    // A short question, then silence until capture stops; the recogniser has not finished yet.
    void speakAndFallSilent()
    {
        startDictation();
        feed(FakeAudioInput::voice(), 0.3);
        advanceUntilCaptureStops();
    }

    std::shared_ptr<fakes::FakeSpeechRecognitionTask> task() const { return recognizer->lastTask(); }
    std::shared_ptr<fakes::FakeSpeechRecognitionRequest> request() const { return recognizer->requests().back(); }

    std::shared_ptr<fakes::FakeClock> clock = std::make_shared<fakes::FakeClock>();
    std::shared_ptr<fakes::ManualMainQueue> queue = std::make_shared<fakes::ManualMainQueue>(*clock);
    std::shared_ptr<FakeAudioInput> audio = std::make_shared<FakeAudioInput>();
    std::shared_ptr<fakes::FakeSpeechRecognizers> recognizers = std::make_shared<fakes::FakeSpeechRecognizers>();
    std::shared_ptr<fakes::FakeSpeechRecognizer> recognizer = recognizers->install("es_ES");
    std::shared_ptr<fakes::FakePermissions> permissions = std::make_shared<fakes::FakePermissions>();
    std::shared_ptr<SpeechInputService> service =
        SpeechInputService::create(audio, recognizers, permissions, clock, queue, std::string("es_ES"));

    std::vector<std::string> transcripts;
    int changes = 0;
    std::optional<double> stoppedAt;
    double lastVoiceAt = 0;
};

} // namespace

TEST_F(SpeechInputServiceTest, DictationStreamsTheInputToTheRecogniserAndHandsOnEveryText)
{
    audio->setInputFormat(AudioFormat {44100, 2});
    startDictation();
    EXPECT_TRUE(service->isListening());
    EXPECT_EQ(audio->tapBufferSize(), 1024u);
    EXPECT_EQ(audio->tapFormat().sampleRate, 44100);
    EXPECT_EQ(audio->tapFormat().channelCount, 2u);
    EXPECT_TRUE(request()->reportsPartialResults());
    ASSERT_TRUE(task());

    // Blocks reach the recogniser straight from the audio thread.
    EXPECT_EQ(audio->deliverOnAudioThread({FakeAudioInput::voice(), FakeAudioInput::silence()}), 2u);
    EXPECT_EQ(request()->appendedBlockCount(), 2u);

    // Each report carries the whole text; it reaches the callback only on the main queue.
    task()->reportOnOtherThread(SpeechRecognitionResult {"qué es", false}, std::nullopt);
    task()->reportPartial("qué es esto");
    EXPECT_TRUE(transcripts.empty());
    queue->runPending();
    EXPECT_EQ(transcripts, (std::vector<std::string> {"qué es", "qué es esto"}));
    EXPECT_TRUE(service->isListening());
}

TEST_F(SpeechInputServiceTest, WithoutBothPermissionsNothingStartsAndNothingIsAsked)
{
    const std::string message = "Activa Micrófono y Reconocimiento de voz en Ajustes del Sistema.";
    permissions->microphone = false;
    startDictation();
    EXPECT_EQ(service->authorizationMessage(), message);
    EXPECT_FALSE(service->isListening());
    EXPECT_EQ(audio->startCount(), 0u);
    EXPECT_EQ(audio->pendingAccessRequestCount() + recognizers->pendingAuthorizationRequestCount(), 0u) << "no prompt";

    permissions->microphone = true;
    permissions->speechRecognition = false;
    startDictation();
    EXPECT_EQ(audio->startCount(), 0u);

    // Once allowed, the next start clears the message.
    permissions->speechRecognition = true;
    startDictation();
    EXPECT_TRUE(service->isListening());
    EXPECT_FALSE(service->authorizationMessage());

    // A refused attempt does not disturb a dictation already running.
    permissions->microphone = false;
    startDictation();
    EXPECT_TRUE(service->isListening());
    EXPECT_FALSE(task()->isCancelled());
    EXPECT_EQ(service->authorizationMessage(), message);
}

TEST_F(SpeechInputServiceTest, WithoutAnInputDeviceItSaysSoAndCapturesNothing)
{
    audio->setInputFormat(AudioFormat {0, 0});
    startDictation();
    EXPECT_EQ(service->authorizationMessage(), "No hay una entrada de audio disponible.");
    EXPECT_FALSE(service->isListening());
    EXPECT_EQ(audio->startCount(), 0u);

    audio->setInputFormat(AudioFormat {16000, 1});
    startDictation();
    EXPECT_TRUE(service->isListening());
    EXPECT_FALSE(service->authorizationMessage());
}

TEST_F(SpeechInputServiceTest, ACaptureThatCannotStartShowsWhyAndLeavesNothingRunning)
{
    const std::system_error busy(std::make_error_code(std::errc::device_or_resource_busy), "abrir el micrófono");
    audio->failNextStart(std::make_exception_ptr(busy));
    startDictation();
    EXPECT_EQ(service->authorizationMessage(), std::string(busy.what()));
    EXPECT_FALSE(service->isListening());
    EXPECT_FALSE(audio->isTapInstalled());
    EXPECT_TRUE(recognizer->tasks().empty());

    // A tap the input refuses is reported the same way, and the next attempt still works.
    audio->failNextTap(std::make_exception_ptr(std::runtime_error("formato no admitido")));
    startDictation();
    EXPECT_EQ(service->authorizationMessage(), "formato no admitido");
    startDictation();
    EXPECT_TRUE(service->isListening());
}

TEST_F(SpeechInputServiceTest, SilenceAfterVoiceEndsCaptureButLetsTheFinalTextThrough)
{
    startDictation();
    feed(FakeAudioInput::voice(), 0.8);
    feed(FakeAudioInput::silence(), 2.0);

    ASSERT_FALSE(service->isListening());
    ASSERT_TRUE(stoppedAt);
    EXPECT_GE(*stoppedAt - lastVoiceAt, 1.15);
    EXPECT_LE(*stoppedAt - lastVoiceAt, 1.30);
    EXPECT_FALSE(audio->isRunning());
    EXPECT_FALSE(audio->isTapInstalled());
    EXPECT_TRUE(request()->hasEndedAudio());
    EXPECT_FALSE(task()->isCancelled());

    // 2 s of silence have passed since the last voice, so the grace second is running out: a
    // final text coming now still reaches the question.
    task()->reportFinal("explica esta imagen");
    queue->runPending();
    EXPECT_EQ(transcripts, std::vector<std::string> {"explica esta imagen"});
}

TEST_F(SpeechInputServiceTest, SilenceWithoutAnyVoiceNeverEndsTheDictation)
{
    startDictation();
    feed(FakeAudioInput::block({0.011f}), 10); // just below the voice threshold
    EXPECT_TRUE(service->isListening());
    EXPECT_FALSE(stoppedAt);
}

TEST_F(SpeechInputServiceTest, ARecogniserThatNeverFinishesIsAbandonedAfterOneSecond)
{
    speakAndFallSilent();
    const auto abandoned = task();

    // Within the second its text still counts.
    queue->advance(0.9);
    abandoned->reportPartial("hola");
    queue->runPending();
    queue->advance(0.2);

    // After it, a late report changes nothing.
    abandoned->reportFinal("hola, ¿qué tal?");
    queue->runPending();
    EXPECT_EQ(transcripts, std::vector<std::string> {"hola"});
    EXPECT_FALSE(abandoned->isCancelled());
    EXPECT_EQ(queue->pendingCount(), 0u) << "nothing keeps running after a dictation has finished";
}

TEST_F(SpeechInputServiceTest, ANewDictationInsideTheGraceSecondIsLeftAlone)
{
    speakAndFallSilent();
    const auto earlier = task();

    queue->advance(0.5);
    std::vector<std::string> second;
    startDictation(service, second);
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
    auto english = makeService("fr_FR");
    EXPECT_FALSE(english->hasRecognizer());
    std::vector<std::string> texts;
    startDictation(english, texts);
    EXPECT_TRUE(english->isListening());
    EXPECT_TRUE(recognizer->requests().empty());

    feed(FakeAudioInput::voice(), 0.3);
    advanceUntilCaptureStops(english);

    // Restarting within the grace second: the earlier dictation had no task either, and still
    // must not end this one.
    queue->advance(0.2);
    startDictation(english, texts);
    queue->advance(3.0);
    EXPECT_TRUE(english->isListening());
    EXPECT_TRUE(texts.empty());
}

TEST_F(SpeechInputServiceTest, AFinalResultOrAnErrorEndsTheDictationQuietly)
{
    startDictation();
    task()->reportPartial("dime");
    task()->reportFinal("dime qué ves");
    queue->runPending();
    EXPECT_FALSE(service->isListening());
    EXPECT_FALSE(audio->isRunning());
    EXPECT_EQ(transcripts, (std::vector<std::string> {"dime", "dime qué ves"}));

    startDictation();
    task()->reportPartial("otra");
    task()->reportError("el reconocimiento falló");
    queue->runPending();
    EXPECT_FALSE(service->isListening());
    EXPECT_EQ(transcripts.back(), "otra");
    EXPECT_FALSE(task()->isCancelled());
}

TEST_F(SpeechInputServiceTest, StoppingDiscardsTheRecognitionAndIsHarmlessWhenIdle)
{
    service->stop();
    service->stop();
    EXPECT_FALSE(service->isListening());
    EXPECT_EQ(changes, 0);

    startDictation();
    feed(FakeAudioInput::voice(), 0.2);
    task()->reportPartial("pregunta");
    service->stop();
    EXPECT_FALSE(service->isListening());
    EXPECT_TRUE(task()->isCancelled());
    EXPECT_FALSE(audio->isRunning());

    // What the cancelled task still says afterwards is not written into the question.
    task()->reportFinal("pregunta vieja");
    queue->advance(3);
    EXPECT_TRUE(transcripts.empty());
    EXPECT_EQ(queue->pendingCount(), 0u);
}

TEST_F(SpeechInputServiceTest, StartingWhileListeningReplacesEverything)
{
    startDictation();
    feed(FakeAudioInput::voice(), 0.5);
    const auto first = task();
    const auto firstRequest = request();
    // A voice block captured just before the restart, still on its way to the main queue.
    audio->deliver(FakeAudioInput::voice());

    std::vector<std::string> second;
    startDictation(service, second);
    EXPECT_TRUE(first->isCancelled());
    EXPECT_TRUE(firstRequest->hasEndedAudio());
    EXPECT_TRUE(audio->isTapInstalled());

    // New audio goes to the new request only.
    const std::size_t before = firstRequest->appendedBlockCount();
    feed(FakeAudioInput::silence(), 0.2);
    EXPECT_EQ(firstRequest->appendedBlockCount(), before);
    EXPECT_GT(request()->appendedBlockCount(), 0u);

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

TEST_F(SpeechInputServiceTest, ADestroyedServiceStopsCapturingAndIgnoresLateWork)
{
    startDictation();
    feed(FakeAudioInput::voice(), 0.2);
    const auto running = task();
    audio->deliver(FakeAudioInput::voice());
    running->reportPartial("tarde");
    service.reset();

    EXPECT_FALSE(audio->isTapInstalled());
    EXPECT_TRUE(running->isCancelled());
    queue->advance(3);
    EXPECT_TRUE(transcripts.empty());
}

TEST_F(SpeechInputServiceTest, PermissionAnswersArriveOnTheMainQueue)
{
    int microphoneAnswers = 0;
    int speechAnswers = 0;
    service->requestMicrophonePermission([&] { ++microphoneAnswers; });
    service->requestSpeechRecognitionPermission([&] { ++speechAnswers; });
    ASSERT_EQ(audio->pendingAccessRequestCount(), 1u);
    ASSERT_EQ(recognizers->pendingAuthorizationRequestCount(), 1u);

    audio->answerAccessRequests();
    recognizers->answerAuthorizationRequests();
    EXPECT_EQ(microphoneAnswers + speechAnswers, 0);
    queue->runPending();
    EXPECT_EQ(microphoneAnswers, 1);
    EXPECT_EQ(speechAnswers, 1);

    // An answer for a service that is gone goes nowhere.
    service->requestMicrophonePermission([&] { ++microphoneAnswers; });
    service.reset();
    audio->answerAccessRequests();
    queue->runPending();
    EXPECT_EQ(microphoneAnswers, 1);
}
