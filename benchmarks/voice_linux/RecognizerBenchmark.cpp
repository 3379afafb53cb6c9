// Real-time factor of the offline recognisers on synthetic speech, fed as the microphone would:
// 1024-frame blocks, a partial text after each, the final text at the end.
#include "app/platform/linux/speech/PocketSphinxDecoder.h"
#include "app/platform/linux/speech/Resampler.h"
#include "benchmarks/ProcessFigures.h"
#include "tests/support/SoundServer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using namespace zorvane;
using namespace zorvane::linux_platform;

// The speech is made in the sound world's folder; no server is needed for that.
struct Fixture {
    testing::SoundServer world {{.running = false}};
    std::vector<float> speech; // 16 kHz mono
    fs::path grammar = world.directory() / "phrases.gram";

    Fixture()
    {
        const fs::path wav = testing::speak(world, "en-us",
            "Please explain this image. What is this button for, and why is the window so small?", 0.3, 0.5);
        const std::string bytes = world.run({"sox", wav.string(), "-t", "raw", "-e", "signed", "-b", "16", "-"});
        for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
            std::int16_t sample;
            std::memcpy(&sample, bytes.data() + at, 2);
            speech.push_back(static_cast<float>(sample) / 32768.0f);
        }
        std::ofstream(grammar) << "#JSGF V1.0;\ngrammar phrases;\npublic <phrase> = please explain this image "
                                  "what is this button for and why is the window so small;\n";
    }
};

Fixture& fixture()
{
    static Fixture instance;
    return instance;
}

void recognise(benchmark::State& state, const PocketSphinxModel& model)
{
    const std::vector<float>& speech = fixture().speech;
    auto decoder = loadPocketSphinx(model);
    double busy = 0;
    double working = 0; // processor time: the machine is shared, so the wall clock also counts waiting
    std::size_t words = 0;
    for (auto _ : state) {
        const double startCpu = testing::processorSeconds();
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
        working += testing::processorSeconds() - startCpu;
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
