#include "app/codex/ResponseMarkdown.h"

#include <gtest/gtest.h>

namespace zorvane {
namespace {

using Kind = BlockIntent::Kind;

// The run that holds exactly `text`; fails the test when there is none.
const AttributedRun& runOf(const AttributedString& string, std::string_view text)
{
    for (const AttributedRun& run : string.runs()) {
        if (string.substring(run) == text) return run;
    }
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

TEST(ResponseMarkdown, InlineStylesReplaceTheirMarkersAndLinksStayAsWritten)
{
    const AttributedString s = ResponseMarkdown::render("Usa **negrita**, *cursiva*, `a * b`, ~~tachado~~, ***ambas***, "
                                                        "[la guía](docs/guia.md), <https://e.com/a?b=1> y ![diagrama](img/d.png)");
    EXPECT_EQ(s.text(), "Usa negrita, cursiva, a * b, tachado, ambas, la guía, https://e.com/a?b=1 y diagrama");
    EXPECT_EQ(runOf(s, "negrita").attributes.style, InlineStyle::strong);
    EXPECT_EQ(runOf(s, "cursiva").attributes.style, InlineStyle::emphasis);
    EXPECT_EQ(runOf(s, "a * b").attributes.style, InlineStyle::code);
    EXPECT_EQ(runOf(s, "tachado").attributes.style, InlineStyle::strikethrough);
    EXPECT_EQ(runOf(s, "ambas").attributes.style, InlineStyle::strong | InlineStyle::emphasis);
    EXPECT_EQ(runOf(s, "la guía").attributes.link, "docs/guia.md"); // relative, left unresolved
    EXPECT_EQ(runOf(s, "https://e.com/a?b=1").attributes.link, "https://e.com/a?b=1");
    EXPECT_EQ(runOf(s, "diagrama").attributes.imageSource, "img/d.png");
}

TEST(ResponseMarkdown, BlocksAreSeparateAndCodeStaysLiteralWithItsLanguage)
{
    const AttributedString s = ResponseMarkdown::render("# Título\n\nuna línea\nsigue  \naparte\n\n---\n\n> Cita con **fuerza**\n\n"
                                                        "```swift extra\nlet x = **1**\nprint(x)\n```\n\n    sangrado\n\n### Sub\n\nOtro");
    EXPECT_EQ(s.text(), "Títulouna línea sigue\naparteCita con fuerzalet x = **1**\nprint(x)sangradoSubOtro");
    EXPECT_EQ(kinds(runOf(s, "Título")), std::vector<Kind> {Kind::heading});
    EXPECT_EQ(runOf(s, "Título").attributes.blocks[0].level, 1);
    EXPECT_EQ(runOf(s, "Sub").attributes.blocks.at(0).level, 3);
    const AttributedRun& first = runOf(s, "una línea sigue\naparte");
    EXPECT_EQ(kinds(first), std::vector<Kind> {Kind::paragraph});
    EXPECT_NE(first.attributes.blocks[0].identity, runOf(s, "Otro").attributes.blocks.at(0).identity);
    ASSERT_GE(s.runs().size(), 3u);
    EXPECT_EQ(s.runs()[2].length, 0u); // the rule keeps its place without text
    EXPECT_EQ(kinds(s.runs()[2]), std::vector<Kind> {Kind::thematicBreak});
    EXPECT_EQ(kinds(runOf(s, "fuerza")), (std::vector<Kind> {Kind::blockQuote, Kind::paragraph}));
    const AttributedRun& code = runOf(s, "let x = **1**\nprint(x)");
    EXPECT_EQ(kinds(code), std::vector<Kind> {Kind::codeBlock});
    EXPECT_EQ(code.attributes.blocks[0].language, "swift");
    EXPECT_EQ(runOf(s, "sangrado").attributes.blocks.at(0).language, "");
}

TEST(ResponseMarkdown, ListsCarryOrdinalsAndNesting)
{
    const AttributedString s = ResponseMarkdown::render("3. tres\n4. cuatro\n\n- punto\n  - dentro\n- otro\n");
    const AttributedRun& three = runOf(s, "tres");
    EXPECT_EQ(kinds(three), (std::vector<Kind> {Kind::orderedList, Kind::listItem, Kind::paragraph}));
    EXPECT_EQ(three.attributes.blocks[1].ordinal, 3);
    EXPECT_EQ(runOf(s, "cuatro").attributes.blocks[1].ordinal, 4);
    EXPECT_EQ(three.attributes.blocks[0].identity, runOf(s, "cuatro").attributes.blocks[0].identity);

    const AttributedRun& inner = runOf(s, "dentro");
    EXPECT_EQ(kinds(inner), (std::vector<Kind> {Kind::unorderedList, Kind::listItem, Kind::unorderedList, Kind::listItem,
                                                Kind::paragraph}));
    EXPECT_EQ(inner.attributes.blocks[0].depth, 1);
    EXPECT_EQ(inner.attributes.blocks[2].depth, 2);
    EXPECT_EQ(runOf(s, "otro").attributes.blocks[1].ordinal, 2);
}

TEST(ResponseMarkdown, TablesKeepRowsCellsAndAlignment)
{
    const AttributedString s = ResponseMarkdown::render("| Clave | Valor |\n|:--|--:|\n| a | 1 |\n| b | |\n");
    const AttributedRun& key = runOf(s, "Clave");
    ASSERT_EQ(kinds(key), (std::vector<Kind> {Kind::table, Kind::tableHeaderRow, Kind::tableCell}));
    EXPECT_EQ(key.attributes.blocks[0].columns,
              (std::vector<BlockIntent::Alignment> {BlockIntent::Alignment::left, BlockIntent::Alignment::right}));
    EXPECT_EQ(runOf(s, "Valor").attributes.blocks[2].column, 1);
    EXPECT_EQ(runOf(s, "1").attributes.blocks[1].row, 1);
    // The empty cell keeps its place, so the columns of the last row do not shift.
    const AttributedRun& last = s.runs().back();
    EXPECT_EQ(last.length, 0u);
    EXPECT_EQ(last.attributes.blocks.at(2).kind, Kind::tableCell);
    EXPECT_EQ(last.attributes.blocks[2].column, 1);
    EXPECT_EQ(last.attributes.blocks[1].row, 2);
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
