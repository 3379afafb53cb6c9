// What the application makes of the lines the host relays: strict about everything that comes
// from outside, and lenient only where the extension is allowed to leave things out.

#include "app/bridge/BridgeMessages.h"
#include "app/bridge/BridgeProtocol.h"

#include <gtest/gtest.h>

#include <string>

namespace zorvane {
namespace {

using namespace BridgeMessages;

const std::string upperID = "6F9619FF-8B86-D011-B42D-00CF4FC964FF";
const std::string pngSignatureBase64 = "iVBORw0KGgo="; // the 8 bytes every PNG starts with
const std::vector<std::uint8_t> pngSignature {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::string selectionLine(const std::string& image, const std::string& extra = "")
{
    return R"({"type":"selection","selectionID":")" + upperID + R"(","imageBase64":")" + image + "\"" + extra + "}";
}

TEST(BridgeMessageParsing, HelloAuthenticatesOnlyWithTheExactToken)
{
    EXPECT_EQ(parse(R"({"type":"hello","token":"zorvane-bridge-link-v1"})"), Message(Hello {}));
    EXPECT_EQ(parse(R"({"token":"zorvane-bridge-link-v1","extra":[1,{"a":2}],"type":"hello"})"), Message(Hello {}));
    for (const char* line : {R"({"type":"hello"})", R"({"type":"hello","token":"zorvane-bridge-link-v2"})",
                             R"({"type":"hello","token":"zorvane-bridge-link-v1 "})",
                             R"({"type":"hello","token":"ZORVANE-BRIDGE-LINK-V1"})", R"({"type":"hello","token":22})",
                             R"({"type":"hello","token":["zorvane-bridge-link-v1"]})",
                             R"({"type":"hello","nested":{"token":"zorvane-bridge-link-v1"}})"}) {
        EXPECT_EQ(parse(line), std::nullopt) << line;
    }
}

TEST(BridgeMessageParsing, SelectionStartedAcceptsIDsInEitherCaseAndDefaultsItsTitle)
{
    const UUID id = *UUID::parse(upperID);
    EXPECT_EQ(parse(R"({"type":"selectionStarted","selectionID":")" + upperID + R"(","title":"Botón «Enviar»"})"),
              Message(SelectionStarted {id, "Botón «Enviar»"}));
    std::string lower = upperID;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(parse(R"({"type":"selectionStarted","selectionID":")" + lower + "\"}"),
              Message(SelectionStarted {id, "Contenido web"}));
    for (const char* title : {"42", "null", "true", "[\"a\"]", "{\"text\":\"a\"}"}) {
        EXPECT_EQ(parse(R"({"type":"selectionStarted","selectionID":")" + upperID + R"(","title":)" + title + "}"),
                  Message(SelectionStarted {id, "Contenido web"}))
            << title;
    }
}

TEST(BridgeMessageParsing, SelectionCarriesTheDecodedImage)
{
    const UUID id = *UUID::parse(upperID);
    EXPECT_EQ(parse(selectionLine(pngSignatureBase64, R"(,"title":"Foto")")), Message(Selection {id, pngSignature, "Foto"}));
    EXPECT_EQ(parse(selectionLine(pngSignatureBase64, R"(,"title":7)")), Message(Selection {id, pngSignature, "Contenido web"}));
}

TEST(BridgeMessageParsing, SelectionsWithoutAUsableImageOrIDAreIgnored)
{
    for (const std::string& image : std::vector<std::string> {"", "data:image/png;base64," + pngSignatureBase64,
                                     std::string("iVBORw0KGgo"), std::string("iVBORw0K\\nGgo="), std::string("iVBORw0KGgo= "),
                                     std::string("iVBO*w0KGgo="), std::string("iVBORw0KGg-_"), std::string("iVBORw0KGgp=")}) {
        EXPECT_EQ(parse(selectionLine(image)), std::nullopt) << image;
    }
    EXPECT_EQ(parse(R"({"type":"selection","selectionID":")" + upperID + R"(","imageBase64":42})"), std::nullopt);
    EXPECT_EQ(parse(R"({"type":"selection","selectionID":")" + upperID + "\"}"), std::nullopt);

    for (const std::string& id : std::vector<std::string> {"", std::string("{") + upperID + "}", upperID.substr(1),
                                  "6F9619FF8B86D011B42D00CF4FC964FF", "6F9619FF-8B86-D011-B42D-00CF4FC964FG"}) {
        EXPECT_EQ(parse(R"({"type":"selection","selectionID":")" + id + R"(","imageBase64":")" + pngSignatureBase64 + "\"}"),
                  std::nullopt)
            << id;
        EXPECT_EQ(parse(R"({"type":"selectionStarted","selectionID":")" + id + "\"}"), std::nullopt) << id;
    }
    EXPECT_EQ(parse(R"({"type":"selectionStarted"})"), std::nullopt);
    EXPECT_EQ(parse(R"({"type":"selectionStarted","selectionID":1})"), std::nullopt);
}

TEST(BridgeMessageParsing, AnythingButACatalogueObjectIsIgnored)
{
    EXPECT_EQ(parse(R"({"type":"cancel","reason":"esc"})"), Message(Cancel {}));
    for (const std::string& line : std::vector<std::string> {"", " ", "cancel", "{", R"({"type":"cancel"} trailing)", R"({"type":"cancel"}{"type":"cancel"})",
          R"(["type","cancel"])", R"("cancel")", "42", "null", R"({})", R"({"type":1})", R"({"type":null})",
          R"({"type":"Cancel"})", R"({"type":"activate"})", R"({"type":"capture"})", R"({"message":{"type":"cancel"}})",
          std::string("{\"type\":\"cancel\",\"title\":\"\xC3\x28\"}"), std::string(200000, '[')}) {
        EXPECT_EQ(parse(line), std::nullopt) << line.substr(0, 60);
    }
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
    LineBuffer lines(8);
    EXPECT_FALSE(lines.append("1234\n5678\n"));
}

} // namespace
} // namespace zorvane
