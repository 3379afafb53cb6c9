// A stand-in for libvosk with the same C interface, for the tests: it "hears" one word for each
// burst of sound (taking the words of a fixed sentence in order) and ends a segment after 0.3 s of
// quiet, as Vosk does at a pause. It expects samples on the scale of 16-bit audio, as Vosk does.
#include <filesystem>
#include <string>

namespace {
const char* const sentence[] = {"explica", "esta", "imagen", "por", "favor"};
struct Model {};
struct Recognizer {
    float rate;
    std::size_t nextWord = 0, quietSamples = 0;
    bool inBurst = false;
    std::string segment = {}, json = {};
};
} // namespace

extern "C" {

void vosk_set_log_level(int) {}
Model* vosk_model_new(const char* path) { return std::filesystem::exists(std::filesystem::path(path) / "conf/model.conf") ? new Model : nullptr; }
void vosk_model_free(Model* model) { delete model; }
Recognizer* vosk_recognizer_new(Model*, float rate) { return new Recognizer {rate}; }
void vosk_recognizer_free(Recognizer* r) { delete r; }
void vosk_recognizer_reset(Recognizer* r) { *r = Recognizer {r->rate}; }

int vosk_recognizer_accept_waveform_f(Recognizer* r, const float* data, int length)
{
    bool segmentEnded = false;
    for (int i = 0; i < length; ++i) {
        if (data[i] > 1000 || data[i] < -1000) {
            if (!r->inBurst && r->nextWord < std::size(sentence)) r->segment += (r->segment.empty() ? "" : " ") + std::string(sentence[r->nextWord++]);
            r->inBurst = true;
            r->quietSamples = 0;
        } else if (++r->quietSamples > static_cast<std::size_t>(r->rate / 50)) { // 20 ms of quiet ends a word
            r->inBurst = false;
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
const char* vosk_recognizer_final_result(Recognizer* r) { return vosk_recognizer_result(r); }
const char* vosk_recognizer_partial_result(Recognizer* r) { return (r->json = "{\"partial\" : \"" + r->segment + "\"}").c_str(); }

} // extern "C"
