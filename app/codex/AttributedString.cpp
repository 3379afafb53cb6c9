#include "app/codex/AttributedString.h"

namespace zorvane {

const BlockIntent* RunAttributes::innermost(BlockIntent::Kind kind) const
{
    for (auto it = blocks.rbegin(); it != blocks.rend(); ++it) {
        if (it->kind == kind) return &*it;
    }
    return nullptr;
}

AttributedString::AttributedString(std::string plainText) : text_(std::move(plainText))
{
    if (!text_.empty()) runs_.push_back({0, text_.size(), {}});
}

std::string_view AttributedString::substring(const AttributedRun& run) const
{
    if (run.location >= text_.size()) return {};
    return std::string_view(text_).substr(run.location, run.length);
}

void AttributedString::append(std::string_view text, const RunAttributes& attributes)
{
    if (!text.empty() && !runs_.empty() && runs_.back().length > 0 && runs_.back().attributes == attributes) {
        runs_.back().length += text.size();
        text_.append(text);
        return;
    }
    runs_.push_back({text_.size(), text.size(), attributes});
    text_.append(text);
}

} // namespace zorvane
