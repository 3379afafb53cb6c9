#include "app/codex/CodexService.h"
#include "app/codex/PromptBuilder.h"

#include <gtest/gtest.h>

namespace zorvane {
namespace {

using Args = std::vector<std::string>;

TEST(CodexQueryArguments, EachModeAsksForItsModelAndEffortAndTheImageTakesOneJoinedArgument)
{
    const Args common = {"--ephemeral", "--ignore-user-config", "--skip-git-repo-check", "--ignore-rules", "--sandbox",
                         "read-only",   "--color",              "never",                "--output-last-message", "/t/a.txt"};
    Args thinking = {"exec", "--config", "model_reasoning_effort=\"high\""};
    thinking.insert(thinking.end(), common.begin(), common.end());
    // As two arguments `--image` would swallow the final `-` as a second image.
    thinking.insert(thinking.end(), {"--image=/t/zorvane-selection-B.png", "-"});
    EXPECT_EQ(CodexService::queryArguments(AIResponseMode::thinking, "/t/a.txt", std::filesystem::path("/t/zorvane-selection-B.png")),
              thinking);

    Args fast = {"exec", "--model", "gpt-5.6-luna", "--config", "model_reasoning_effort=\"none\"", "--config", "model_verbosity=\"low\""};
    fast.insert(fast.end(), common.begin(), common.end());
    fast.push_back("-");
    EXPECT_EQ(CodexService::queryArguments(AIResponseMode::fast, "/t/a.txt", std::nullopt), fast);
}

TEST(PromptBuilder, InstructionsThenTheImageSentenceOnlyWithImageDataThenTheQuestionVerbatim)
{
    const std::string instructions =
        "Responde como un asistente general de escritorio, de forma directa y útil.\n\n"
        "No modifiques archivos, no ejecutes comandos y no realices acciones externas.\n\n"
        "Responde en el idioma de la pregunta.\n\n";
    const std::string image = "La imagen adjunta es el único contenido seleccionado. Analízala para responder a la pregunta.\n\n";
    CapturedContext withoutImage;
    withoutImage.title = "Botón Guardar";
    withoutImage.content = "texto que no debe viajar";
    CapturedContext withImage = withoutImage;
    withImage.imageData = std::vector<std::uint8_t> {0x89, 'P', 'N', 'G'};
    CapturedContext emptyImage = withoutImage;
    emptyImage.imageData = std::vector<std::uint8_t> {}; // presence decides, not length
    const std::string markdown = "  línea uno\n\n\n**dos** `tres`\n  ";

    EXPECT_EQ(PromptBuilder::makePrompt(markdown, std::nullopt), instructions + "Pregunta del usuario:\n" + markdown);
    EXPECT_EQ(PromptBuilder::makePrompt("", withoutImage), instructions + "Pregunta del usuario:\n");
    EXPECT_EQ(PromptBuilder::makePrompt("¿Y esto?", withImage), instructions + image + "Pregunta del usuario:\n¿Y esto?");
    EXPECT_EQ(PromptBuilder::makePrompt("q", emptyImage), instructions + image + "Pregunta del usuario:\nq");
}

TEST(CodexServiceError, DescriptionsAreTheFixedSpanishTexts)
{
    using E = CodexService::ServiceError;
    EXPECT_EQ(E::subscriptionLoginRequired("Not logged in").localizedDescription(),
              "Para evitar consumo de API, inicia sesión en Codex con ChatGPT. Estado actual: Not logged in");
    EXPECT_EQ(E::commandFailed("error: límite alcanzado").localizedDescription(), "error: límite alcanzado");
    EXPECT_EQ(E::commandFailed("").localizedDescription(), "Codex no pudo completar la consulta.");
    EXPECT_EQ(E::executableMissing().localizedDescription(),
              "No encuentro Codex en este equipo. Instala o abre la app de Codex y vuelve a intentarlo.");
    // Callers that only know the base see the same text.
    EXPECT_EQ(describe(E::emptyResponse()), "Codex terminó sin devolver una respuesta.");
}

} // namespace
} // namespace zorvane
