// What the composer's own test (tests/ui, a real answer through the rich-text view) does not
// reach: the rarer constructs, the attributes a view needs to lay blocks out, and bad input.
#include "app/codex/ResponseMarkdown.h"

#include <gtest/gtest.h>

namespace zorvane {
namespace {

using Kind = BlockIntent::Kind;

// The run that holds exactly `text`; fails the test when there is none.
const AttributedRun& runOf(const AttributedString& string, std::string_view text)
{
    for (const AttributedRun& run : string.runs())
        if (string.substring(run) == text) return run;
    ADD_FAILURE() << "no run with text \"" << text << "\" in \"" << string.text() << "\"";
    static const AttributedRun none;
    return none;
}

std::vector<Kind> kinds(const AttributedRun& run)
{
    std::vector<Kind> result;
    for (const BlockIntent& block : run.attributes.blocks) result.push_back(block.kind);
    return result;
}

TEST(ResponseMarkdown, InlineMarkersBecomeStylesAndLinksStayAsWritten)
{
    const AttributedString s = ResponseMarkdown::render("~~tachado~~, ***ambas***, [la guía](docs/guia.md), "
                                                        "<https://e.com/a?b=1> y ![diagrama](img/d.png)");
    EXPECT_EQ(s.text(), "tachado, ambas, la guía, https://e.com/a?b=1 y diagrama");
    EXPECT_EQ(runOf(s, "tachado").attributes.style, InlineStyle::strikethrough);
    EXPECT_EQ(runOf(s, "ambas").attributes.style, InlineStyle::strong | InlineStyle::emphasis);
    EXPECT_EQ(runOf(s, "la guía").attributes.link, "docs/guia.md"); // relative, left unresolved
    EXPECT_EQ(runOf(s, "https://e.com/a?b=1").attributes.link, "https://e.com/a?b=1");
    EXPECT_EQ(runOf(s, "diagrama").attributes.imageSource, "img/d.png");
}

TEST(ResponseMarkdown, BlocksCarryWhatAViewNeedsToLayThemOut)
{
    const AttributedString s = ResponseMarkdown::render("una línea\nsigue  \naparte\n\n---\n\n> Cita\n\n```swift extra\nlet x = **1**\n```\n\n"
                                                        "3. tres\n4. cuatro\n\n- punto\n  - dentro\n\n| Clave | Valor |\n|:--|--:|\n| b | |\n");
    EXPECT_EQ(runOf(s, "una línea sigue\naparte").attributes.blocks.size(), 1u);
    EXPECT_EQ(s.runs().at(1).length, 0u); // the rule keeps its place without text
    EXPECT_EQ(kinds(s.runs()[1]), std::vector<Kind> {Kind::thematicBreak});
    EXPECT_EQ(kinds(runOf(s, "Cita")), (std::vector<Kind> {Kind::blockQuote, Kind::paragraph}));
    EXPECT_EQ(runOf(s, "let x = **1**").attributes.blocks.at(0).language, "swift");

    const AttributedRun& three = runOf(s, "tres");
    EXPECT_EQ(kinds(three), (std::vector<Kind> {Kind::orderedList, Kind::listItem, Kind::paragraph}));
    EXPECT_EQ(three.attributes.blocks[1].ordinal, 3);
    EXPECT_EQ(runOf(s, "cuatro").attributes.blocks.at(1).ordinal, 4);
    EXPECT_EQ(three.attributes.blocks[0].identity, runOf(s, "cuatro").attributes.blocks.at(0).identity);
    const AttributedRun& inner = runOf(s, "dentro");
    ASSERT_EQ(kinds(inner), (std::vector<Kind> {Kind::unorderedList, Kind::listItem, Kind::unorderedList, Kind::listItem,
                                                Kind::paragraph}));
    EXPECT_EQ(inner.attributes.blocks[2].depth, 2);

    EXPECT_EQ(runOf(s, "Clave").attributes.blocks.at(0).columns,
              (std::vector<BlockIntent::Alignment> {BlockIntent::Alignment::left, BlockIntent::Alignment::right}));
    // The empty cell keeps its place, so the columns of the last row do not shift.
    const AttributedRun& last = s.runs().back();
    EXPECT_EQ(last.length, 0u);
    ASSERT_EQ(kinds(last), (std::vector<Kind> {Kind::table, Kind::tableRow, Kind::tableCell}));
    EXPECT_EQ(last.attributes.blocks[2].column, 1);
    EXPECT_EQ(last.attributes.blocks[1].row, 1);
}

TEST(ResponseMarkdown, TextThatCannotBeRenderedIsShownPlain)
{
    const AttributedString invalid = ResponseMarkdown::render("**hola** \xFF\xFE mundo");
    EXPECT_EQ(invalid.text(), "**hola** \xEF\xBF\xBD\xEF\xBF\xBD mundo");
    ASSERT_EQ(invalid.runs().size(), 1u);
    EXPECT_EQ(invalid.runs()[0].attributes, RunAttributes {});
    const std::string deep = std::string(500, '>') + " muy anidado";
    EXPECT_EQ(ResponseMarkdown::render(deep).text(), deep);
    EXPECT_TRUE(ResponseMarkdown::render("").runs().empty());
}

} // namespace
} // namespace zorvane
