#include "app/codex/CodexService.h"

#include <gtest/gtest.h>

namespace zorvane {
namespace {

using Args = std::vector<std::string>;

const Args kCommonBlock = {"--ephemeral", "--ignore-user-config", "--skip-git-repo-check", "--ignore-rules",
                           "--sandbox", "read-only", "--color", "never", "--output-last-message"};

Args concat(std::initializer_list<Args> parts)
{
    Args all;
    for (const Args& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(CodexQueryArguments, ThinkingWithImageAsksForHighEffortAndAttachesExactlyOneImage)
{
    const Args arguments = CodexService::queryArguments(AIResponseMode::thinking, "/tmp/zorvane-A.txt",
                                                        std::filesystem::path("/tmp/zorvane-selection-B.png"));
    EXPECT_EQ(arguments, concat({{"exec", "--config", "model_reasoning_effort=\"high\""},
                                 kCommonBlock,
                                 {"/tmp/zorvane-A.txt", "--image=/tmp/zorvane-selection-B.png", "-"}}));
}

TEST(CodexQueryArguments, FastNamesTheModelAndTurnsReasoningOffWithLowVerbosity)
{
    EXPECT_EQ(CodexService::queryArguments(AIResponseMode::fast, "/tmp/zorvane-A.txt", std::nullopt),
              concat({{"exec", "--model", "gpt-5.6-luna", "--config", "model_reasoning_effort=\"none\"", "--config",
                       "model_verbosity=\"low\""},
                      kCommonBlock,
                      {"/tmp/zorvane-A.txt", "-"}}));
    EXPECT_EQ(CodexService::queryArguments(AIResponseMode::thinking, "/tmp/a.txt", std::nullopt),
              concat({{"exec", "--config", "model_reasoning_effort=\"high\""}, kCommonBlock, {"/tmp/a.txt", "-"}}));
    EXPECT_EQ(CodexService::statusArguments(), (Args {"login", "status"}));
}

TEST(CodexEnvironment, KeysAndTokensNeverReachTheChildAndTermIsDumb)
{
    const Environment inherited = {
        {"OPENAI_API_KEY", "sk-secret"}, {"CODEX_API_KEY", "sk-other"}, {"CODEX_ACCESS_TOKEN", "tok"},
        {"TERM", "xterm-256color"},      {"PATH", "/usr/bin:/bin"},      {"OPENAI_BASE_URL", "http://x"},
        {"MULTI", "a b\nc=d"},           {"EMPTY", ""},
    };
    EXPECT_EQ(CodexService::sanitizedEnvironment(inherited),
              (Environment {{"TERM", "dumb"}, {"PATH", "/usr/bin:/bin"}, {"OPENAI_BASE_URL", "http://x"},
                            {"MULTI", "a b\nc=d"}, {"EMPTY", ""}}));
    EXPECT_EQ(CodexService::sanitizedEnvironment({}), (Environment {{"TERM", "dumb"}}));
}

TEST(CodexServiceError, DescriptionsAreTheFixedSpanishTexts)
{
    using E = CodexService::ServiceError;
    EXPECT_EQ(E::subscriptionLoginRequired("Not logged in").localizedDescription(),
              "Para evitar consumo de API, inicia sesión en Codex con ChatGPT. Estado actual: Not logged in");
    EXPECT_EQ(E::subscriptionLoginRequired("").localizedDescription(),
              "Para evitar consumo de API, inicia sesión en Codex con ChatGPT. Estado actual: ");
    EXPECT_EQ(E::commandFailed("error: límite alcanzado").localizedDescription(), "error: límite alcanzado");
    EXPECT_EQ(E::commandFailed("").localizedDescription(), "Codex no pudo completar la consulta.");
    EXPECT_EQ(E::executableMissing().localizedDescription(),
              "No encuentro Codex en este Mac. Instala o abre la app de Codex y vuelve a intentarlo.");
    EXPECT_EQ(E::emptyResponse().localizedDescription(), "Codex terminó sin devolver una respuesta.");
    // Callers that only know the base see the same text.
    EXPECT_EQ(describe(E::emptyResponse()), "Codex terminó sin devolver una respuesta.");
}

} // namespace
} // namespace zorvane
