#include "app/codex/PromptBuilder.h"

#include <array>

namespace zorvane::PromptBuilder {

std::string makePrompt(const std::string& question, const std::optional<CapturedContext>& context)
{
    static constexpr std::array<const char*, 3> instructions = {
        "Responde como un asistente general de escritorio, de forma directa y útil.",
        "No modifiques archivos, no ejecutes comandos y no realices acciones externas.",
        "Responde en el idioma de la pregunta.",
    };
    std::string prompt;
    for (const char* line : instructions) {
        prompt += line;
        prompt += "\n\n";
    }
    if (context && context->imageData) {
        prompt += "La imagen adjunta es el único contenido seleccionado. Analízala para responder a la pregunta.";
        prompt += "\n\n";
    }
    prompt += "Pregunta del usuario:\n";
    prompt += question;
    return prompt;
}

} // namespace zorvane::PromptBuilder
