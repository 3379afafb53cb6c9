// What the application refuses of the lines the host relays. What it accepts, and lines cut
// wherever the reads end, are walked through by the service's test and fuzzer, the model's and
// the browser's end-to-end test.

#include "app/bridge/BridgeMessages.h"

#include <gtest/gtest.h>

namespace zorvane {
namespace {

using namespace BridgeMessages;

const std::string upperID = "6F9619FF-8B86-D011-B42D-00CF4FC964FF";
const std::string png = "iVBORw0KGgo="; // the 8 bytes every PNG starts with

std::string selection(const std::string& image, const std::string& id = upperID)
{
    return R"({"type":"selection","selectionID":")" + id + R"(","imageBase64":")" + image + "\"}";
}

TEST(BridgeMessageParsing, EverythingElseFromOutsideIsIgnored)
{
    const std::string ignored[] = {
        // A hello authenticates only with the exact token, at the top level.
        R"({"type":"hello"})", R"({"type":"hello","token":"ZORVANE-BRIDGE-LINK-V1"})",
        R"({"type":"hello","nested":{"token":"zorvane-bridge-link-v1"}})",
        // Images that are not strict padded Base64 of at least one byte.
        selection(""), selection("data:image/png;base64," + png), selection("iVBORw0KGgo"), selection("iVBORw0KGg-_"),
        // Selection IDs that are not one UUID.
        selection(png, "{" + upperID + "}"), selection(png, "6F9619FF8B86D011B42D00CF4FC964FF"),
        R"({"type":"selectionStarted"})",
        // Not one catalogue object.
        "", "{", R"({"type":"cancel"} trailing)", R"(["type","cancel"])", R"({"type":"Cancel"})", R"({"type":"activate"})",
        "{\"type\":\"cancel\",\"title\":\"\xC3\x28\"}", std::string(200000, '['),
    };
    for (const std::string& line : ignored) EXPECT_EQ(parse(line), std::nullopt) << line.substr(0, 80);
}

} // namespace
} // namespace zorvane
