#include "app/core/UUID.h"

#include <uuid/uuid.h>

#include <cctype>

namespace zorvane {

UUID::UUID()
{
    uuid_t raw;
    uuid_generate_random(raw);
    for (std::size_t i = 0; i < 16; ++i) bytes_[i] = raw[i];
}

std::optional<UUID> UUID::parse(std::string_view text)
{
    if (text.size() != 36) return std::nullopt;
    for (std::size_t i = 0; i < 36; ++i) {
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (hyphen ? c != '-' : !std::isxdigit(c)) return std::nullopt;
    }
    char buffer[37];
    text.copy(buffer, 36);
    buffer[36] = '\0';
    uuid_t raw;
    if (uuid_parse(buffer, raw) != 0) return std::nullopt;
    std::array<std::uint8_t, 16> bytes {};
    for (std::size_t i = 0; i < 16; ++i) bytes[i] = raw[i];
    return UUID(bytes);
}

std::string UUID::uuidString() const
{
    uuid_t raw;
    for (std::size_t i = 0; i < 16; ++i) raw[i] = bytes_[i];
    char buffer[37];
    uuid_unparse_upper(raw, buffer);
    return std::string(buffer, 36);
}

} // namespace zorvane
