#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zorvane {

// A 128-bit identifier on libuuid; written in upper case, parsed in either case.
class UUID {
public:
    UUID(); // a fresh random identifier
    explicit UUID(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

    // The 36-character form (8-4-4-4-12 hexadecimal digits joined by hyphens), either case.
    static std::optional<UUID> parse(std::string_view text);

    std::string uuidString() const; // upper case
    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }

    friend bool operator==(const UUID&, const UUID&) = default;
    friend auto operator<=>(const UUID&, const UUID&) = default;

private:
    std::array<std::uint8_t, 16> bytes_ {};
};

} // namespace zorvane
