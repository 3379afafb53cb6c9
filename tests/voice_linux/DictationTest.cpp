#include "app/core/LocalizedError.h"
#include "app/core/SystemClock.h"
#include "app/platform/linux/audio/MicrophoneAccess.h"
#include "app/platform/linux/audio/PulseAudioInput.h"
#include "app/platform/linux/speech/LinuxSpeechRecognizers.h"
#include "app/voice/SpeechInputService.h"
#include "fakes/FakePermissions.h"
#include "fakes/FakeSystem.h"
#include "fakes/TemporaryDirectory.h"
#include "tests/voice_linux/SoundServer.h"
#include "tests/voice_linux/VoiceWatchingInput.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <thread>

namespace zorvane {
namespace {

namespace fs = std::filesystem;
using linux_platform::LinuxSpeechRecognizers;
using linux_platform::PulseAudioInput;
using linux_platform::SpeechRecognizerPlaces;
using testing::RealTimeQueue;
using testing::SoundServer;
using testing::VoiceWatchingInput;

// The microphone and speech halves of the permissions, put together as the desktop program does.
class DictationPermissions : public fakes::FakePermissions {
public:
    DictationPermissions(std::shared_ptr<AudioInput> input, std::shared_ptr<LinuxSpeechRecognizers> recognizers)
        : input_(std::move(input)), recognizers_(std::move(recognizers))
    {
    }
    Status microphoneStatus() override { return linux_platform::MicrophoneAccess::status(*input_); }
    Status speechRecognitionStatus() override { return recognizers_->authorizationStatus(); }
    bool isMicrophoneAuthorized() override { return microphoneStatus() == Status::authorized; }
    bool isSpeechRecognitionAuthorized() override { return speechRecognitionStatus() == Status::authorized; }

private:
    std::shared_ptr<AudioInput> input_;
    std::shared_ptr<LinuxSpeechRecognizers> recognizers_;
};

SpeechRecognizerPlaces placesIn(const fs::path& folder)
{
    SpeechRecognizerPlaces places;
    places.modelsFolder = folder / "models";
    places.voskLibrary = ZORVANE_TEST_VOSK_LIBRARY;
    return places;
}

TEST(PulseAudioInput, TapReceivesWhatIsPlayedIntoTheMicrophoneSampleForSample)
{
    SoundServer server; // 48 kHz stereo
    PulseAudioInput input;
    const AudioFormat format = input.inputFormat();
    EXPECT_EQ(format.sampleRate, 48000);
    EXPECT_EQ(format.channelCount, 2u);

    // A swelling tone with no zero sample, so that where it starts and ends in the captured
    // silence is unmistakable.
    std::vector<std::int16_t> tone(33600);
    for (std::size_t i = 0; i < tone.size(); ++i) {
        const double level = 0.05 + 0.45 * static_cast<double>(i) / static_cast<double>(tone.size());
        const auto sample = static_cast<std::int16_t>(std::lround(32767 * level * std::sin(2 * M_PI * 440 * static_cast<double>(i) / 48000)));
        tone[i] = sample >= 0 ? static_cast<std::int16_t>(sample + 1) : sample;
    }
    const fs::path wav = server.directory() / "tone.wav";
    // The server mixes a new stream into audio it has already rendered ahead, which its monitor has
    // passed on: a lead-in of silence keeps the tone clear of that.
    std::vector<std::int16_t> played(24000, 0);
    played.insert(played.end(), tone.begin(), tone.end());
    testing::writeWav(wav, played, 48000);

    std::mutex mutex;
    std::vector<float> left, right;
    std::vector<std::uint32_t> blockSizes;
    input.installTap(1024, format, [&](const AudioBuffer& buffer) {
        std::lock_guard lock(mutex);
        left.insert(left.end(), buffer.floatChannelData[0].begin(), buffer.floatChannelData[0].end());
        right.insert(right.end(), buffer.floatChannelData[1].begin(), buffer.floatChannelData[1].end());
        blockSizes.push_back(buffer.frameLength);
    });
    input.start();
    ASSERT_TRUE(input.isRunning());
    ASSERT_TRUE(server.waitForCapture());
    SoundServer::waitFor(server.startPlaying(wav));
    const auto captured = [&] {
        std::lock_guard lock(mutex);
        const auto first = std::find_if(left.begin(), left.end(), [](float s) { return s != 0; });
        return first != left.end() && left.end() - first > static_cast<long>(tone.size() + 4800);
    };
    for (int wait = 0; wait < 500 && !captured(); ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    input.removeTap();
    std::size_t blocksWhenRemoved;
    {
        std::lock_guard lock(mutex);
        blocksWhenRemoved = blockSizes.size();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    input.stop();
    EXPECT_FALSE(input.isRunning());

    ASSERT_TRUE(captured()) << "the tone never arrived in full";
    std::lock_guard lock(mutex);
    EXPECT_EQ(blockSizes.size(), blocksWhenRemoved) << "the tap ran after removeTap returned";
    EXPECT_TRUE(std::all_of(blockSizes.begin(), blockSizes.end(), [](std::uint32_t n) { return n == 1024; }));
    const std::size_t start = static_cast<std::size_t>(std::find_if(left.begin(), left.end(), [](float s) { return s != 0; }) - left.begin());
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < tone.size(); ++i) {
        const float expected = static_cast<float>(tone[i]) / 32768.0f;
        mismatches += left[start + i] != expected || right[start + i] != expected;
    }
    EXPECT_EQ(mismatches, 0u);

    // Nothing but silence around it: the tone arrived exactly once, with its own length.
    EXPECT_TRUE(std::all_of(left.begin() + static_cast<long>(start + tone.size()), left.end(), [](float s) { return s == 0; }));
}

TEST(Dictation, SpeechThroughTheSoundServerBecomesTheQuestionAndEndsAfterSilence)
{
    SoundServer server;
    const fs::path wav = testing::speak(server.directory(), "en-us", "Please explain this image.", 0.5, 3.0);
    // Free dictation of synthetic speech is poor; a phrase grammar fixes the words the test expects.
    SpeechRecognizerPlaces places = placesIn(server.directory());
    places.english.grammar = server.directory() / "phrases.gram";
    std::ofstream(*places.english.grammar) << "#JSGF V1.0;\ngrammar phrases;\npublic <phrase> = what is this | "
                                              "explain this image | please explain this image | hello what is this;\n";

    auto clock = std::make_shared<SystemClock>();
    auto queue = std::make_shared<RealTimeQueue>();
    auto pulse = std::make_shared<PulseAudioInput>();
    auto input = std::make_shared<VoiceWatchingInput>(pulse, clock);
    auto recognizers = std::make_shared<LinuxSpeechRecognizers>(places, nullptr, "en_US");
    auto permissions = std::make_shared<DictationPermissions>(pulse, recognizers);
    auto service = SpeechInputService::create(input, recognizers, permissions, clock, queue, "en_US");
    ASSERT_TRUE(service->hasRecognizer());

    double endedAt = 0;
    service->addObserver([&] {
        if (!service->isListening() && endedAt == 0) endedAt = clock->now();
    });
    struct Heard {
        std::string text;
        bool whileListening;
    };
    std::vector<Heard> heard;
    std::vector<std::string> heardByReplaced;
    // The first dictation is replaced at once: its recognition is given up and must not leak.
    service->start([&](const std::string& text) { heardByReplaced.push_back(text); });
    service->start([&](const std::string& text) { heard.push_back({text, service->isListening()}); });
    ASSERT_TRUE(service->isListening()) << service->authorizationMessage().value_or("");
    ASSERT_TRUE(server.waitForCapture());
    const pid_t player = server.startPlaying(wav);
    const bool finished = queue->runUntil([&] { return endedAt > 0 && !heard.empty() && !heard.back().whileListening; }, 30);
    SoundServer::waitFor(player);
    ASSERT_TRUE(finished) << "dictation did not end with a final text";

    EXPECT_EQ(heard.back().text, "please explain this image");
    EXPECT_TRUE(std::any_of(heard.begin(), heard.end(), [](const Heard& h) { return h.whileListening && !h.text.empty(); }))
        << "no partial text while listening";
    EXPECT_TRUE(heardByReplaced.empty());
    // 1.15 s of silence after the last voice, checked every 0.15 s; a little more for the
    // hops between threads on a busy machine.
    const double silence = endedAt - input->lastVoice();
    EXPECT_GE(silence, 1.15);
    EXPECT_LE(silence, 1.45);
}

TEST(Dictation, WithoutAUsableMicrophoneTheUserIsToldWhyAndNothingHangs)
{
    auto clock = std::make_shared<SystemClock>();
    auto queue = std::make_shared<RealTimeQueue>();
    auto granted = std::make_shared<fakes::FakePermissions>();
    granted->grantAll();
    const auto check = [&](const char* situation, const std::string& expectedStartFailure) {
        SCOPED_TRACE(situation);
        auto input = std::make_shared<PulseAudioInput>();
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(input->inputFormat().sampleRate, 0);
        EXPECT_EQ(linux_platform::MicrophoneAccess::status(*input), Permissions::Status::denied);
        std::string startFailure = "(started)";
        try {
            input->start();
        } catch (...) {
            startFailure = describe(std::current_exception());
        }
        EXPECT_EQ(startFailure, expectedStartFailure);
        EXPECT_FALSE(input->isRunning());
        auto service = SpeechInputService::create(input, nullptr, granted, clock, queue, "es_ES");
        service->start([](const std::string&) {});
        EXPECT_EQ(service->authorizationMessage(), SpeechInputService::noInputMessage);
        EXPECT_FALSE(service->isListening());
        // Each call waits for the server at most a second; a frozen one must not freeze us.
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(6));
    };
    {
        testing::NoSoundServer none;
        check("no sound server", "No hay un servidor de sonido disponible.");
    }
    {
        SoundServer server;
        server.pause(true);
        check("a server that does not answer", "El servidor de sonido no responde.");
    }
    for (const bool speaker : {true, false}) {
        SoundServer server({.speaker = speaker, .microphone = false});
        check(speaker ? "only the speakers' monitor" : "no devices at all", "No hay un micrófono disponible.");
    }

    // Denied: the sound settings open, in whichever mixer the desktop has.
    fakes::FakeWorkspace workspace;
    workspace.installed = {"pavucontrol"};
    EXPECT_TRUE(linux_platform::MicrophoneAccess::openSoundSettings(workspace));
    ASSERT_EQ(workspace.openedWithApplication.size(), 1u);
    EXPECT_EQ(workspace.openedWithApplication[0].second, "pavucontrol");
}

TEST(Dictation, AMicrophoneRemovedWhileListeningEndsTheDictation)
{
    SoundServer server;
    const fs::path wav = testing::speak(server.directory(), "es", "Explica esta imagen, por favor.", 0.3, 0.0);
    auto clock = std::make_shared<SystemClock>();
    auto queue = std::make_shared<RealTimeQueue>();
    auto pulse = std::make_shared<PulseAudioInput>();
    auto input = std::make_shared<VoiceWatchingInput>(pulse, clock);
    auto permissions = std::make_shared<fakes::FakePermissions>();
    permissions->grantAll();
    auto service = SpeechInputService::create(input, nullptr, permissions, clock, queue, "es_ES");

    service->start([](const std::string&) {});
    ASSERT_TRUE(service->isListening());
    ASSERT_TRUE(server.waitForCapture());
    const pid_t player = server.startPlaying(wav);
    ASSERT_TRUE(queue->runUntil([&] { return input->lastVoice() > 0; }, 10));
    server.removeMicrophone();
    EXPECT_TRUE(queue->runUntil([&] { return !service->isListening(); }, 10));
    SoundServer::waitFor(player);
    EXPECT_FALSE(pulse->isRunning());

    // Only the speakers' monitor is left, which is no microphone.
    service->start([](const std::string&) {});
    EXPECT_FALSE(service->isListening());
    EXPECT_EQ(service->authorizationMessage(), SpeechInputService::noInputMessage);
}

void writeFile(const fs::path& path, const std::string& bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// The files of a model, with the right headers but nothing usable behind them.
void writeHollowModel(const fs::path& folder)
{
    writeFile(folder / "am" / "final.mdl", std::string("\0B<TransitionModel> <Topology> nothing here", 43));
    writeFile(folder / "graph" / "HCLG.fst", "\xd6\xfd\xb2\x7e not a graph");
    writeFile(folder / "conf" / "mfcc.conf", "--sample-frequency=16000\n");
    writeFile(folder / "conf" / "model.conf", "--min-active=200\n");
}

TEST(VoskRecognizer, WithALibraryAndAModelSpeechBecomesTextAcrossPauses)
{
    // The library here is a stand-in with libvosk's interface: it hears one word per burst of
    // sound, on the 16-bit scale Vosk expects, and closes a segment at a pause, as Vosk does.
    fakes::TemporaryDirectory folder;
    SpeechRecognizerPlaces places = placesIn(folder.path());
    places.voskLibrary = FAKE_VOSK_LIBRARY;
    writeHollowModel(places.modelsFolder / "es" / "vosk-model-small-es-0.42"); // as the archive unpacks
    LinuxSpeechRecognizers recognizers(places, nullptr, "es_ES");
    auto recognizer = recognizers.recognizerForLocale("es_ES");
    ASSERT_NE(recognizer, nullptr) << recognizers.unavailableReason().value_or("");

    std::mutex mutex;
    std::condition_variable reported;
    std::vector<SpeechRecognitionResult> results;
    auto request = recognizer->makeRequest(true);
    auto task = recognizer->recognitionTask(request, [&](const std::optional<SpeechRecognitionResult>& result, const auto&) {
        std::lock_guard lock(mutex);
        if (result) results.push_back(*result);
        reported.notify_all();
    });
    ASSERT_NE(task, nullptr);

    // Five words at the microphone's 48 kHz, with a pause after the third.
    std::vector<float> audio;
    const auto add = [&](double seconds, bool sound) {
        for (int i = 0; i < static_cast<int>(seconds * 48000); ++i)
            audio.push_back(sound ? 0.3f * static_cast<float>(std::sin(2 * M_PI * 300 * i / 48000.0)) : 0.0f);
    };
    add(0.2, false);
    for (const double pause : {0.1, 0.1, 0.6, 0.1, 0.3}) {
        add(0.15, true);
        add(pause, false);
    }
    for (std::size_t offset = 0; offset < audio.size(); offset += 1024) {
        const auto end = audio.begin() + static_cast<long>(std::min(audio.size(), offset + 1024));
        std::vector<float> block(audio.begin() + static_cast<long>(offset), end);
        request->append(AudioBuffer {{48000, 1}, {block}, static_cast<std::uint32_t>(block.size())});
    }
    request->endAudio();
    std::unique_lock lock(mutex);
    ASSERT_TRUE(reported.wait_for(lock, std::chrono::seconds(20), [&] { return !results.empty() && results.back().isFinal; }));
    EXPECT_EQ(results.back().bestTranscription, "explica esta imagen por favor");
    EXPECT_TRUE(std::any_of(results.begin(), results.end(), [](const SpeechRecognitionResult& r) { return !r.isFinal; }));
}

TEST(VoskRecognizer, WithoutALibraryOrAModelThereIsNoRecognizerAndTheReasonIsReadable)
{
    fakes::TemporaryDirectory temporary;
    const fs::path folder = temporary / "vosk";
    struct Case {
        const char* name;
        fs::path library;
        std::function<void(const fs::path& models)> install;
        const char* reason;
    };
    const Case cases[] = {
        {"missing library", folder / "nowhere" / "libvosk.so", writeHollowModel, "Falta la biblioteca"},
        {"library of another kind", PULSE_LIBRARY_FOR_TESTS, writeHollowModel, "no es de una versión compatible"},
        {"missing model", ZORVANE_TEST_VOSK_LIBRARY, [](const fs::path&) {}, "No hay un modelo"},
        {"corrupt model", ZORVANE_TEST_VOSK_LIBRARY,
            [](const fs::path& es) {
                writeFile(es / "vosk-model-small-es" / "am" / "final.mdl", "garbage");
                writeFile(es / "vosk-model-small-es" / "graph" / "HCLr.fst", "garbage");
            },
            "está incompleto o dañado"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder);
        SpeechRecognizerPlaces places = placesIn(folder);
        places.voskLibrary = c.library;
        c.install(places.modelsFolder / "es");
        LinuxSpeechRecognizers recognizers(places, nullptr, "es_ES");
        EXPECT_EQ(recognizers.recognizerForLocale("es_ES"), nullptr);
        EXPECT_EQ(recognizers.authorizationStatus(), Permissions::Status::notDetermined);
        EXPECT_NE(recognizers.unavailableReason().value_or("").find(c.reason), std::string::npos)
            << recognizers.unavailableReason().value_or("(none)");
    }

    // A model that only looks right is found out when the first dictation loads it, off the
    // caller's thread; from then on there is no recogniser, and the reason says why.
    fs::remove_all(folder);
    SpeechRecognizerPlaces places = placesIn(folder);
    writeHollowModel(places.modelsFolder / "es");
    auto workspace = std::make_shared<fakes::FakeWorkspace>();
    LinuxSpeechRecognizers recognizers(places, workspace, "es_ES");
    auto recognizer = recognizers.recognizerForLocale("es_ES");
    ASSERT_NE(recognizer, nullptr);
    EXPECT_EQ(recognizers.authorizationStatus(), Permissions::Status::authorized);
    std::mutex mutex;
    std::condition_variable reported;
    std::optional<std::string> error;
    auto request = recognizer->makeRequest(true);
    auto task = recognizer->recognitionTask(request, [&](const auto&, const std::optional<std::string>& failure) {
        std::lock_guard lock(mutex);
        error = failure;
        reported.notify_all();
    });
    ASSERT_NE(task, nullptr);
    request->append(AudioBuffer {{16000, 1}, {std::vector<float>(1024, 0.1f)}, 1024});
    request->endAudio();
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(reported.wait_for(lock, std::chrono::seconds(20), [&] { return error.has_value(); }));
    }
    EXPECT_NE(error->find("no se pudo cargar"), std::string::npos) << *error;
    EXPECT_EQ(recognizers.recognizerForLocale("es_ES"), nullptr);
    EXPECT_EQ(recognizers.unavailableReason(), error);
    EXPECT_EQ(recognizer->recognitionTask(recognizer->makeRequest(true), nullptr), nullptr);

    // Asking for access makes the folder a model goes in and shows it.
    bool answered = false;
    fs::remove_all(places.modelsFolder);
    recognizers.requestAuthorization([&] { answered = true; });
    EXPECT_TRUE(answered);
    EXPECT_TRUE(fs::is_directory(places.modelsFolder / "es"));
    EXPECT_EQ(workspace->revealed, std::vector<fs::path> {places.modelsFolder / "es"});
}

} // namespace
} // namespace zorvane
