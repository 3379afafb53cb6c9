#include "app/bridge/BridgeMessages.h"

#include "app/bridge/BridgeProtocol.h"

#include <nlohmann/json.hpp>
#include <sodium.h>

#include <cstring>
#include <limits>

namespace zorvane::BridgeMessages {

namespace {

using json = nlohmann::json;

// Collects the text members at the top level of one JSON object and skips everything nested,
// so a hostile line costs one pass and no tree, however deep or large it is.
class TopLevelMembers final : public nlohmann::json_sax<json> {
public:
    std::optional<std::string> type, token, selectionID, title, imageBase64;
    std::optional<std::uint64_t> browserProcessID;

    bool isObject() const { return isObject_; }

    bool null() override { return scalar(); }
    bool boolean(bool) override { return scalar(); }
    bool number_integer(number_integer_t) override { return scalar(); }
    bool number_unsigned(number_unsigned_t value) override
    {
        if (depth_ == 1 && key_ == BridgeProtocol::Member::browserProcessID) {
            browserProcessID = value;
            return true;
        }
        return scalar();
    }
    bool number_float(number_float_t, const string_t&) override { return scalar(); }
    bool binary(binary_t&) override { return scalar(); }

    bool string(string_t& value) override
    {
        if (depth_ == 1) {
            forget();
            if (auto* slot = member()) *slot = std::move(value);
        }
        return true;
    }

    bool start_object(std::size_t) override
    {
        if (depth_ == 0) isObject_ = true;
        return open();
    }
    bool start_array(std::size_t) override
    {
        // Only objects are messages; stop reading anything else at once.
        if (depth_ == 0) return false;
        return open();
    }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }

    bool key(string_t& name) override
    {
        if (depth_ == 1) key_ = std::move(name);
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    std::optional<std::string>* member()
    {
        namespace M = BridgeProtocol::Member;
        if (key_ == M::type) return &type;
        if (key_ == M::token) return &token;
        if (key_ == M::selectionID) return &selectionID;
        if (key_ == M::title) return &title;
        if (key_ == M::imageBase64) return &imageBase64;
        return nullptr;
    }
    // A later member of the same name replaces an earlier one; a non-text value clears it.
    bool scalar()
    {
        if (depth_ == 0) return false;
        if (depth_ == 1) forget();
        return true;
    }
    bool open()
    {
        if (depth_ == 1) forget();
        ++depth_;
        return true;
    }
    void forget()
    {
        if (auto* slot = member()) slot->reset();
        if (key_ == BridgeProtocol::Member::browserProcessID) browserProcessID.reset();
    }
    bool close()
    {
        --depth_;
        return true;
    }

    std::size_t depth_ = 0;
    bool isObject_ = false;
    std::string key_;
};

std::string titleOrDefault(std::optional<std::string>& title)
{
    return title ? std::move(*title) : std::string(defaultTitle);
}

} // namespace

std::optional<std::vector<std::uint8_t>> decodeStrictBase64(std::string_view text)
{
    std::vector<std::uint8_t> bytes(text.size() / 4 * 3 + 3);
    std::size_t length = 0;
    // Without an end pointer libsodium refuses trailing characters; the original variant
    // demands the padding and rejects non-zero leftover bits.
    if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), nullptr, &length, nullptr,
                          sodium_base64_VARIANT_ORIGINAL) != 0)
        return std::nullopt;
    bytes.resize(length);
    return bytes;
}

std::optional<Message> parse(std::string_view line)
{
    TopLevelMembers members;
    if (!json::sax_parse(line.begin(), line.end(), &members) || !members.isObject() || !members.type) return std::nullopt;
    namespace T = BridgeProtocol::MessageType;
    const std::string& type = *members.type;

    if (type == T::hello) {
        if (!members.token || *members.token != BridgeProtocol::token) return std::nullopt;
        Hello hello;
        // Process 0 and 1 are never a browser that started a host.
        if (members.browserProcessID && *members.browserProcessID > 1
            && *members.browserProcessID <= std::uint64_t(std::numeric_limits<std::int32_t>::max()))
            hello.browserProcessID = std::int32_t(*members.browserProcessID);
        return hello;
    }
    if (type == T::cancel) return Cancel {};
    if (type == T::pickerShown) return PickerShown {};
    if (type != T::selectionStarted && type != T::selection) return std::nullopt;

    if (!members.selectionID) return std::nullopt;
    const std::optional<UUID> id = UUID::parse(*members.selectionID);
    if (!id) return std::nullopt;

    if (type == T::selectionStarted) return SelectionStarted {*id, titleOrDefault(members.title)};

    if (!members.imageBase64) return std::nullopt;
    std::optional<std::vector<std::uint8_t>> image = decodeStrictBase64(*members.imageBase64);
    if (!image || image->empty()) return std::nullopt;
    return Selection {*id, std::move(*image), titleOrDefault(members.title)};
}

LineBuffer::LineBuffer(std::size_t limit) : limit_(limit) {}

bool LineBuffer::append(std::string_view bytes)
{
    if (start_ > 0) {
        // Lines taken since the last read leave at most one read's worth of bytes to move.
        data_.erase(0, start_);
        scanned_ -= start_;
        start_ = 0;
    }
    data_.append(bytes);
    return data_.size() <= limit_;
}

std::optional<std::string_view> LineBuffer::nextLine()
{
    const void* found = std::memchr(data_.data() + scanned_, BridgeProtocol::lineTerminator, data_.size() - scanned_);
    if (!found) {
        scanned_ = data_.size();
        return std::nullopt;
    }
    const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(found) - data_.data());
    const std::string_view line(data_.data() + start_, end - start_);
    start_ = end + 1;
    scanned_ = start_;
    return line;
}

} // namespace zorvane::BridgeMessages
