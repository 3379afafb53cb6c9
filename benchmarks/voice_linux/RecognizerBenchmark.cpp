// Real-time factor of the offline recognisers on synthetic speech, fed as the microphone would:
// 1024-frame blocks, a partial text after each, the final text at the end.
#include "app/platform/linux/speech/PocketSphinxDecoder.h"
#include "app/platform/linux/speech/Resampler.h"
#include "tests/voice_linux/SoundServer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using namespace zorvane;
using namespace zorvane::linux_platform;

struct Fixture {
    fs::path folder;
    std::vector<float> speech; // 16 kHz mono
    fs::path grammar;

    Fixture()
    {
        std::string pattern = (fs::temp_directory_path() / "zorvane-bench.XXXXXX").string();
        folder = mkdtemp(pattern.data());
        const fs::path wav = testing::speak(folder, "en-us",
            "Please explain this image. What is this button for, and why is the window so small?", 0.3, 0.5);
        for (const std::int16_t sample : testing::readWav(wav)) speech.push_back(static_cast<float>(sample) / 32768.0f);
        grammar = folder / "phrases.gram";
        std::ofstream(grammar) << "#JSGF V1.0;\ngrammar phrases;\npublic <phrase> = please explain this image "
                                  "what is this button for and why is the window so small;\n";
    }
    ~Fixture() { fs::remove_all(folder); }
};

Fixture& fixture()
{
    static Fixture instance;
    return instance;
}

double threadSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void recognise(benchmark::State& state, const PocketSphinxModel& model)
{
    const std::vector<float>& speech = fixture().speech;
    auto decoder = loadPocketSphinx(model);
    double busy = 0;
    double working = 0; // processor time: the machine is shared, so the wall clock also counts waiting
    std::size_t words = 0;
    for (auto _ : state) {
        const double startCpu = threadSeconds();
        const auto start = std::chrono::steady_clock::now();
        decoder->begin();
        std::vector<float> block;
        for (std::size_t offset = 0; offset < speech.size(); offset += 1024) {
            block.assign(speech.begin() + static_cast<long>(offset),
                speech.begin() + static_cast<long>(std::min(speech.size(), offset + 1024)));
            decoder->accept(block);
            benchmark::DoNotOptimize(decoder->partialText());
        }
        const std::string text = decoder->finish();
        busy += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        working += threadSeconds() - startCpu;
        words = static_cast<std::size_t>(std::count(text.begin(), text.end(), ' ') + (text.empty() ? 0 : 1));
    }
    const double seconds = static_cast<double>(speech.size()) / 16000.0;
    state.counters["realTimeFactor"] = busy / (seconds * static_cast<double>(state.iterations()));
    state.counters["cpuRealTimeFactor"] = working / (seconds * static_cast<double>(state.iterations()));
    state.counters["audioSeconds"] = seconds;
    state.counters["words"] = static_cast<double>(words);
}

void BM_PocketSphinxFreeDictation(benchmark::State& state)
{
    recognise(state, PocketSphinxModel {});
}

void BM_PocketSphinxPhraseGrammar(benchmark::State& state)
{
    PocketSphinxModel model;
    model.grammar = fixture().grammar;
    recognise(state, model);
}

// One second of 48 kHz microphone audio down to the models' 16 kHz: the time per iteration is the
// time per second of speech.
void BM_Resample48kTo16k(benchmark::State& state)
{
    std::vector<float> input(48000);
    for (std::size_t i = 0; i < input.size(); ++i) input[i] = static_cast<float>(std::sin(static_cast<double>(i) * 0.05));
    std::vector<float> output;
    for (auto _ : state) {
        Resampler resampler(48000, 16000);
        output.clear();
        for (std::size_t offset = 0; offset < input.size(); offset += 1024)
            resampler.process(input.data() + offset, std::min<std::size_t>(1024, input.size() - offset), output);
        benchmark::DoNotOptimize(output.data());
    }
}

BENCHMARK(BM_PocketSphinxFreeDictation)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_PocketSphinxPhraseGrammar)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Resample48kTo16k)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
