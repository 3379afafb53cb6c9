#pragma once

#include "app/core/UUID.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// What the application understands of the lines the host relays, and how it cuts them out of
// the byte stream. Everything here is pure, so it is fuzzed and tested without sockets.
namespace zorvane::BridgeMessages {

// Shown for a page element whose title the extension did not give as text.
inline constexpr std::string_view defaultTitle = "Contenido web";

// A hello that carried the bridge token; a hello with any other token is not a message at all.
struct Hello {
    std::optional<std::int32_t> browserProcessID; // the browser the host serves, when it said
    friend bool operator==(const Hello&, const Hello&) = default;
};

struct SelectionStarted {
    UUID id;
    std::string title;
    friend bool operator==(const SelectionStarted&, const SelectionStarted&) = default;
};

struct Selection {
    UUID id;
    std::vector<std::uint8_t> imageData; // never empty
    std::string title;
    friend bool operator==(const Selection&, const Selection&) = default;
};

struct Cancel {
    friend bool operator==(const Cancel&, const Cancel&) = default;
};

// The page's picker is showing after an activation: the user is choosing.
struct PickerShown {
    friend bool operator==(const PickerShown&, const PickerShown&) = default;
};

using Message = std::variant<Hello, SelectionStarted, Selection, Cancel, PickerShown>;

// One line without its terminator. None for anything the application ignores: not a JSON
// object, no text "type", an unknown type, a wrong token, a bad selection ID or image.
std::optional<Message> parse(std::string_view line);

// Standard padded Base64 with nothing outside the alphabet; none when it does not decode.
std::optional<std::vector<std::uint8_t>> decodeStrictBase64(std::string_view text);

// The bytes read from one connection, cut into lines at each terminator. Only bytes not yet
// looked at are scanned, so a long line arriving in many reads costs linear time.
class LineBuffer {
public:
    explicit LineBuffer(std::size_t limit);

    // Adds bytes just read. False when the bytes not yet split off exceed the limit: the peer
    // has sent a line that can never be handled.
    bool append(std::string_view bytes);

    // The next complete line without its terminator, or none. The view stays valid until the
    // next call of either member.
    std::optional<std::string_view> nextLine();

    // Bytes held: complete lines not yet taken plus the unfinished one.
    std::size_t pendingSize() const { return data_.size() - start_; }

private:
    std::size_t limit_;
    std::string data_;
    std::size_t start_ = 0;   // first byte not yet taken
    std::size_t scanned_ = 0; // bytes before this offset hold no terminator after start_
};

} // namespace zorvane::BridgeMessages
