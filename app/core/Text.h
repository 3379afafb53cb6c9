#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Unicode-aware text helpers on ICU. All strings are UTF-8.
namespace zorvane::Text {

// Removes leading and trailing characters with the White_Space property (which includes line
// breaks) and nothing else.
std::string trimmed(std::string_view text);

// True when the text is empty once trimmed.
bool isBlank(std::string_view text);

// The first `count` user-perceived characters (grapheme clusters) of the text.
std::string prefixCharacters(std::string_view text, std::size_t count);

// Number of grapheme clusters.
std::size_t characterCount(std::string_view text);

// Full Unicode lower-casing in the root locale.
std::string lowercased(std::string_view text);

// Case-insensitive containment following the case rules of the current locale (ICU's default
// locale, which follows the process locale). An empty needle is never contained.
bool localizedCaseInsensitiveContains(std::string_view haystack, std::string_view needle);

// Decodes bytes as UTF-8, replacing every ill-formed sequence with U+FFFD.
std::string decodeUTF8Lossy(std::string_view bytes);

// True when the bytes are well-formed UTF-8.
bool isValidUTF8(std::string_view bytes);

} // namespace zorvane::Text
