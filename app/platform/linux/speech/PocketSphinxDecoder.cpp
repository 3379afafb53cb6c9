#include "app/platform/linux/speech/PocketSphinxDecoder.h"

#include "app/core/LocalizedError.h"

#include <sphinxbase/err.h>
#include <pocketsphinx.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace zorvane::linux_platform {

namespace {

class PocketSphinxError : public LocalizedError {
public:
    explicit PocketSphinxError(std::string text) : text_(std::move(text)) {}
    std::string localizedDescription() const override { return text_; }

private:
    std::string text_;
};

class PocketSphinxDecoder : public SpeechDecoder {
public:
    explicit PocketSphinxDecoder(ps_decoder_t* decoder) : decoder_(decoder) {}
    ~PocketSphinxDecoder() override { ps_free(decoder_); }
    PocketSphinxDecoder(const PocketSphinxDecoder&) = delete;
    PocketSphinxDecoder& operator=(const PocketSphinxDecoder&) = delete;

    void begin() override
    {
        if (inUtterance_) ps_end_utt(decoder_);
        inUtterance_ = ps_start_utt(decoder_) == 0;
        if (!inUtterance_) throw PocketSphinxError("El reconocedor de voz no pudo empezar.");
    }

    void accept(const std::vector<float>& samples) override
    {
        pcm_.resize(samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i)
            pcm_[i] = static_cast<std::int16_t>(std::lrint(std::clamp(samples[i], -1.0f, 1.0f) * 32767.0f));
        if (ps_process_raw(decoder_, pcm_.data(), pcm_.size(), FALSE, FALSE) < 0)
            throw PocketSphinxError("El reconocedor de voz no pudo procesar el audio.");
    }

    std::string partialText() override { return hypothesis(); }

    std::string finish() override
    {
        if (!inUtterance_) return {};
        ps_end_utt(decoder_);
        inUtterance_ = false;
        return hypothesis();
    }

private:
    std::string hypothesis()
    {
        std::int32_t score = 0;
        const char* text = ps_get_hyp(decoder_, &score);
        return text ? text : "";
    }

    ps_decoder_t* decoder_;
    bool inUtterance_ = false;
    std::vector<std::int16_t> pcm_;
};

} // namespace

bool PocketSphinxModel::isInstalled() const
{
    std::error_code error;
    return std::filesystem::is_directory(acousticModel(), error) && std::filesystem::is_regular_file(pronunciations(), error)
        && std::filesystem::is_regular_file(grammar ? *grammar : languageModel(), error);
}

std::unique_ptr<SpeechDecoder> loadPocketSphinx(const PocketSphinxModel& model)
{
    // The library logs to standard error unless told not to; the system writes no log.
    static std::once_flag quiet;
    std::call_once(quiet, [] { err_set_logfp(nullptr); });

    if (!model.isInstalled()) throw PocketSphinxError("El modelo de inglés de pocketsphinx no está instalado.");
    const std::string rate = std::to_string(static_cast<int>(SpeechDecoder::sampleRate));
    std::vector<std::string> arguments {"zorvane", "-hmm", model.acousticModel().string(), "-dict",
        model.pronunciations().string(), "-samprate", rate};
    if (model.grammar) {
        // Filler words inside a grammar made the result depend on where the speech fell in a frame.
        arguments.insert(arguments.end(), {"-jsgf", model.grammar->string(), "-fsgusefiller", "no"});
    } else {
        // One pass only, with tighter pruning: the final text must come within the moment the
        // dictation waits for it after the audio ends, and decoding must keep pace with speech on
        // a busy machine. The second passes cost seconds at the end and bought no accuracy here.
        arguments.insert(arguments.end(), {"-lm", model.languageModel().string(), "-fwdflat", "no", "-bestpath", "no",
            "-maxhmmpf", "3000", "-maxwpf", "10", "-pl_window", "10"});
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    cmd_ln_t* config = cmd_ln_parse_r(nullptr, ps_args(), static_cast<int32>(argv.size()), argv.data(), TRUE);
    if (!config) throw PocketSphinxError("La configuración del reconocedor de voz no es válida.");
    ps_decoder_t* decoder = ps_init(config);
    cmd_ln_free_r(config);
    if (!decoder) throw PocketSphinxError("El modelo de inglés de pocketsphinx no se pudo cargar.");
    return std::make_unique<PocketSphinxDecoder>(decoder);
}

} // namespace zorvane::linux_platform
