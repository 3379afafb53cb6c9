#include "app/platform/linux/speech/SpeechModelCatalog.h"

#include "app/platform/linux/speech/VoskRecognizer.h"

#include <algorithm>
#include <iterator>

namespace zorvane::linux_platform::SpeechModelCatalog {

namespace {

SpeechModelEntry small(const char* language, const char* name, std::uint64_t bytes, const char* md5)
{
    SpeechModelEntry entry;
    entry.language = language;
    entry.name = name;
    entry.url = std::string("https://alphacephei.com/vosk/models/") + name + ".zip";
    entry.bytes = bytes;
    // The publisher's model list gives an MD5 for each archive and no SHA-256. MD5 proves nothing
    // against a forger, but HTTPS does that part; the sum catches a damaged or swapped file.
    entry.digest = "MD5";
    entry.digestHex = md5;
    entry.files.assign(std::begin(Vosk::requiredFiles), std::end(Vosk::requiredFiles));
    return entry;
}

} // namespace

const std::vector<SpeechModelEntry>& official()
{
    // Sizes and sums as alphacephei.com/vosk/models/model-list.json publishes them.
    static const std::vector<SpeechModelEntry> entries {
        small("es", "vosk-model-small-es-0.42", 39817833, "2d5c94f9859a84881a0ef744738ebd31"),
        small("en", "vosk-model-small-en-us-0.15", 41205931, "09ab50ccd62b674cbaa231b825f9c1cb"),
        small("fr", "vosk-model-small-fr-0.22", 42233323, "8873b1234503f6edd55f54bfff31cf3e"),
        small("de", "vosk-model-small-de-0.15", 46499967, "4f21f92c0897b48287ef8839420608eb"),
        small("it", "vosk-model-small-it-0.22", 49665141, "fbd8f9c72cbb8c3dfa3e4581bd3585f4"),
        small("pt", "vosk-model-small-pt-0.3", 32453112, "458c69371c5a0b9ab6ee8fa417bf89da"),
    };
    return entries;
}

std::optional<SpeechModelEntry> forLanguage(const std::vector<SpeechModelEntry>& catalog, const std::string& language)
{
    const auto found = std::find_if(catalog.begin(), catalog.end(), [&](const auto& entry) { return entry.language == language; });
    if (found == catalog.end()) return std::nullopt;
    return *found;
}

} // namespace zorvane::linux_platform::SpeechModelCatalog
