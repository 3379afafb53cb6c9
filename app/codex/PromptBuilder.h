#pragma once

#include "app/core/CapturedContext.h"

#include <optional>
#include <string>

// The full text handed to `codex exec` on its standard input.
namespace zorvane::PromptBuilder {

// The fixed instructions, the image sentence when the context carries image data (its presence
// decides, not its length), then the question exactly as typed. No other field of the context
// is sent.
std::string makePrompt(const std::string& question, const std::optional<CapturedContext>& context);

} // namespace zorvane::PromptBuilder
