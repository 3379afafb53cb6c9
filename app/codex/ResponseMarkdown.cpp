#include "app/codex/ResponseMarkdown.h"

#include "app/core/Text.h"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>

#include <cstring>
#include <memory>
#include <mutex>

namespace zorvane::ResponseMarkdown {
namespace {

// Deeper nesting than this is no answer anyone writes; every run carries its whole block chain,
// so a pathological input would cost quadratic memory. Such text is shown plain instead.
constexpr std::size_t kMaxBlockDepth = 64;

struct ParserDeleter {
    void operator()(cmark_parser* parser) const { cmark_parser_free(parser); }
};
struct NodeDeleter {
    void operator()(cmark_node* node) const { cmark_node_free(node); }
};
struct IterDeleter {
    void operator()(cmark_iter* iter) const { cmark_iter_free(iter); }
};

cmark_node* parse(std::string_view markdown, std::unique_ptr<cmark_node, NodeDeleter>& holder)
{
    // The registry of extensions is process-wide and not guarded by the library.
    static std::once_flag once;
    std::call_once(once, [] { cmark_gfm_core_extensions_ensure_registered(); });

    std::unique_ptr<cmark_parser, ParserDeleter> parser(cmark_parser_new(CMARK_OPT_DEFAULT));
    if (!parser) return nullptr;
    for (const char* name : {"table", "strikethrough", "autolink"}) {
        cmark_syntax_extension* extension = cmark_find_syntax_extension(name);
        if (!extension || !cmark_parser_attach_syntax_extension(parser.get(), extension)) return nullptr;
    }
    cmark_parser_feed(parser.get(), markdown.data(), markdown.size());
    holder.reset(cmark_parser_finish(parser.get()));
    return holder.get();
}

std::string_view literal(cmark_node* node)
{
    const char* text = cmark_node_get_literal(node);
    return text ? std::string_view(text) : std::string_view();
}

bool isType(cmark_node* node, const char* name)
{
    const char* type = cmark_node_get_type_string(node);
    return type && std::strcmp(type, name) == 0;
}

BlockIntent::Alignment alignment(std::uint8_t code)
{
    switch (code) {
    case 'l': return BlockIntent::Alignment::left;
    case 'c': return BlockIntent::Alignment::center;
    case 'r': return BlockIntent::Alignment::right;
    default: return BlockIntent::Alignment::none;
    }
}

class Renderer {
public:
    // False when the document is beyond what we render.
    bool run(cmark_node* document)
    {
        std::unique_ptr<cmark_iter, IterDeleter> iter(cmark_iter_new(document));
        if (!iter) return false;
        for (cmark_event_type event = cmark_iter_next(iter.get()); event != CMARK_EVENT_DONE;
             event = cmark_iter_next(iter.get())) {
            cmark_node* node = cmark_iter_get_node(iter.get());
            if (event == CMARK_EVENT_ENTER) {
                if (!enter(node)) return false;
            } else if (event == CMARK_EVENT_EXIT) {
                exit(node);
            }
        }
        return true;
    }

    AttributedString result() && { return std::move(out_); }

private:
    struct Frame {
        bool isBlock = false;
        std::size_t runsAtEntry = 0;
        RunAttributes saved; // inline state to restore on exit
        int counter = 0;     // lists: items seen; tables: rows seen; rows: cells seen
        int start = 1;       // ordered lists
        bool ordered = false;
    };

    bool enter(cmark_node* node)
    {
        switch (cmark_node_get_type(node)) {
        case CMARK_NODE_DOCUMENT: return true;
        case CMARK_NODE_PARAGRAPH: return pushBlock(intent(BlockIntent::Kind::paragraph));
        case CMARK_NODE_HEADING: {
            BlockIntent heading = intent(BlockIntent::Kind::heading);
            heading.level = cmark_node_get_heading_level(node);
            return pushBlock(std::move(heading));
        }
        case CMARK_NODE_BLOCK_QUOTE: return pushBlock(intent(BlockIntent::Kind::blockQuote));
        case CMARK_NODE_LIST: {
            const bool ordered = cmark_node_get_list_type(node) == CMARK_ORDERED_LIST;
            BlockIntent list = intent(ordered ? BlockIntent::Kind::orderedList : BlockIntent::Kind::unorderedList);
            list.depth = ++listDepth_;
            if (!pushBlock(std::move(list))) return false;
            frames_.back().ordered = ordered;
            frames_.back().start = ordered ? cmark_node_get_list_start(node) : 1;
            return true;
        }
        case CMARK_NODE_ITEM: {
            BlockIntent item = intent(BlockIntent::Kind::listItem);
            item.depth = listDepth_;
            if (Frame* list = enclosingFrame()) item.ordinal = list->start + list->counter++;
            return pushBlock(std::move(item));
        }
        case CMARK_NODE_CODE_BLOCK: {
            BlockIntent code = intent(BlockIntent::Kind::codeBlock);
            std::string_view info = cmark_node_get_fence_info(node) ? cmark_node_get_fence_info(node) : "";
            code.language = std::string(info.substr(0, info.find_first_of(" \t")));
            return leafBlock(std::move(code), withoutFinalNewline(literal(node)));
        }
        case CMARK_NODE_HTML_BLOCK:
            return leafBlock(intent(BlockIntent::Kind::paragraph), withoutFinalNewline(literal(node)));
        case CMARK_NODE_THEMATIC_BREAK: return leafBlock(intent(BlockIntent::Kind::thematicBreak), {});
        case CMARK_NODE_TEXT:
        case CMARK_NODE_HTML_INLINE: emit(literal(node)); return true;
        case CMARK_NODE_SOFTBREAK: emit(" "); return true;
        case CMARK_NODE_LINEBREAK: emit("\n"); return true;
        case CMARK_NODE_CODE: {
            const InlineStyle before = attributes_.style;
            attributes_.style = attributes_.style | InlineStyle::code;
            emit(literal(node));
            attributes_.style = before;
            return true;
        }
        case CMARK_NODE_EMPH: pushInline(); attributes_.style = attributes_.style | InlineStyle::emphasis; return true;
        case CMARK_NODE_STRONG: pushInline(); attributes_.style = attributes_.style | InlineStyle::strong; return true;
        case CMARK_NODE_LINK: {
            pushInline();
            const char* url = cmark_node_get_url(node);
            attributes_.link = url ? url : "";
            return true;
        }
        case CMARK_NODE_IMAGE: {
            pushInline();
            const char* url = cmark_node_get_url(node);
            attributes_.imageSource = url ? url : "";
            return true;
        }
        default: break;
        }
        if (isType(node, "table")) {
            BlockIntent table = intent(BlockIntent::Kind::table);
            const std::uint16_t columns = cmark_gfm_extensions_get_table_columns(node);
            const std::uint8_t* alignments = cmark_gfm_extensions_get_table_alignments(node);
            for (std::uint16_t i = 0; i < columns; ++i) table.columns.push_back(alignment(alignments ? alignments[i] : 0));
            return pushBlock(std::move(table));
        }
        if (isType(node, "table_header") || isType(node, "table_row")) {
            const bool header = cmark_gfm_extensions_get_table_row_is_header(node) != 0;
            BlockIntent row = intent(header ? BlockIntent::Kind::tableHeaderRow : BlockIntent::Kind::tableRow);
            if (Frame* table = enclosingFrame()) row.row = header ? 0 : ++table->counter;
            return pushBlock(std::move(row));
        }
        if (isType(node, "table_cell")) {
            BlockIntent cell = intent(BlockIntent::Kind::tableCell);
            if (Frame* row = enclosingFrame()) cell.column = row->counter++;
            return pushBlock(std::move(cell));
        }
        if (isType(node, "strikethrough")) {
            pushInline();
            attributes_.style = attributes_.style | InlineStyle::strikethrough;
            return true;
        }
        // Anything else (custom nodes) only contributes its children; every such node has an
        // exit event, so it gets a neutral frame.
        pushInline();
        return true;
    }

    void exit(cmark_node* node)
    {
        if (cmark_node_get_type(node) == CMARK_NODE_DOCUMENT || frames_.empty()) return;
        Frame frame = std::move(frames_.back());
        frames_.pop_back();
        if (frame.isBlock) {
            // A block without any text still needs its place (an empty cell keeps the columns).
            if (out_.runs().size() == frame.runsAtEntry) out_.append({}, attributes_);
            if (attributes_.blocks.back().kind == BlockIntent::Kind::orderedList ||
                attributes_.blocks.back().kind == BlockIntent::Kind::unorderedList) {
                --listDepth_;
            }
            attributes_.blocks.pop_back();
        } else {
            attributes_.style = frame.saved.style;
            attributes_.link = std::move(frame.saved.link);
            attributes_.imageSource = std::move(frame.saved.imageSource);
        }
    }

    BlockIntent intent(BlockIntent::Kind kind)
    {
        BlockIntent block;
        block.kind = kind;
        block.identity = nextIdentity_++;
        return block;
    }

    bool pushBlock(BlockIntent block)
    {
        if (attributes_.blocks.size() >= kMaxBlockDepth) return false;
        attributes_.blocks.push_back(std::move(block));
        Frame frame;
        frame.isBlock = true;
        frame.runsAtEntry = out_.runs().size();
        frames_.push_back(std::move(frame));
        return true;
    }

    // Leaf blocks have no exit event.
    bool leafBlock(BlockIntent block, std::string_view text)
    {
        if (attributes_.blocks.size() >= kMaxBlockDepth) return false;
        attributes_.blocks.push_back(std::move(block));
        out_.append(text, attributes_);
        attributes_.blocks.pop_back();
        return true;
    }

    void pushInline()
    {
        Frame frame;
        frame.saved = attributes_;
        frame.saved.blocks.clear();
        frames_.push_back(std::move(frame));
    }

    // The innermost enclosing block's frame (the list of an item, the table of a row…).
    Frame* enclosingFrame()
    {
        for (auto it = frames_.rbegin(); it != frames_.rend(); ++it) {
            if (it->isBlock) return &*it;
        }
        return nullptr;
    }

    void emit(std::string_view text)
    {
        if (!text.empty()) out_.append(text, attributes_);
    }

    static std::string_view withoutFinalNewline(std::string_view text)
    {
        if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
        return text;
    }

    AttributedString out_;
    RunAttributes attributes_;
    std::vector<Frame> frames_;
    int nextIdentity_ = 1;
    int listDepth_ = 0;
};

} // namespace

AttributedString render(std::string_view markdown)
{
    if (!Text::isValidUTF8(markdown)) return AttributedString(Text::decodeUTF8Lossy(markdown));
    std::unique_ptr<cmark_node, NodeDeleter> document;
    if (cmark_node* root = parse(markdown, document)) {
        Renderer renderer;
        if (renderer.run(root)) return std::move(renderer).result();
    }
    return AttributedString(std::string(markdown));
}

} // namespace zorvane::ResponseMarkdown
