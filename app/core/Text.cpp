#include "app/core/Text.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <memory>

namespace zorvane::Text {
namespace {

icu::UnicodeString toUnicode(std::string_view text)
{
    return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUTF8(const icu::UnicodeString& text)
{
    std::string out;
    text.toUTF8String(out);
    return out;
}

// Visits the UTF-8 bytes grapheme cluster by grapheme cluster; `visit(endByteOffset)` returns
// false to stop.
template <typename Visit>
void forEachGraphemeEnd(std::string_view text, Visit visit)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !it) return;
    UText* ut = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status)) return;
    it->setText(ut, status);
    if (U_SUCCESS(status)) {
        it->first();
        for (int32_t end = it->next(); end != icu::BreakIterator::DONE; end = it->next()) {
            if (!visit(static_cast<std::size_t>(end))) break;
        }
    }
    utext_close(ut);
}

} // namespace

std::string trimmed(std::string_view text)
{
    const std::string valid = decodeUTF8Lossy(text);
    std::string_view s(valid);
    // Walk code points from both ends; U8_NEXT/U8_PREV handle the decoding.
    int32_t start = 0;
    const int32_t length = static_cast<int32_t>(s.size());
    while (start < length) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(s.data(), next, length, c);
        if (c < 0 || !u_hasBinaryProperty(c, UCHAR_WHITE_SPACE)) break;
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t prev = end;
        UChar32 c;
        U8_PREV(s.data(), 0, prev, c);
        if (c < 0 || !u_hasBinaryProperty(c, UCHAR_WHITE_SPACE)) break;
        end = prev;
    }
    return std::string(s.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
}

bool isBlank(std::string_view text)
{
    return trimmed(text).empty();
}

std::string prefixCharacters(std::string_view text, std::size_t count)
{
    if (count == 0) return {};
    const std::string valid = decodeUTF8Lossy(text);
    std::size_t seen = 0;
    std::size_t cut = valid.size();
    forEachGraphemeEnd(valid, [&](std::size_t end) {
        if (++seen == count) {
            cut = end;
            return false;
        }
        return true;
    });
    return valid.substr(0, cut);
}

std::size_t characterCount(std::string_view text)
{
    const std::string valid = decodeUTF8Lossy(text);
    std::size_t count = 0;
    forEachGraphemeEnd(valid, [&](std::size_t) {
        ++count;
        return true;
    });
    return count;
}

std::string lowercased(std::string_view text)
{
    icu::UnicodeString u = toUnicode(text);
    u.toLower(icu::Locale::getRoot());
    return toUTF8(u);
}

bool localizedCaseInsensitiveContains(std::string_view haystack, std::string_view needle)
{
    if (needle.empty()) return false;
    // Full case folding after lower-casing in the current locale, so that e.g. "ß" matches "SS".
    const icu::Locale& locale = icu::Locale::getDefault();
    icu::UnicodeString h = toUnicode(haystack);
    icu::UnicodeString n = toUnicode(needle);
    h.toLower(locale).foldCase();
    n.toLower(locale).foldCase();
    return h.indexOf(n) >= 0;
}

std::string decodeUTF8Lossy(std::string_view bytes)
{
    if (isValidUTF8(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + 8);
    const int32_t length = static_cast<int32_t>(bytes.size());
    int32_t i = 0;
    while (i < length) {
        const int32_t start = i;
        UChar32 c;
        U8_NEXT(bytes.data(), i, length, c);
        if (c < 0) {
            out += "\xEF\xBF\xBD"; // U+FFFD for each maximal ill-formed subsequence
        } else {
            out.append(bytes.data() + start, static_cast<std::size_t>(i - start));
        }
    }
    return out;
}

bool isValidUTF8(std::string_view bytes)
{
    const int32_t length = static_cast<int32_t>(bytes.size());
    int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(bytes.data(), i, length, c);
        if (c < 0) return false;
    }
    return true;
}

} // namespace zorvane::Text
