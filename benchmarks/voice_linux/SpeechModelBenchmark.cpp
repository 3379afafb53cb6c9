// From "Descargar" to the first words heard through the new model, over loopback: the download of
// an archive the size of the Spanish model, its checks and unpacking, then the model's first load
// and first text. No real model is reachable here, so the model is Vosk's stand-in (FakeVosk); the
// real libvosk is only opened, to show what that costs the thread that does it.
#include "app/platform/linux/speech/LinuxSpeechModels.h"
#include "app/platform/linux/speech/VoskRecognizer.h"
#include "tests/support/HttpServer.h"
#include "tests/support/SoundServer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>

namespace {

using namespace zorvane;
using namespace zorvane::linux_platform;
namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

double since(Steady::time_point start) { return std::chrono::duration<double>(Steady::now() - start).count(); }

// The median first: on a shared machine one slow run moves the mean, not the median.
void report(const char* what, std::vector<double> values, const char* unit)
{
    std::sort(values.begin(), values.end());
    const double median = values[values.size() / 2];
    std::printf("%s: median %.3f %s, min %.3f %s, max %.3f %s over %zu runs\n", what, median, unit, values.front(), unit,
        values.back(), unit, values.size());
}

// Seconds from asking for a recognition to its first text: the model's load (on the engine's thread)
// and one word.
double firstText(LinuxSpeechRecognizers& recognizers)
{
    auto recognizer = recognizers.recognizerForLocale("es_ES");
    if (!recognizer) return -1;
    std::mutex mutex;
    std::condition_variable heard;
    bool any = false;
    const auto start = Steady::now();
    auto request = recognizer->makeRequest(true);
    auto task = recognizer->recognitionTask(request, [&](const auto& result, const auto&) {
        std::lock_guard lock(mutex);
        any = any || (result && !result->bestTranscription.empty());
        heard.notify_all();
    });
    std::vector<float> word(7200);
    for (std::size_t i = 0; i < word.size(); ++i) word[i] = 0.3f * static_cast<float>(std::sin(2 * M_PI * 300 * static_cast<double>(i) / 48000));
    request->append(AudioBuffer {{48000, 1}, {word}, static_cast<std::uint32_t>(word.size())});
    std::unique_lock lock(mutex);
    heard.wait_for(lock, std::chrono::seconds(20), [&] { return any; });
    return any ? since(start) : -1;
}

} // namespace

int main()
{
    testing::SoundServer world {{.running = false}}; // a folder and the real-time main queue
    testing::HttpServer server;
    const fs::path folder = world.directory();

    // A model's files, its graph filling the archive to the Spanish model's 39.8 MB; stored, since
    // random bytes do not compress (nor do a real model's, much).
    const std::string made = world.run({"python3", "-c",
        "import hashlib, os, sys, zipfile\n"
        "name = 'vosk-model-small-es-0.42/'\n"
        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_STORED) as z:\n"
        "    z.writestr(name + 'am/final.mdl', b'\\0B<TransitionModel> ' + os.urandom(1000))\n"
        "    z.writestr(name + 'conf/mfcc.conf', '--sample-frequency=16000\\n')\n"
        "    z.writestr(name + 'conf/model.conf', '--min-active=200\\n')\n"
        "    z.writestr(name + 'graph/HCLG.fst', b'\\xd6\\xfd\\xb2\\x7e' + os.urandom(39816000))\n"
        "data = open(sys.argv[1], 'rb').read()\n"
        "print(len(data), hashlib.md5(data).hexdigest())\n",
        (folder / "model.zip").string()});
    std::istringstream sizes(made);
    SpeechModelEntry entry {"es", "vosk-model-small-es-0.42", server.url("/vosk-model-small-es-0.42.zip"), 0, "MD5", {}, {}};
    sizes >> entry.bytes >> entry.digestHex;
    entry.files.assign(std::begin(Vosk::requiredFiles), std::end(Vosk::requiredFiles));
    std::stringstream archive;
    archive << std::ifstream(folder / "model.zip", std::ios::binary).rdbuf();
    server.put("/vosk-model-small-es-0.42.zip", archive.str());

    SpeechRecognizerPlaces places;
    places.modelsFolder = folder / "speech";
    places.voskLibrary = FAKE_VOSK_LIBRARY;
    places.downloadable = {"es"};
    auto recognizers = std::make_shared<LinuxSpeechRecognizers>(places, nullptr, "es_ES");
    auto clock = std::make_shared<fakes::FakeClock>();
    auto queue = std::make_shared<fakes::ManualMainQueue>(*clock);
    auto models = LinuxSpeechModels::create({.modelsFolder = places.modelsFolder, .language = "es", .catalog = {entry},
        .recognizers = recognizers, .mainQueue = queue, .allowPlainHttpToLoopback = true});

    std::vector<double> downloads, installs, totals, firstTexts;
    for (int run = 0; run < 5; ++run) {
        models->removeModel();
        std::optional<double> downloaded;
        const auto start = Steady::now();
        const auto token = models->addChangeObserver([&] {
            if (!downloaded && models->status().phase == SpeechModels::Phase::installing) downloaded = since(start);
        });
        models->download();
        const bool installed = testing::runInRealTime(*queue, [&] { return models->status().phase == SpeechModels::Phase::installed; }, 60);
        const double total = since(start);
        models->removeChangeObserver(token);
        if (!installed) {
            std::printf("the model was not installed: %s\n", models->status().failure.value_or("(no reason)").c_str());
            return 0;
        }
        downloads.push_back(downloaded.value_or(total));
        installs.push_back(total - downloads.back());
        totals.push_back(total);
        firstTexts.push_back(firstText(*recognizers));
    }
    const double megabytes = static_cast<double>(entry.bytes) / 1e6;
    std::printf("archive: %.1f MB over loopback (plain HTTP, the test-only override)\n", megabytes);
    report("download (to the last byte)", downloads, "s");
    report("size, MD5 and contents checked, unpacked, in place", installs, "s");
    report("from Descargar to installed", totals, "s");
    std::vector<double> sorted = downloads;
    std::sort(sorted.begin(), sorted.end());
    std::printf("download rate: %.0f MB/s (at the median download)\n", megabytes / sorted[sorted.size() / 2]);
    report("from the first recognition to its first text, stand-in model loaded on the engine's thread", firstTexts, "s");

    // What loading libvosk itself takes (the engine's thread does it, never the main thread).
    const fs::path real = fs::path(ZORVANE_BENCH_BUNDLE_DIR) / "Contents/Frameworks/libvosk.so";
    const auto start = Steady::now();
    const auto problem = Vosk::checkLibrary(real);
    std::printf("opening the real libvosk (%s): %.3f s%s\n", real.c_str(), since(start), problem ? (" - " + *problem).c_str() : "");
    return 0;
}
