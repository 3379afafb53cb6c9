#include "app/core/CapturedContext.h"

#include "app/core/Text.h"

namespace zorvane {

std::string CapturedContext::displayTitle() const
{
    if (!Text::isBlank(title)) return title;
    if (!Text::isBlank(content)) return Text::prefixCharacters(Text::trimmed(content), 72);
    if (!role.empty()) return role;
    return "Captura de pantalla";
}

std::optional<CapturedContext::Kind> kindFromRawValue(std::string_view value)
{
    if (value == "text") return CapturedContext::Kind::text;
    if (value == "image") return CapturedContext::Kind::image;
    if (value == "interface") return CapturedContext::Kind::interface;
    return std::nullopt;
}

std::string rawValue(CapturedContext::Kind kind)
{
    switch (kind) {
    case CapturedContext::Kind::text: return "text";
    case CapturedContext::Kind::image: return "image";
    case CapturedContext::Kind::interface: return "interface";
    }
    return "image";
}

namespace AIResponseModes {

std::optional<AIResponseMode> fromRawValue(std::string_view value)
{
    if (value == "fast") return AIResponseMode::fast;
    if (value == "thinking") return AIResponseMode::thinking;
    return std::nullopt;
}

std::string rawValue(AIResponseMode mode)
{
    return mode == AIResponseMode::thinking ? "thinking" : "fast";
}

std::string label(AIResponseMode mode)
{
    return mode == AIResponseMode::thinking ? "Thinking" : "Fast";
}

std::string symbol(AIResponseMode mode)
{
    return mode == AIResponseMode::thinking ? "brain.head.profile" : "bolt.fill";
}

std::string description(AIResponseMode mode)
{
    return mode == AIResponseMode::thinking ? "Dedica más razonamiento a preguntas complejas."
                                            : "Prioriza la menor latencia con respuestas concisas.";
}

} // namespace AIResponseModes
} // namespace zorvane
