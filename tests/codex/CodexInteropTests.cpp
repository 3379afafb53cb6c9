// Against the real `codex` installed on this machine, with a fresh home so that it is never
// signed in, and offline.
#include "app/codex/CodexService.h"
#include "app/codex/PromptBuilder.h"
#include "app/core/UUID.h"
#include "fakes/CodexSandbox.h"
#include "fakes/TemporaryDirectory.h"
#include "tests/support/Processes.h"

#include <gtest/gtest.h>

#include <fstream>

namespace zorvane {
namespace {

namespace fs = std::filesystem;
using fakes::CodexSandbox;

class RealCodex : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(home);
        fs::create_directories(tmp);
        Environment environment = processEnvironment();
        environment.erase("CODEX_HOME"); // the developer's own sign-in must not leak in
        environment["HOME"] = home.string();
        environment["TMPDIR"] = tmp.string();
        if (!environment.contains("PATH")) environment["PATH"] = "/usr/local/bin:/usr/bin:/bin";
        options.environment = environment;
        options.home = home;
        options.temporaryDirectory = tmp;
        executable = CodexService(options).findExecutable();
        if (!executable) GTEST_SKIP() << "the real codex is not installed (scripts/bootstrap installs @openai/codex)";
    }

    fakes::TemporaryDirectory base;
    fs::path home = base / "home", tmp = base / "tmp";
    CodexService::Options options;
    std::optional<fs::path> executable;
};

TEST_F(RealCodex, NotSignedInIsReportedAndTheQueryIsRefusedWithThatText)
{
    CodexService service(options);
    const std::string status = service.authenticationStatus();
    // It may first warn about its home being under the temporary directory.
    EXPECT_TRUE(status.ends_with("Not logged in")) << status;
    EXPECT_FALSE(service.isSubscriptionLoginVerified());

    CapturedContext context;
    context.imageData = std::vector<std::uint8_t> {0x89, 'P', 'N', 'G'};
    try {
        service.send("hola", context, AIResponseMode::fast);
        ADD_FAILURE() << "the query was not refused";
    } catch (const CodexService::ServiceError& error) {
        EXPECT_EQ(error.localizedDescription(), "Para evitar consumo de API, inicia sesión en Codex con ChatGPT. Estado actual: " + status);
    }
    EXPECT_TRUE(fs::is_empty(service.temporaryDirectory()));
}

// The prompt echoed back on standard error means the tool accepted the arguments and read the
// prompt; offline it then retries for ever, so it is stopped here.
TEST_F(RealCodex, ParserAcceptsTheQueryArgumentsAsBuilt)
{
    testing::Processes processes(base / "logs");
    if (processes.run({"/usr/bin/unshare", "-n", "/bin/true"}, 10) != 0)
        GTEST_SKIP() << "unshare -n is not permitted here (it needs root); the tool is never run online";
    const fs::path image = tmp / ("zorvane-selection-" + UUID().uuidString() + ".png");
    static const unsigned char png[] = { // 1×1, transparent
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
        0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00,
        0x0D, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0x00, 0x01, 0x00, 0x00, 0x05, 0x00, 0x01, 0x0D, 0x0A, 0x2D,
        0xB4, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(png), sizeof png);

    for (const AIResponseMode mode : AIResponseModes::allCases) {
        for (const bool withImage : {true, false}) {
            const std::string label = AIResponseModes::rawValue(mode) + (withImage ? " with image" : " without image");
            const std::string question = "zorvane-interop-" + UUID().uuidString();
            std::ofstream(base / "prompt", std::ios::trunc) << PromptBuilder::makePrompt(question, std::nullopt);
            // In the temporary folder, with exactly the environment the service gives it.
            std::vector<std::string> words = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\" <\"$PROMPT\" 2>\"$ERRORS\"",
                                              tmp.string(), "/usr/bin/env", "-i"};
            for (const auto& [name, value] : CodexService(options).sanitizedEnvironment()) words.push_back(name + "=" + value);
            words.insert(words.end(), {"/usr/bin/unshare", "-n", executable->string()});
            for (std::string& argument : CodexService::queryArguments(mode, tmp / "answer.txt", withImage ? std::optional(image) : std::nullopt))
                words.push_back(std::move(argument));

            const pid_t tool = processes.start(words, {{"PROMPT", (base / "prompt").string()}, {"ERRORS", (base / "stderr").string()}});
            const auto echoed = [&] { return fakes::readFile(base / "stderr").find(question) != std::string::npos; };
            testing::waitUntil(30, [&] { return echoed() || processes.hasExited(tool); });
            const std::string errors = fakes::readFile(base / "stderr");
            EXPECT_TRUE(echoed()) << label << ": the tool ended or never read the prompt (did its parser reject the arguments?)\n" << errors;
            // Had `--image` swallowed the final `-`, the tool would say it reads the prompt from
            // standard input because no prompt argument was left.
            EXPECT_EQ(errors.find("Reading prompt from stdin"), std::string::npos) << label << "\n" << errors;
            processes.stop(tool);
        }
    }
}

} // namespace
} // namespace zorvane
