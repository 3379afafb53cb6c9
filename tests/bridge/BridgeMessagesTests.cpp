// What the application makes of the lines the host relays: strict about everything that comes
// from outside, and lenient only where the extension is allowed to leave things out.

#include "app/bridge/BridgeMessages.h"

#include <gtest/gtest.h>

#include <string>

namespace zorvane {
namespace {

using namespace BridgeMessages;

const std::string upperID = "6F9619FF-8B86-D011-B42D-00CF4FC964FF";
const std::string lowerID = "6f9619ff-8b86-d011-b42d-00cf4fc964ff";
const std::string png = "iVBORw0KGgo="; // the 8 bytes every PNG starts with
const std::vector<std::uint8_t> pngBytes {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::string started(const std::string& id, const std::string& rest = "")
{
    return R"({"type":"selectionStarted","selectionID":")" + id + "\"" + rest + "}";
}

std::string selection(const std::string& image, const std::string& rest = "", const std::string& id = upperID)
{
    return R"({"type":"selection","selectionID":")" + id + R"(","imageBase64":")" + image + "\"" + rest + "}";
}

TEST(BridgeMessageParsing, TheCatalogueMessagesAndTheirDefaults)
{
    const UUID id = *UUID::parse(upperID);
    const std::pair<std::string, Message> cases[] = {
        {R"({"type":"hello","token":"zorvane-bridge-link-v1"})", Hello {}},
        {R"({"token":"zorvane-bridge-link-v1","extra":[1,{"a":2}],"type":"hello"})", Hello {}},
        {started(upperID, R"(,"title":"Botón «Enviar»")"), SelectionStarted {id, "Botón «Enviar»"}},
        // IDs in either case; a title that is not text shows the default.
        {started(lowerID), SelectionStarted {id, "Contenido web"}},
        {started(upperID, R"(,"title":42)"), SelectionStarted {id, "Contenido web"}},
        {started(upperID, R"(,"title":{"text":"a"})"), SelectionStarted {id, "Contenido web"}},
        {selection(png, R"(,"title":"Foto")"), Selection {id, pngBytes, "Foto"}},
        {selection(png, R"(,"title":[7])"), Selection {id, pngBytes, "Contenido web"}},
        {R"({"type":"cancel","reason":"esc"})", Cancel {}},
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(parse(line), expected) << line;
}

TEST(BridgeMessageParsing, EverythingElseFromOutsideIsIgnored)
{
    const std::string ignored[] = {
        // A hello authenticates only with the exact token, at the top level.
        R"({"type":"hello"})", R"({"type":"hello","token":"zorvane-bridge-link-v2"})",
        R"({"type":"hello","token":"zorvane-bridge-link-v1 "})", R"({"type":"hello","token":"ZORVANE-BRIDGE-LINK-V1"})",
        R"({"type":"hello","token":["zorvane-bridge-link-v1"]})", R"({"type":"hello","nested":{"token":"zorvane-bridge-link-v1"}})",
        // Images that are not strict padded Base64 of at least one byte.
        selection(""), selection("data:image/png;base64," + png), selection("iVBORw0KGgo"), selection("iVBORw0K\\nGgo="),
        selection("iVBORw0KGgo= "), selection("iVBO*w0KGgo="), selection("iVBORw0KGg-_"), selection("iVBORw0KGgp="),
        R"({"type":"selection","selectionID":")" + upperID + R"(","imageBase64":42})",
        R"({"type":"selection","selectionID":")" + upperID + "\"}",
        // Selection IDs that are not one UUID.
        selection(png, "", ""), selection(png, "", "{" + upperID + "}"), selection(png, "", upperID.substr(1)),
        started("6F9619FF8B86D011B42D00CF4FC964FF"), started("6F9619FF-8B86-D011-B42D-00CF4FC964FG"),
        R"({"type":"selectionStarted"})", R"({"type":"selectionStarted","selectionID":1})",
        // Not one catalogue object.
        "", " ", "cancel", "{", R"({"type":"cancel"} trailing)", R"({"type":"cancel"}{"type":"cancel"})", R"(["type","cancel"])",
        R"("cancel")", "42", "null", "{}", R"({"type":1})", R"({"type":null})", R"({"type":"Cancel"})", R"({"type":"activate"})",
        R"({"message":{"type":"cancel"}})", "{\"type\":\"cancel\",\"title\":\"\xC3\x28\"}", std::string(200000, '['),
    };
    for (const std::string& line : ignored) EXPECT_EQ(parse(line), std::nullopt) << line.substr(0, 80);
}

TEST(BridgeLineBuffer, CutsLinesWhereverTheReadsEnd)
{
    LineBuffer buffer(1024);
    ASSERT_TRUE(buffer.append("{\"a\":1}\n{\"b\""));
    EXPECT_EQ(buffer.nextLine(), "{\"a\":1}");
    EXPECT_EQ(buffer.nextLine(), std::nullopt);
    ASSERT_TRUE(buffer.append(":2"));
    EXPECT_EQ(buffer.nextLine(), std::nullopt);
    ASSERT_TRUE(buffer.append("}\n\nlast\nrest"));
    EXPECT_EQ(buffer.nextLine(), "{\"b\":2}");
    EXPECT_EQ(buffer.nextLine(), "");
    EXPECT_EQ(buffer.nextLine(), "last");
    EXPECT_EQ(buffer.nextLine(), std::nullopt);
    ASSERT_TRUE(buffer.append("\n"));
    EXPECT_EQ(buffer.nextLine(), "rest");
    EXPECT_EQ(buffer.pendingSize(), 0u);
}

TEST(BridgeLineBuffer, RefusesMoreUnsplitBytesThanItsLimit)
{
    LineBuffer exact(8);
    EXPECT_TRUE(exact.append("1234567\n"));
    EXPECT_EQ(exact.nextLine(), "1234567");
    EXPECT_TRUE(exact.append("12345678"));
    EXPECT_FALSE(exact.append("9"));
    // Complete lines still in the buffer after a read count too.
    EXPECT_FALSE(LineBuffer(8).append("1234\n5678\n"));
}

} // namespace
} // namespace zorvane
