// A stand-in for libvosk with the same C interface, for the tests: it "hears" one word for each
// burst of sound (taking the words of a fixed sentence in order) and ends a segment after 0.3 s of
// quiet, as Vosk does at a pause. It expects samples on the scale of 16-bit audio, as Vosk does.
#include <filesystem>
#include <string>
#include <vector>

namespace {

const std::vector<std::string> sentence {"explica", "esta", "imagen", "por", "favor"};

struct Model {};

struct Recognizer {
    float rate = 16000;
    std::size_t nextWord = 0;
    std::string segment;
    bool inBurst = false;
    std::size_t quietSamples = 0;
    std::string json;
};

void addWord(Recognizer& r)
{
    if (r.nextWord >= sentence.size()) return;
    r.segment += (r.segment.empty() ? "" : " ") + sentence[r.nextWord++];
}

} // namespace

extern "C" {

void vosk_set_log_level(int) {}

Model* vosk_model_new(const char* path)
{
    return std::filesystem::exists(std::filesystem::path(path) / "conf" / "model.conf") ? new Model : nullptr;
}

void vosk_model_free(Model* model) { delete model; }

Recognizer* vosk_recognizer_new(Model*, float rate)
{
    auto* r = new Recognizer;
    r->rate = rate;
    return r;
}

void vosk_recognizer_free(Recognizer* r) { delete r; }

void vosk_recognizer_reset(Recognizer* r)
{
    const float rate = r->rate;
    *r = Recognizer {};
    r->rate = rate;
}

int vosk_recognizer_accept_waveform_f(Recognizer* r, const float* data, int length)
{
    bool segmentEnded = false;
    for (int i = 0; i < length; ++i) {
        const bool loud = data[i] > 1000 || data[i] < -1000;
        if (loud) {
            if (!r->inBurst) addWord(*r);
            r->inBurst = true;
            r->quietSamples = 0;
        } else if (++r->quietSamples > static_cast<std::size_t>(r->rate / 50)) {
            r->inBurst = false; // 20 ms of quiet ends a word
            segmentEnded = segmentEnded || (r->quietSamples == static_cast<std::size_t>(r->rate * 0.3) && !r->segment.empty());
        }
    }
    return segmentEnded ? 1 : 0;
}

const char* vosk_recognizer_result(Recognizer* r)
{
    r->json = "{\"text\" : \"" + r->segment + "\"}";
    r->segment.clear();
    return r->json.c_str();
}

const char* vosk_recognizer_partial_result(Recognizer* r)
{
    r->json = "{\"partial\" : \"" + r->segment + "\"}";
    return r->json.c_str();
}

const char* vosk_recognizer_final_result(Recognizer* r)
{
    return vosk_recognizer_result(r);
}

} // extern "C"
