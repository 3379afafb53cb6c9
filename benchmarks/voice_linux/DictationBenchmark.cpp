// End to end through a private sound server: how long after the last voice a dictation ends, and
// how much memory each recogniser takes (nothing before the first dictation).
#include "app/platform/linux/audio/PulseAudioInput.h"
#include "app/platform/linux/speech/LinuxSpeechRecognizers.h"
#include "app/platform/linux/speech/VoskRecognizer.h"
#include "app/voice/SpeechInputService.h"
#include "benchmarks/ProcessFigures.h"
#include "fakes/FakeSystem.h"
#include "tests/support/SoundServer.h"

#include <algorithm>
#include <fstream>
#include <atomic>
#include <cstdio>
#include <string>

namespace {

using namespace zorvane;
using namespace zorvane::linux_platform;
using zorvane::testing::residentMiB;
namespace fs = std::filesystem;

// The desktop's microphone, noting when its tap last saw a block with voice in it.
class VoiceWatchingInput : public linux_platform::PulseAudioInput {
public:
    explicit VoiceWatchingInput(std::shared_ptr<Clock> clock) : clock_(std::move(clock)) {}
    double lastVoice() const { return lastVoice_; }
    void installTap(std::uint32_t bufferSize, const AudioFormat& format, TapBlock block) override
    {
        PulseAudioInput::installTap(bufferSize, format, [this, block = std::move(block)](const AudioBuffer& buffer) {
            if (SpeechInputService::containsVoice(buffer, 0.012f)) lastVoice_ = clock_->now();
            block(buffer);
        });
    }

private:
    std::shared_ptr<Clock> clock_;
    std::atomic<double> lastVoice_ = 0;
};

struct Dictation {
    double silenceBeforeEnd = 0; // from the last voice block to isListening falling
    std::string text;
};

Dictation dictate(testing::SoundServer& server, const std::shared_ptr<SpeechInputService>& service,
    fakes::ManualMainQueue& queue, VoiceWatchingInput& input, const Clock& clock, const fs::path& wav)
{
    Dictation result;
    double endedAt = 0;
    bool finalText = false;
    const auto token = service->addObserver([&] {
        if (!service->isListening() && endedAt == 0) endedAt = clock.now();
    });
    service->start([&](const std::string& text) {
        result.text = text;
        finalText = !service->isListening();
    });
    server.waitForCapture();
    const pid_t player = server.startPlaying(wav);
    testing::runInRealTime(queue, [&] { return endedAt > 0 && finalText; }, 30);
    server.waitFor(player);
    testing::runInRealTime(queue, [] { return false; }, 1.2); // let the grace period pass
    service->removeObserver(token);
    result.silenceBeforeEnd = endedAt - input.lastVoice();
    return result;
}

void report(const char* engine, std::vector<double> gaps)
{
    std::sort(gaps.begin(), gaps.end());
    std::printf("%s: end of dictation after the last voice: median %.3f s, min %.3f s, max %.3f s over %zu runs "
                "(rule: 1.15-1.30 s)\n",
        engine, gaps[gaps.size() / 2], gaps.front(), gaps.back(), gaps.size());
}

} // namespace

int main()
{
    // The user's own places, read before the test server replaces HOME.
    SpeechRecognizerPlaces userPlaces = SpeechRecognizerPlaces::standard(ZORVANE_BENCH_BUNDLE_DIR);
    std::printf("resident size at start: %.1f MiB\n", residentMiB());

    testing::SoundServer server;
    const fs::path english = testing::speak(server, "en-us", "Please explain this image.", 0.5, 2.5);
    const fs::path spanish = testing::speak(server, "es", "Explica esta imagen, por favor.", 0.5, 2.5);
    // The main queue runs in real time; its clock moves in steps of 5 ms, which the figures include.
    auto clock = std::make_shared<fakes::FakeClock>();
    auto queue = std::make_shared<fakes::ManualMainQueue>(*clock);
    auto input = std::make_shared<VoiceWatchingInput>(clock);
    auto permissions = std::make_shared<fakes::FakePermissions>();
    permissions->grantAll();

    {
        auto recognizers = std::make_shared<LinuxSpeechRecognizers>(userPlaces, nullptr, "en_US");
        auto service = SpeechInputService::create(input, recognizers, permissions, clock, queue, "en_US");
        std::printf("pocketsphinx (free dictation), service made, nothing dictated: %.1f MiB\n", residentMiB());
        std::vector<double> gaps;
        for (int run = 0; run < 5; ++run) {
            const Dictation dictation = dictate(server, service, *queue, *input, *clock, english);
            gaps.push_back(dictation.silenceBeforeEnd);
            if (run == 0)
                std::printf("pocketsphinx (free dictation), after the first dictation: %.1f MiB; heard \"%s\"\n",
                    residentMiB(), dictation.text.c_str());
        }
        report("pocketsphinx", gaps);
    }

    const fs::path spanishModels = userPlaces.modelsFolder / "es";
    Vosk::ModelLookup model = Vosk::findModel(spanishModels);
    const char* vosk = model.model ? "vosk" : "vosk stand-in";
    if (!model.model) {
        const double before = residentMiB();
        const auto libraryProblem = Vosk::checkLibrary(userPlaces.voskLibrary);
        std::printf("vosk: no Spanish model (%s); the library alone, opened: %s, +%.1f MiB; the stand-in follows\n",
            model.reason.c_str(), libraryProblem ? libraryProblem->c_str() : "yes", residentMiB() - before);
        // Vosk's stand-in with a model's files: the same path through the service and the engine.
        userPlaces.modelsFolder = server.directory() / "speech";
        userPlaces.voskLibrary = FAKE_VOSK_LIBRARY;
        const fs::path hollow = userPlaces.modelsFolder / "es" / "vosk-model-small-es-0.42";
        for (const char* file : {"am/final.mdl", "graph/HCLG.fst", "conf/mfcc.conf", "conf/model.conf"}) fs::create_directories((hollow / file).parent_path());
        std::ofstream(hollow / "am/final.mdl", std::ios::binary) << std::string("\0B<TransitionModel>", 19);
        std::ofstream(hollow / "graph/HCLG.fst", std::ios::binary) << "\xd6\xfd\xb2\x7e";
        std::ofstream(hollow / "conf/mfcc.conf") << "--sample-frequency=16000\n";
        std::ofstream(hollow / "conf/model.conf") << "\n";
        model = Vosk::findModel(userPlaces.modelsFolder / "es");
    }
    auto recognizers = std::make_shared<LinuxSpeechRecognizers>(userPlaces, nullptr, "es_ES");
    auto service = SpeechInputService::create(input, recognizers, permissions, clock, queue, "es_ES");
    std::printf("%s (%s), service made, nothing dictated: %.1f MiB\n", vosk, model.model->c_str(), residentMiB());
    std::vector<double> gaps;
    for (int run = 0; run < 3; ++run) {
        const Dictation dictation = dictate(server, service, *queue, *input, *clock, spanish);
        gaps.push_back(dictation.silenceBeforeEnd);
        if (run == 0)
            std::printf("%s, after the first dictation: %.1f MiB; heard \"%s\"\n", vosk, residentMiB(), dictation.text.c_str());
    }
    report(vosk, gaps);
    return 0;
}
