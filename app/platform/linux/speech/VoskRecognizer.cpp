#include "app/platform/linux/speech/VoskRecognizer.h"

#include "app/core/LocalizedError.h"

#include <nlohmann/json.hpp>

#include <dlfcn.h>

#include <array>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <vector>

namespace zorvane::linux_platform::Vosk {

namespace fs = std::filesystem;

namespace {

class VoskError : public LocalizedError {
public:
    explicit VoskError(std::string text) : text_(std::move(text)) {}
    std::string localizedDescription() const override { return text_; }

private:
    std::string text_;
};

struct Model;
struct Recognizer;

// The C interface of libvosk (it ships no header); every function must be there.
struct Library {
    void (*setLogLevel)(int) = nullptr;
    Model* (*modelNew)(const char*) = nullptr;
    void (*modelFree)(Model*) = nullptr;
    Recognizer* (*recognizerNew)(Model*, float) = nullptr;
    void (*recognizerFree)(Recognizer*) = nullptr;
    void (*recognizerReset)(Recognizer*) = nullptr;
    int (*acceptWaveformFloat)(Recognizer*, const float*, int) = nullptr;
    const char* (*result)(Recognizer*) = nullptr;
    const char* (*partialResult)(Recognizer*) = nullptr;
    const char* (*finalResult)(Recognizer*) = nullptr;
};

struct Opened {
    std::shared_ptr<const Library> library;
    std::string reason;
};

// Libraries stay open for the life of the process: unloading C++ code with static state is unsafe.
Opened open(const fs::path& path)
{
    static std::mutex mutex;
    static std::map<fs::path, Opened> opened;
    std::lock_guard lock(mutex);
    if (const auto it = opened.find(path); it != opened.end()) return it->second;

    Opened result;
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        result.reason = "Falta la biblioteca de reconocimiento de voz (" + path.filename().string() + ") en la instalación de Zorvane.";
        return result; // not remembered: it may be installed later
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        result.reason = "La biblioteca de reconocimiento de voz de " + path.string() + " no se puede cargar.";
        return opened[path] = result;
    }
    auto library = std::make_shared<Library>();
    bool complete = true;
    const auto bind = [&](auto& function, const char* name) {
        void* symbol = dlsym(handle, name);
        complete = complete && symbol != nullptr;
        std::memcpy(&function, &symbol, sizeof symbol);
    };
    bind(library->setLogLevel, "vosk_set_log_level");
    bind(library->modelNew, "vosk_model_new");
    bind(library->modelFree, "vosk_model_free");
    bind(library->recognizerNew, "vosk_recognizer_new");
    bind(library->recognizerFree, "vosk_recognizer_free");
    bind(library->recognizerReset, "vosk_recognizer_reset");
    bind(library->acceptWaveformFloat, "vosk_recognizer_accept_waveform_f");
    bind(library->result, "vosk_recognizer_result");
    bind(library->partialResult, "vosk_recognizer_partial_result");
    bind(library->finalResult, "vosk_recognizer_final_result");
    if (!complete) {
        result.reason = "La biblioteca de reconocimiento de voz de " + path.string() + " no es de una versión compatible.";
        return opened[path] = result;
    }
    library->setLogLevel(-10); // the system writes no log: below -2 even errors stay quiet
    result.library = std::move(library);
    return opened[path] = result;
}

bool startsWith(const fs::path& file, const void* prefix, std::size_t length)
{
    std::ifstream stream(file, std::ios::binary);
    std::vector<char> head(length);
    return stream.read(head.data(), static_cast<std::streamsize>(length)) && std::memcmp(head.data(), prefix, length) == 0;
}

// A cheap look at the files a model needs, so that an unpacked archive of the wrong thing, or
// garbage, is refused before anything is loaded.
bool looksLikeModel(const fs::path& folder)
{
    static constexpr std::array<unsigned char, 4> fstMagic {0xd6, 0xfd, 0xb2, 0x7e};
    static constexpr char binaryModel[] = "\0B<TransitionModel>";
    static constexpr char textModel[] = "<TransitionModel>";
    const fs::path acoustic = folder / "am" / "final.mdl";
    const bool acousticOK = startsWith(acoustic, binaryModel, sizeof binaryModel - 1)
        || startsWith(acoustic, textModel, sizeof textModel - 1);
    const auto isGraph = [&](const char* name) { return startsWith(folder / "graph" / name, fstMagic.data(), fstMagic.size()); };
    const bool graphOK = isGraph("HCLG.fst") || (isGraph("HCLr.fst") && isGraph("Gr.fst"));
    std::error_code error;
    return acousticOK && graphOK && fs::is_regular_file(folder / "conf" / "mfcc.conf", error)
        && fs::is_regular_file(folder / "conf" / "model.conf", error);
}

bool hasModelFiles(const fs::path& folder)
{
    std::error_code error;
    return fs::exists(folder / "am", error) || fs::exists(folder / "conf", error) || fs::exists(folder / "graph", error);
}

class VoskDecoder : public SpeechDecoder {
public:
    VoskDecoder(std::shared_ptr<const Library> library, Model* model) : library_(std::move(library)), model_(model) {}
    ~VoskDecoder() override
    {
        if (recognizer_) library_->recognizerFree(recognizer_);
        library_->modelFree(model_);
    }
    VoskDecoder(const VoskDecoder&) = delete;
    VoskDecoder& operator=(const VoskDecoder&) = delete;

    void begin() override
    {
        if (recognizer_) library_->recognizerReset(recognizer_);
        else recognizer_ = library_->recognizerNew(model_, static_cast<float>(sampleRate));
        if (!recognizer_) throw VoskError("El modelo de voz no acepta audio a esta frecuencia.");
        committed_.clear();
    }

    void accept(const std::vector<float>& samples) override
    {
        // Vosk takes floats on the scale of 16-bit samples.
        scaled_.resize(samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i) scaled_[i] = samples[i] * 32768.0f;
        const int status = library_->acceptWaveformFloat(recognizer_, scaled_.data(), static_cast<int>(scaled_.size()));
        if (status < 0) throw VoskError("El reconocedor de voz no pudo procesar el audio.");
        // A pause ends a segment: its text is settled and the next one starts.
        if (status == 1) commit(field(library_->result(recognizer_), "text"));
    }

    std::string partialText() override { return joined(committed_, field(library_->partialResult(recognizer_), "partial")); }

    std::string finish() override
    {
        if (recognizer_) commit(field(library_->finalResult(recognizer_), "text"));
        return committed_;
    }

private:
    static std::string field(const char* json, const char* name)
    {
        if (!json) return {};
        const nlohmann::json value = nlohmann::json::parse(json, nullptr, false);
        if (!value.is_object() || !value.contains(name) || !value[name].is_string()) return {};
        return value[name].get<std::string>();
    }
    static std::string joined(const std::string& first, const std::string& second)
    {
        if (first.empty()) return second;
        return second.empty() ? first : first + " " + second;
    }
    void commit(const std::string& text) { committed_ = joined(committed_, text); }

    std::shared_ptr<const Library> library_;
    Model* model_;
    Recognizer* recognizer_ = nullptr;
    std::string committed_;
    std::vector<float> scaled_;
};

} // namespace

ModelLookup findModel(const fs::path& folder)
{
    using Problem = ModelLookup::Problem;
    const ModelLookup missing {std::nullopt, "No hay un modelo de reconocimiento de voz en " + folder.string() + ".", Problem::missing};
    const auto damaged = [](const fs::path& model) {
        return ModelLookup {std::nullopt, "El modelo de reconocimiento de voz de " + model.string() + " está incompleto o dañado.",
            Problem::damaged};
    };
    std::error_code error;
    if (!fs::is_directory(folder, error)) return missing;
    if (hasModelFiles(folder)) return looksLikeModel(folder) ? ModelLookup {folder, {}} : damaged(folder);
    std::vector<fs::path> candidates;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (entry.is_directory(error) && hasModelFiles(entry.path())) candidates.push_back(entry.path());
    if (candidates.empty()) return missing;
    if (candidates.size() > 1)
        return {std::nullopt, "Hay más de un modelo de reconocimiento de voz en " + folder.string() + "; deja solo uno.",
            Problem::ambiguous};
    if (!looksLikeModel(candidates.front())) return damaged(candidates.front());
    return {candidates.front(), {}};
}

std::optional<std::string> checkLibrary(const fs::path& library)
{
    const Opened opened = open(library);
    if (opened.library) return std::nullopt;
    return opened.reason;
}

std::unique_ptr<SpeechDecoder> load(const fs::path& libraryPath, const fs::path& model)
{
    const Opened opened = open(libraryPath);
    if (!opened.library) throw VoskError(opened.reason);
    Model* loaded = opened.library->modelNew(model.c_str());
    if (!loaded)
        throw VoskError("El modelo de reconocimiento de voz de " + model.string() + " no se pudo cargar: está dañado o no es compatible.");
    return std::make_unique<VoskDecoder>(opened.library, loaded);
}

} // namespace zorvane::linux_platform::Vosk
