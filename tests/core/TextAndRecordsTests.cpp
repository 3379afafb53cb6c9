#include "app/core/CapturedContext.h"
#include "app/core/SystemClock.h"
#include "app/core/Text.h"
#include "app/core/UUID.h"

#include <gtest/gtest.h>

#include <ctime>

using namespace zorvane;

namespace {

CapturedContext contextWith(std::string title, std::string content, std::string role)
{
    CapturedContext c;
    c.title = std::move(title);
    c.content = std::move(content);
    c.role = std::move(role);
    return c;
}

} // namespace

TEST(Text, TrimmingRemovesUnicodeWhiteSpaceAndLineBreaksOnly)
{
    // NBSP, ideographic space, NEL and line separator are white space; ZWSP is not.
    EXPECT_EQ(Text::trimmed("\u00A0\u3000 \t\r\n hola mundo \u0085\u2028\n"), "hola mundo");
    EXPECT_EQ(Text::trimmed("\u200Bhola\u200B"), "\u200Bhola\u200B");
    EXPECT_EQ(Text::trimmed(" a \n b "), "a \n b");
    EXPECT_EQ(Text::trimmed(" \n\t"), "");
    EXPECT_TRUE(Text::isBlank("\u2003\n"));
}

TEST(Text, PrefixCountsGraphemeClustersNotBytesOrCodePoints)
{
    // A family emoji (ZWJ sequence), a flag, and "e" + combining acute each count as one.
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
    const std::string flag = "\U0001F1EA\U0001F1F8";
    const std::string accented = "e\u0301";
    EXPECT_EQ(Text::prefixCharacters(family + flag + accented + "xyz", 3), family + flag + accented);
    EXPECT_EQ(Text::characterCount(family + flag + accented), 3u);
    EXPECT_EQ(Text::prefixCharacters("abc", 10), "abc");
    EXPECT_EQ(Text::prefixCharacters("abc", 0), "");
}

TEST(Text, CaseInsensitiveContainsAndLowerCasing)
{
    EXPECT_TRUE(Text::localizedCaseInsensitiveContains("Logged in using chatgpt", "ChatGPT"));
    EXPECT_TRUE(Text::localizedCaseInsensitiveContains("ÁRBOL", "árbol"));
    EXPECT_FALSE(Text::localizedCaseInsensitiveContains("Not logged in", "ChatGPT"));
    EXPECT_FALSE(Text::localizedCaseInsensitiveContains("anything", ""));
    EXPECT_EQ(Text::lowercased("ÑANDÚ Ω"), "ñandú ω");
}

TEST(Text, LossyDecodingReplacesEachBadSequence)
{
    EXPECT_EQ(Text::decodeUTF8Lossy("ok\xFF" "fin"), "ok\uFFFD" "fin");
    EXPECT_EQ(Text::decodeUTF8Lossy("\xC3"), "\uFFFD"); // truncated sequence at the end
    EXPECT_EQ(Text::decodeUTF8Lossy("ñ"), "ñ");
    EXPECT_FALSE(Text::isValidUTF8("\xED\xA0\x80")); // an encoded surrogate
}

TEST(UUIDs, WrittenUpperCaseParsedInEitherCaseAndMalformedTextRefused)
{
    const UUID id;
    const std::string text = id.uuidString();
    ASSERT_EQ(text.size(), 36u);
    for (char c : text) EXPECT_FALSE(c >= 'a' && c <= 'f') << text;
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(UUID::parse(text), id);
    EXPECT_EQ(UUID::parse(lower), id);

    for (const char* bad : {"", "E621E1F8-C36C-495A-93FC-0C247A3E6E5", "E621E1F8C36C-495A-93FC-0C247A3E6E5F0",
                            "G621E1F8-C36C-495A-93FC-0C247A3E6E5F", "{621E1F8-C36C-495A-93FC-0C247A3E6E5F}"})
        EXPECT_FALSE(UUID::parse(bad)) << bad;
}

TEST(CapturedContextTitle, FallsBackFromTitleToContentToRoleToFixedCaption)
{
    EXPECT_EQ(contextWith("  Guardar ", "x", "botón").displayTitle(), "  Guardar "); // untrimmed
    const std::string hundred(100, 'a');
    EXPECT_EQ(contextWith(" \n ", "  " + hundred + " ", "r").displayTitle(), std::string(72, 'a'));
    EXPECT_EQ(contextWith(" ", "\n", "").displayTitle(), "Captura de pantalla");
    EXPECT_EQ(contextWith(" ", "\n", " ").displayTitle(), " ");
}

TEST(CapturedContextTitle, CutAtSeventyTwoGraphemeClusters)
{
    std::string content;
    for (int i = 0; i < 80; ++i) content += "\U0001F44D\U0001F3FD"; // thumbs up with skin tone
    std::string expected;
    for (int i = 0; i < 72; ++i) expected += "\U0001F44D\U0001F3FD";
    EXPECT_EQ(contextWith("", content, "").displayTitle(), expected);

    std::string combining;
    for (int i = 0; i < 75; ++i) combining += "a\u0308";
    EXPECT_EQ(Text::characterCount(contextWith("", combining, "").displayTitle()), 72u);
}

TEST(CapturedContextEquality, ComparesEveryFieldIncludingIdAndImagePresence)
{
    CapturedContext a = contextWith("t", "c", "r");
    CapturedContext b = a;
    EXPECT_EQ(a, b);
    b.id = UUID();
    EXPECT_NE(a, b);
    b = a;
    b.imageData = std::vector<std::uint8_t> {};
    EXPECT_NE(a, b); // an empty image is still an image
}

TEST(RawValues, OnlyExactSpellingsBuildAValue)
{
    EXPECT_EQ(AIResponseModes::fromRawValue("thinking"), AIResponseMode::thinking);
    EXPECT_FALSE(AIResponseModes::fromRawValue("Thinking"));
    EXPECT_FALSE(AIResponseModes::fromRawValue(""));
    EXPECT_FALSE(kindFromRawValue("Text"));
}

TEST(SystemClock, CountsWallTimeFrom2001AndItsUptimeNeverGoesBack)
{
    const SystemClock clock;
    EXPECT_NEAR(clock.now(), static_cast<double>(std::time(nullptr)) - 978307200, 2.0);
    const double first = clock.uptime();
    EXPECT_GE(clock.uptime(), first);
}
