#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvane {

// Inline styles of a run; several may apply at once.
enum class InlineStyle : unsigned {
    none = 0,
    emphasis = 1u << 0,
    strong = 1u << 1,
    code = 1u << 2,
    strikethrough = 1u << 3,
};

constexpr InlineStyle operator|(InlineStyle a, InlineStyle b)
{
    return static_cast<InlineStyle>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
constexpr InlineStyle operator&(InlineStyle a, InlineStyle b)
{
    return static_cast<InlineStyle>(static_cast<unsigned>(a) & static_cast<unsigned>(b));
}
constexpr bool contains(InlineStyle set, InlineStyle style)
{
    return (set & style) == style && style != InlineStyle::none;
}

// One block that encloses a run. A run carries the whole chain of its enclosing blocks, so a view
// can rebuild the block structure: a new block starts wherever the chain's identities change.
struct BlockIntent {
    enum class Kind {
        paragraph,
        heading,
        orderedList,
        unorderedList,
        listItem,
        blockQuote,
        codeBlock,
        thematicBreak,
        table,
        tableHeaderRow,
        tableRow,
        tableCell,
    };
    enum class Alignment { none, left, center, right };

    Kind kind = Kind::paragraph;
    int identity = 0;                // unique among the blocks of one string
    int level = 0;                   // heading: 1–6
    int depth = 0;                   // lists: 1 for a top-level list, 2 for a list inside it…
    int ordinal = 0;                 // list item: its number (ordered lists count from their start)
    std::string language;            // code block: first word of the fence's info string, or empty
    int row = 0;                     // table rows: 0 for the header row, then 1, 2…
    int column = 0;                  // table cell: 0-based
    std::vector<Alignment> columns;  // table: one entry per column

    friend bool operator==(const BlockIntent&, const BlockIntent&) = default;
};

struct RunAttributes {
    InlineStyle style = InlineStyle::none;
    std::optional<std::string> link;        // destination exactly as written; never resolved
    std::optional<std::string> imageSource; // for an image: its source; the run's text is the alt text
    std::vector<BlockIntent> blocks;        // enclosing blocks, outermost first; empty for plain text

    bool has(InlineStyle s) const { return contains(style, s); }
    const BlockIntent* innermost(BlockIntent::Kind kind) const;

    friend bool operator==(const RunAttributes&, const RunAttributes&) = default;
};

struct AttributedRun {
    std::size_t location = 0; // byte offset into the text
    std::size_t length = 0;   // bytes; 0 only for a block without text (rule, empty cell or item)
    RunAttributes attributes;

    friend bool operator==(const AttributedRun&, const AttributedRun&) = default;
};

// UTF-8 text with runs of attributes that cover it in order and without gaps. Blocks are not
// separated by characters in the text: their boundaries are in the runs' block intents.
class AttributedString {
public:
    AttributedString() = default;
    explicit AttributedString(std::string plainText); // one run without any attribute

    const std::string& text() const { return text_; }
    const std::vector<AttributedRun>& runs() const { return runs_; }
    std::string_view substring(const AttributedRun& run) const;

    // Appends text; it joins the last run when the attributes are the same. Empty text adds a
    // zero-length run so that a block without text keeps its place.
    void append(std::string_view text, const RunAttributes& attributes);

    friend bool operator==(const AttributedString&, const AttributedString&) = default;

private:
    std::string text_;
    std::vector<AttributedRun> runs_;
};

} // namespace zorvane
