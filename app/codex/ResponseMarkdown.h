#pragma once

#include "app/codex/AttributedString.h"

#include <string_view>

// Codex's answer, as GitHub-flavoured Markdown, turned into styled text for the composer.
namespace zorvane::ResponseMarkdown {

// Paragraphs, headings, lists, quotes, code, emphasis, strong, inline code, strikethrough, links
// (left unresolved) and tables. Text that cannot be parsed (it is not valid UTF-8, or the parser
// gives up) comes back as one plain run. Never fails.
AttributedString render(std::string_view markdown);

} // namespace zorvane::ResponseMarkdown
