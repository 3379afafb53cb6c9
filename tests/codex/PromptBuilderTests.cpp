#include "app/codex/PromptBuilder.h"

#include <gtest/gtest.h>

namespace zorvane {
namespace {

const std::string kInstructions =
    "Responde como un asistente general de escritorio, de forma directa y útil.\n\n"
    "No modifiques archivos, no ejecutes comandos y no realices acciones externas.\n\n"
    "Responde en el idioma de la pregunta.\n\n";
const std::string kImageLine =
    "La imagen adjunta es el único contenido seleccionado. Analízala para responder a la pregunta.\n\n";

CapturedContext contextWithImage(std::vector<std::uint8_t> bytes)
{
    CapturedContext context;
    context.title = "Botón Guardar";
    context.content = "texto que no debe viajar";
    context.imageData = std::move(bytes);
    return context;
}

TEST(PromptBuilder, QuestionWithoutImageFollowsTheThreeInstructions)
{
    EXPECT_EQ(PromptBuilder::makePrompt("¿Qué hace esto?", std::nullopt),
              kInstructions + "Pregunta del usuario:\n¿Qué hace esto?");
}

TEST(PromptBuilder, ImageSentenceStandsBeforeTheQuestionWhenTheContextHasImageData)
{
    EXPECT_EQ(PromptBuilder::makePrompt("¿Y esto?", contextWithImage({0x89, 'P', 'N', 'G'})),
              kInstructions + kImageLine + "Pregunta del usuario:\n¿Y esto?");
    // Presence decides, not length: an empty image still counts as attached.
    EXPECT_EQ(PromptBuilder::makePrompt("q", contextWithImage({})), kInstructions + kImageLine + "Pregunta del usuario:\nq");
}

TEST(PromptBuilder, ContextWithoutImageDataIsTheSameAsNoContext)
{
    CapturedContext context;
    context.title = "Ventana";
    context.content = "contenido";
    EXPECT_EQ(PromptBuilder::makePrompt("q", context), PromptBuilder::makePrompt("q", std::nullopt));
}

TEST(PromptBuilder, QuestionIsPassedVerbatim)
{
    EXPECT_EQ(PromptBuilder::makePrompt("", std::nullopt), kInstructions + "Pregunta del usuario:\n");
    const std::string markdown = "  línea uno\n\n\n**dos** `tres`\n  ";
    EXPECT_EQ(PromptBuilder::makePrompt(markdown, std::nullopt), kInstructions + "Pregunta del usuario:\n" + markdown);
}

} // namespace
} // namespace zorvane
