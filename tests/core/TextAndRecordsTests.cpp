#include "app/core/CapturedContext.h"
#include "app/core/Text.h"

#include <gtest/gtest.h>

using namespace zorvane;

TEST(Text, TrimsAndCountsCharactersByUnicodeRules)
{
    // NBSP, ideographic space, NEL and line separator are white space; ZWSP is not.
    EXPECT_EQ(Text::trimmed("\u00A0\u3000 \t\r\n hola mundo \u0085\u2028\n"), "hola mundo");
    EXPECT_EQ(Text::trimmed("\u200Bhola\u200B"), "\u200Bhola\u200B");
    EXPECT_EQ(Text::trimmed(" a \n b "), "a \n b");
    EXPECT_TRUE(Text::isBlank("\u2003\n"));
    // A family emoji (ZWJ sequence), a flag, and "e" + combining acute each count as one character.
    const std::string three = "\U0001F468\u200D\U0001F469\u200D\U0001F467\U0001F1EA\U0001F1F8e\u0301";
    EXPECT_EQ(Text::prefixCharacters(three + "xyz", 3), three);
    EXPECT_EQ(Text::characterCount(three), 3u);
    EXPECT_EQ(Text::prefixCharacters("abc", 10), "abc");
}

TEST(CapturedContext, TitleFallsBackFromTitleToContentToRoleAndIsCutAtSeventyTwoCharacters)
{
    const auto title = [](std::string title, std::string content, std::string role) {
        CapturedContext c;
        c.title = std::move(title);
        c.content = std::move(content);
        c.role = std::move(role);
        return c.displayTitle();
    };
    EXPECT_EQ(title("  Guardar ", "x", "botón"), "  Guardar "); // untrimmed
    EXPECT_EQ(title(" \n ", "  " + std::string(100, 'a') + " ", "r"), std::string(72, 'a'));
    EXPECT_EQ(title(" ", "\n", ""), "Captura de pantalla");
    EXPECT_EQ(title(" ", "\n", " "), " ");
    std::string thumbs; // thumbs up with skin tone, one character each
    for (int i = 0; i < 80; ++i) thumbs += "\U0001F44D\U0001F3FD";
    EXPECT_EQ(title("", thumbs, ""), thumbs.substr(0, 72 * 8));
}
