#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zorvane::linux_platform {

// One speech model Zorvane downloads itself: an official release, checked against what its
// publisher announces before anything of it is used.
struct SpeechModelEntry {
    std::string language;     // "es", as LinuxSpeechRecognizers::language gives it
    std::string name;         // the folder the archive holds the model in
    std::string url;          // HTTPS
    std::uint64_t bytes = 0;  // exact size of the archive
    // The checksum the publisher gives (an OpenSSL digest name and its hex value); empty when none.
    std::string digest;
    std::string digestHex;
    std::vector<std::string> files; // the model's files that must be there, besides its graph
};

namespace SpeechModelCatalog {

// Vosk's official small models for the languages Zorvane offers.
const std::vector<SpeechModelEntry>& official();
// The entry for a language; none when the catalogue has none.
std::optional<SpeechModelEntry> forLanguage(const std::vector<SpeechModelEntry>& catalog, const std::string& language);

} // namespace SpeechModelCatalog

} // namespace zorvane::linux_platform
