// Dictation on the desktop's real audio path: a private PulseAudio, PulseAudioInput, pocketsphinx,
// speech models from a loopback server, and Vosk's interface (the stand-in in FakeVosk.cpp, since no
// Spanish model can be had here).
#include "app/core/LocalizedError.h"
#include "app/platform/linux/LinuxPermissions.h"
#include "app/platform/linux/audio/MicrophoneAccess.h"
#include "app/platform/linux/audio/PulseAudioInput.h"
#include "app/platform/linux/speech/LinuxSpeechModels.h"
#include "app/platform/linux/speech/LinuxSpeechRecognizers.h"
#include "app/voice/SpeechInputService.h"
#include "fakes/FakeSystem.h"
#include "tests/support/HttpServer.h"
#include "tests/support/SoundServer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace zorvane {
namespace {

namespace fs = std::filesystem;
using fakes::writeFile;
using linux_platform::LinuxSpeechRecognizers;
using linux_platform::MicrophoneAccess::status;
using linux_platform::PulseAudioInput;
using linux_platform::SpeechRecognizerPlaces;
using testing::SoundServer;

SpeechRecognizerPlaces placesIn(const fs::path& models, const fs::path& voskLibrary = ZORVANE_TEST_VOSK_LIBRARY)
{
    SpeechRecognizerPlaces places;
    places.modelsFolder = models;
    places.voskLibrary = voskLibrary;
    return places;
}

TEST(PulseAudioInput, TapReceivesWhatIsPlayedIntoTheMicrophoneSampleForSample)
{
    SoundServer server; // 48 kHz stereo
    PulseAudioInput input;
    EXPECT_EQ(input.inputFormat().sampleRate, 48000);
    EXPECT_EQ(input.inputFormat().channelCount, 2u);
    // A lead-in of silence (the server mixes a new stream into audio it has already rendered ahead),
    // then a sound with no zero sample, so where it starts and ends is unmistakable.
    std::vector<std::int16_t> played(24000, 0);
    std::vector<float> sound;
    for (int i = 0; i < 33600; ++i) {
        played.push_back(static_cast<std::int16_t>((i % 2 ? 1 : -1) * (1 + i % 30000)));
        sound.push_back(played.back() / 32768.0f);
    }
    std::ofstream(server.directory() / "sound.raw", std::ios::binary)
        .write(reinterpret_cast<const char*>(played.data()), static_cast<std::streamsize>(played.size() * 2));

    std::mutex mutex;
    std::vector<float> left, right;
    std::atomic<std::size_t> blocks = 0;
    input.installTap(1024, input.inputFormat(), [&](const AudioBuffer& buffer) {
        std::lock_guard lock(mutex);
        left.insert(left.end(), buffer.floatChannelData[0].begin(), buffer.floatChannelData[0].end());
        right.insert(right.end(), buffer.floatChannelData[1].begin(), buffer.floatChannelData[1].end());
        ++blocks;
    });
    input.start();
    ASSERT_TRUE(input.isRunning());
    ASSERT_TRUE(server.waitForCapture());
    server.waitFor(server.startPlaying(server.directory() / "sound.raw", {"--raw", "--rate=48000", "--channels=1", "--format=s16le"}));
    const auto soundHeard = [&] { // samples not silent, once 0.1 s of silence followed them
        std::lock_guard lock(mutex);
        const bool after = std::find_if(left.rbegin(), left.rend(), [](float s) { return s != 0; }) - left.rbegin() > 4800;
        return after ? std::count_if(left.begin(), left.end(), [](float s) { return s != 0; }) : 0;
    };
    ASSERT_TRUE(testing::waitUntil(10, [&] { return soundHeard() >= static_cast<long>(sound.size()); })) << "the sound never arrived in full";
    input.removeTap();
    const std::size_t blocksWhenRemoved = blocks;
    EXPECT_FALSE(testing::waitUntil(0.2, [&] { return blocks != blocksWhenRemoved; })) << "the tap ran after removeTap";
    input.stop();
    EXPECT_FALSE(input.isRunning());
    EXPECT_EQ(left.size(), blocks * 1024);
    EXPECT_EQ(left, right);
    // The sound arrived exactly once, sample for sample, and nothing else did.
    EXPECT_NE(std::search(left.begin(), left.end(), sound.begin(), sound.end()), left.end());
    EXPECT_EQ(soundHeard(), static_cast<long>(sound.size()));
}

// How soon after the last voice a dictation ends is a rule of the service's own tests, and measured
// in benchmarks/voice_linux; here it has to end at all, with the words that were said.
TEST(Dictation, SpeechBecomesTheQuestionAndEndsAfterSilenceOrWhenTheMicrophoneGoes)
{
    SoundServer server;
    const fs::path wav = testing::speak(server, "en-us", "Please explain this image.", 0.5, 1.0);
    // Free dictation of synthetic speech is poor; a phrase grammar fixes the words the test expects.
    SpeechRecognizerPlaces places = placesIn(server.directory() / "models");
    places.english.grammar = server.directory() / "phrases.gram";
    std::ofstream(*places.english.grammar) << "#JSGF V1.0;\ngrammar phrases;\npublic <phrase> = what is this | "
                                              "explain this image | please explain this image | hello what is this;\n";
    auto clock = std::make_shared<fakes::FakeClock>();
    auto queue = std::make_shared<fakes::ManualMainQueue>(*clock);
    auto input = std::make_shared<PulseAudioInput>();
    auto recognizers = std::make_shared<LinuxSpeechRecognizers>(places, nullptr, "en_US");
    // The two halves of the permissions, put together as the desktop program does.
    PermissionHalves halves;
    halves.microphoneStatus = [input] { return status(*input); };
    halves.speechRecognitionStatus = [recognizers] { return recognizers->authorizationStatus(); };
    auto service = SpeechInputService::create(input, recognizers, std::make_shared<LinuxPermissions>(halves), clock, queue, "en_US");

    std::vector<std::pair<std::string, bool>> heard; // text, while listening
    std::vector<std::string> heardByReplaced;
    // The first dictation is replaced at once: its recognition is given up and must not leak.
    service->start([&](const std::string& text) { heardByReplaced.push_back(text); });
    service->start([&](const std::string& text) { heard.emplace_back(text, service->isListening()); });
    ASSERT_TRUE(service->isListening()) << service->authorizationMessage().value_or("");
    ASSERT_TRUE(server.waitForCapture());
    pid_t player = server.startPlaying(wav);
    const bool finished = testing::runInRealTime(*queue, [&] { return !service->isListening() && !heard.empty() && !heard.back().second; }, 30);
    server.waitFor(player);
    ASSERT_TRUE(finished) << "dictation did not end with a final text";
    EXPECT_EQ(heard.back().first, "please explain this image");
    EXPECT_TRUE(std::any_of(heard.begin(), heard.end(), [](const auto& h) { return h.second && !h.first.empty(); })) << "no partial text";
    EXPECT_TRUE(heardByReplaced.empty());

    // The microphone is unplugged while the user speaks: the dictation ends, and the speakers'
    // monitor that is left is no microphone.
    bool speaking = false;
    service->start([&](const std::string& text) { speaking = !text.empty(); });
    player = server.startPlaying(wav);
    ASSERT_TRUE(testing::runInRealTime(*queue, [&] { return speaking; }, 10));
    server.removeMicrophone();
    EXPECT_TRUE(testing::runInRealTime(*queue, [&] { return !service->isListening(); }, 10));
    server.waitFor(player);
    EXPECT_FALSE(input->isRunning());
    EXPECT_EQ(status(*input), Permissions::Status::denied);
}

TEST(Dictation, WithoutAUsableMicrophoneTheUserIsToldWhyAndNothingHangs)
{
    const std::tuple<testing::SoundServerOptions, bool, std::string> cases[] = { // world, frozen, why
        {{.running = false}, false, "No hay un servidor de sonido disponible."},
        {{}, true, "El servidor de sonido no responde."},
        {{.speaker = false, .microphone = false}, false, "No hay un micrófono disponible."},
    };
    for (const auto& [world, frozen, why] : cases) {
        SCOPED_TRACE(why);
        SoundServer server(world);
        server.pause(frozen);
        PulseAudioInput input;
        const auto before = std::chrono::steady_clock::now();
        // No format is what makes dictation say there is no input, and this is why.
        EXPECT_EQ(input.inputFormat().sampleRate, 0);
        EXPECT_EQ(input.unavailableReason(), why);
        EXPECT_EQ(status(input), Permissions::Status::denied);
        try {
            input.start();
            ADD_FAILURE() << "started";
        } catch (...) {
            EXPECT_EQ(describe(std::current_exception()), why);
        }
        EXPECT_FALSE(input.isRunning());
        // Each call waits for the server at most a second; a frozen one must not freeze us.
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
        server.pause(false);
    }
}

// The files of a model, with the right headers but nothing usable behind them.
void writeHollowModel(const fs::path& folder)
{
    writeFile(folder / "am/final.mdl", std::string("\0B<TransitionModel> <Topology> nothing here", 43));
    writeFile(folder / "graph/HCLG.fst", "\xd6\xfd\xb2\x7e not a graph");
    writeFile(folder / "conf/mfcc.conf", "--sample-frequency=16000\n");
    writeFile(folder / "conf/model.conf", "--min-active=200\n");
}

// The language's model one click away, from a loopback server (plain HTTP through the test-only
// switch): only an archive that passes every check is installed, the others leave nothing behind
// and say why; one cut off by closing resumes where it stopped; the recognisers that had no model
// hear through the new one at once (Vosk's stand-in), and "Eliminar" takes it away again.
TEST(SpeechModels, OnlyAnArchiveThatPassesEveryCheckIsInstalledAndHeardThroughAtOnce)
{
    using linux_platform::LinuxSpeechModels;
    using linux_platform::SpeechModelEntry;
    SoundServer world {{.running = false}};
    testing::HttpServer server;
    const fs::path site = world.directory() / "site", speech = world.directory() / "speech";
    fs::create_directory(site);
    const std::string md5 = world.run({"python3", "-c",
        "import hashlib, sys, zipfile\n"
        "def archive(name, extra=[]):\n"
        "    with zipfile.ZipFile(sys.argv[1] + '/' + name, 'w') as z:\n"
        "        for path, data in [('am/final.mdl', b'\\0B<TransitionModel> ' + bytes(3000000)), ('graph/HCLG.fst', b'\\xd6\\xfd\\xb2\\x7e'),\n"
        "                ('conf/mfcc.conf', b''), ('conf/model.conf', b'')] + extra:\n"
        "            z.writestr(path if path.startswith('..') else 'vosk-model-small-es-0.42/' + path, data)\n"
        "archive('good.zip')\narchive('escapes.zip', [('../../outside.txt', b'')])\n"
        "good = open(sys.argv[1] + '/good.zip', 'rb').read()\n"
        "open(sys.argv[1] + '/cut.zip', 'wb').write(good[:len(good) // 3])\n"
        "print(hashlib.md5(good).hexdigest(), end='')\n", site.string()});
    for (const auto& file : fs::directory_iterator(site)) server.put("/" + file.path().filename().string(), fakes::readFile(file.path()));
    const auto entry = [&](const char* file, std::int64_t moreBytes = 0, const std::string& sum = "") {
        return SpeechModelEntry {"es", "vosk-model-small-es-0.42", server.url(std::string("/") + file),
            fs::file_size(site / file) + moreBytes, sum.empty() ? "" : "MD5", sum, {"am/final.mdl", "conf/model.conf"}};
    };
    SpeechRecognizerPlaces places = placesIn(speech, FAKE_VOSK_LIBRARY);
    places.downloadable = {"es"};
    auto recognizers = std::make_shared<LinuxSpeechRecognizers>(places, nullptr, "es_ES");
    auto clock = std::make_shared<fakes::FakeClock>();
    auto queue = std::make_shared<fakes::ManualMainQueue>(*clock);
    const auto modelsFor = [&](const SpeechModelEntry& offered) {
        return LinuxSpeechModels::create({.modelsFolder = speech, .language = "es", .catalog = {offered}, .recognizers = recognizers,
            .mainQueue = queue, .allowPlainHttpToLoopback = true});
    };
    const auto settled = [&](const std::shared_ptr<LinuxSpeechModels>& models) {
        using Phase = SpeechModels::Phase;
        return testing::runInRealTime(*queue, [&] { return models->status().phase != Phase::downloading && models->status().phase != Phase::installing; }, 30);
    };

    const std::tuple<SpeechModelEntry, std::string> refused[] = {
        {entry("cut.zip"), "el archivo del modelo de voz está dañado o incompleto."},
        {entry("good.zip", 1), "el archivo descargado no tiene el tamaño que anuncia su publicador."},
        {entry("good.zip", 0, "00000000000000000000000000000000"), "el archivo descargado no es el que se publicó"},
        {entry("escapes.zip"), "el archivo del modelo de voz contiene rutas que salen de su carpeta."},
    };
    for (const auto& [offered, why] : refused) {
        SCOPED_TRACE(why);
        auto models = modelsFor(offered);
        models->download();
        ASSERT_TRUE(settled(models));
        EXPECT_NE(models->status().failure.value_or("").find(why), std::string::npos) << models->status().failure.value_or("(none)");
        EXPECT_TRUE(!fs::exists(speech) || fs::is_empty(speech)) << "something was left behind";
    }
    EXPECT_EQ(recognizers->unavailableReason(), "Para dictar en español hace falta un modelo de voz.");

    // Asking for speech recognition downloads the model; closing Zorvane a third of the way keeps
    // what came, and the next download asks only for the rest.
    server.hold(fs::file_size(site / "good.zip") / 3);
    auto models = modelsFor(entry("good.zip", 0, md5));
    recognizers->setModelInstaller([&] { return models->installIfOffered(); });
    recognizers->requestAuthorization({});
    ASSERT_TRUE(testing::runInRealTime(*queue, [&] { return models->status().receivedBytes == fs::file_size(site / "good.zip") / 3; }, 20));
    models.reset();
    server.release();
    models = modelsFor(entry("good.zip", 0, md5));
    EXPECT_EQ(models->status().receivedBytes, fs::file_size(site / "good.zip") / 3);
    models->download();
    ASSERT_TRUE(settled(models));
    EXPECT_EQ(models->status().installedModel, "vosk-model-small-es-0.42") << models->status().failure.value_or("");
    EXPECT_EQ(server.requests("/good.zip", "206"), 1);
    EXPECT_EQ(models->engine().description, "Dictado usa Vosk con el modelo vosk-model-small-es-0.42.");

    // The stand-in hears one word per burst of sound, on the 16-bit scale Vosk expects, and closes
    // a segment after 0.3 s of quiet, as Vosk does at a pause.
    auto recognizer = recognizers->recognizerForLocale("es_ES");
    ASSERT_NE(recognizer, nullptr) << recognizers->unavailableReason().value_or("");
    auto request = recognizer->makeRequest(true);
    std::mutex mutex;
    std::condition_variable changed;
    std::string reports; // a line each: "partial …", "final …" or "failed …"
    auto task = recognizer->recognitionTask(request, [&](const auto& result, const std::optional<std::string>& failure) {
        std::lock_guard lock(mutex);
        reports += result ? (result->isFinal ? "final " : "partial ") + result->bestTranscription + "\n" : "failed " + failure.value_or("") + "\n";
        changed.notify_all();
    });
    const auto reported = [&](const std::string& report) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] { return reports.find(report) != std::string::npos; });
    };
    const auto say = [&](std::initializer_list<double> pauses) { // words at the microphone's 48 kHz
        std::vector<float> audio;
        for (const double pause : pauses) {
            for (int i = 0; i < 7200; ++i) audio.push_back(0.3f * static_cast<float>(std::sin(2 * M_PI * 300 * i / 48000.0)));
            audio.resize(audio.size() + static_cast<std::size_t>(pause * 48000), 0.0f);
        }
        request->append(AudioBuffer {{48000, 1}, {audio}, static_cast<std::uint32_t>(audio.size())});
    };
    say({0.1, 0.1, 0.6}); // the pause closes the first segment
    EXPECT_TRUE(reported("partial explica esta imagen\n")) << reports;
    say({0.1, 0.1});
    request->endAudio();
    EXPECT_TRUE(reported("final explica esta imagen por favor\n")) << reports;

    models->removeModel();
    EXPECT_FALSE(fs::exists(speech / "es"));
    EXPECT_EQ(recognizers->recognizerForLocale("es_ES"), nullptr);
}

TEST(VoskRecognizer, WithoutALibraryOrAModelThereIsNoRecognizerAndTheReasonIsReadable)
{
    fakes::TemporaryDirectory folder;
    const SpeechRecognizerPlaces vosk = placesIn(folder / "models");
    const std::tuple<fs::path, std::function<void(const fs::path& es)>, std::string> cases[] = { // library, model, why
        {folder / "nowhere/libvosk.so", writeHollowModel, "Falta la biblioteca"},
        {vosk.voskLibrary, [](const fs::path&) {}, "descomprímelo en " + (vosk.modelsFolder / "es").string()},
        {vosk.voskLibrary, [](const fs::path& es) { writeFile(es / "vosk-model-small-es/am/final.mdl", "garbage"); }, "está incompleto o dañado"},
        // Opened only by the first recognition, off the main thread: from then on it is the reason.
        {PULSE_LIBRARY_FOR_TESTS, writeHollowModel, "no es de una versión compatible"},
    };
    for (const auto& [library, install, why] : cases) {
        SCOPED_TRACE(why);
        fs::remove_all(vosk.modelsFolder);
        install(vosk.modelsFolder / "es");
        LinuxSpeechRecognizers recognizers(placesIn(vosk.modelsFolder, library), nullptr, "es_ES");
        if (auto recognizer = recognizers.recognizerForLocale("es_ES")) {
            std::atomic<bool> failed = false;
            auto task = recognizer->recognitionTask(recognizer->makeRequest(false), [&](const auto&, const auto& error) { failed = error.has_value(); });
            ASSERT_TRUE(testing::waitUntil(10, [&] { return failed.load(); }));
        }
        EXPECT_EQ(recognizers.recognizerForLocale("es_ES"), nullptr);
        EXPECT_EQ(recognizers.authorizationStatus(), Permissions::Status::notDetermined);
        EXPECT_NE(recognizers.unavailableReason().value_or("").find(why), std::string::npos) << recognizers.unavailableReason().value_or("(none)");
    }

    // English has Debian's pocketsphinx without a download, and Vosk once its model is there.
    LinuxSpeechRecognizers english(placesIn(vosk.modelsFolder, FAKE_VOSK_LIBRARY), nullptr, "en_US");
    EXPECT_EQ(english.engineInUse()->engine, "pocketsphinx");
    writeHollowModel(vosk.modelsFolder / "en/vosk-model-small-en-us-0.15");
    EXPECT_EQ(english.engineInUse()->engine, "Vosk");

    // Without an installer, asking for access makes the folder a model goes in and shows it.
    fs::remove_all(vosk.modelsFolder);
    auto workspace = std::make_shared<fakes::FakeWorkspace>();
    LinuxSpeechRecognizers recognizers(vosk, workspace, "es_ES");
    bool answered = false;
    recognizers.requestAuthorization([&] { answered = true; });
    EXPECT_TRUE(answered);
    EXPECT_EQ(workspace->revealed, std::vector<fs::path> {vosk.modelsFolder / "es"});
    EXPECT_TRUE(fs::is_directory(vosk.modelsFolder / "es"));
}

} // namespace
} // namespace zorvane
