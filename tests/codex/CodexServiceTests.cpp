#include "app/codex/CodexService.h"
#include "app/codex/PromptBuilder.h"
#include "app/core/UUID.h"
#include "fakes/CodexSandbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <thread>

namespace zorvane {
namespace {

namespace fs = std::filesystem;
using fakes::CodexSandbox;
using Case = CodexService::ServiceError::Case;

const std::string kAnswers = "echo respuesta > \"$answer\"";

// Runs `action`, which must throw a ServiceError of `expected`; returns its payload.
template <typename Action>
std::string expectServiceError(Case expected, Action action)
{
    try {
        action();
    } catch (const CodexService::ServiceError& error) {
        EXPECT_EQ(error.errorCase(), expected) << error.localizedDescription();
        return error.payload();
    }
    ADD_FAILURE() << "no ServiceError was thrown";
    return {};
}

CapturedContext withImage(std::vector<std::uint8_t> bytes)
{
    CapturedContext context;
    context.imageData = std::move(bytes);
    return context;
}

TEST(CodexDiscovery, FixedCandidatesAreTriedInOrderAfreshSkippingWhatCannotRun)
{
    CodexSandbox sandbox;
    const fs::path local = sandbox.root() / "usr/local/bin/codex";
    sandbox.writeScript(sandbox.systemCodex(), "exit 0");
    sandbox.writeScript(local, "exit 0");
    sandbox.writeScript(sandbox.homeCodex(), "exit 0");
    CodexService service(sandbox.options());
    EXPECT_EQ(service.findExecutable(), sandbox.homeCodex());
    fs::permissions(sandbox.homeCodex(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(service.findExecutable(), local);
    fs::remove(local);
    fs::create_directories(local);
    EXPECT_EQ(service.findExecutable(), sandbox.systemCodex());

    // Without a home given, HOME names it.
    sandbox.writeScript(sandbox.root() / "home/other/.local/bin/codex", "exit 0");
    CodexService::Options options = sandbox.options();
    options.home.reset();
    options.environment = Environment {{"HOME", "/home/other"}};
    EXPECT_EQ(CodexService(options).findExecutable(), sandbox.root() / "home/other/.local/bin/codex");
}

TEST(CodexDiscovery, ToolReachableOnlyThroughTheSearchPathIsNotFound)
{
    CodexSandbox sandbox;
    const fs::path onPath = sandbox.writeScript(sandbox.file("bin/codex"), CodexSandbox::signedInStatus());
    CodexService::Options options = sandbox.options();
    options.environment->insert_or_assign("PATH", onPath.parent_path().string() + ":/usr/bin:/bin");
    CodexService service(options);
    EXPECT_EQ(service.authenticationStatus(), "Codex no encontrado");
    expectServiceError(Case::executableMissing, [&] { service.send("hola", std::nullopt, AIResponseMode::fast); });
}

TEST(CodexCapturedRun, ChildGetsItsArgumentsAndASafeEnvironmentAndBothStreamsComeBackWhole)
{
    struct RunCase {
        std::string script;
        std::vector<std::string> arguments;
        int status;
        std::string output, errorOutput;
    };
    const std::string flood = "head -c 10485760 /dev/zero | tr '\\0' ";
    CodexSandbox sandbox;
    const std::vector<RunCase> cases = {
        {"printf 'sin sesión' >&2\nexit 1", {}, 1, "", "sin sesión"},
        {"printf '%s|' \"$@\"", {"uno dos", "", "\"tres\""}, 0, "uno dos||\"tres\"|", ""}, // no shell in between
        {"echo antes\nkill -KILL $$", {}, 128 + SIGKILL, "antes\n", ""},
        {"printf 'a\\377b\\300'\nprintf '\\342\\202x' >&2", {}, 0, "a\xEF\xBF\xBD" "b\xEF\xBF\xBD", "\xEF\xBF\xBDx"},
        // No key or token reaches the tool, so it can only use the ChatGPT sign-in.
        {"printf '%s|' \"${OPENAI_API_KEY+k}${CODEX_API_KEY+k}${CODEX_ACCESS_TOKEN+k}\" \"$TERM\" \"$WITH_LINES\"", {}, 0,
         "|dumb|a\nb = c|", ""},
        // Far more than a pipe holds, on both streams at once.
        {flood + "e >&2 &\n" + flood + "o\nwait", {}, 0, std::string(10485760, 'o'), std::string(10485760, 'e')},
        // A descendant still holding the streams does not hold the caller.
        {"sleep 600 &\necho $! > " + sandbox.file("straggler").string() + "\necho listo >&2", {}, 0, "", "listo\n"},
    };
    CodexService::Options options = sandbox.options();
    options.environment->insert({{"OPENAI_API_KEY", "sk-1"}, {"CODEX_API_KEY", "sk-2"}, {"CODEX_ACCESS_TOKEN", "t"},
                                 {"TERM", "xterm-kitty"}, {"WITH_LINES", "a\nb = c"}});
    CodexService service(options);
    for (const RunCase& c : cases) {
        const CodexService::CapturedRun run = service.runCaptured(sandbox.writeScript(sandbox.file("tool"), c.script), c.arguments);
        EXPECT_EQ(run.terminationStatus, c.status) << c.script;
        EXPECT_EQ(run.standardOutput, c.output) << c.script;
        EXPECT_EQ(run.standardError, c.errorOutput) << c.script;
    }
    if (const std::string straggler = sandbox.read(sandbox.file("straggler")); !straggler.empty()) ::kill(std::stoi(straggler), SIGKILL);
}

TEST(CodexStatus, OnlyASuccessfulRunMentioningChatGPTCountsAsSignedInElseNothingIsSent)
{
    struct StatusCase {
        std::string script;
        std::string shown;
        std::optional<std::string> refusal; // none: signed in
    };
    for (const StatusCase& c : std::vector<StatusCase> {
             {"echo 'Logged in using ChatGPT' >&2", "Logged in using ChatGPT", std::nullopt},
             {"echo '  logged in using chatgpt  ' >&2", "logged in using chatgpt", std::nullopt},
             {"echo 'Logged in using chatgpt' >&2; exit 1", "Logged in using chatgpt", "Logged in using chatgpt"},
             {"echo 'API key configured - sk-…' >&2", "API key configured - sk-…", "API key configured - sk-…"},
             {"printf 'salida\\n'; printf 'error\\n' >&2", "salida\n error", "salida\n error"},
             {"exit 0", "Estado desconocido", ""},
         }) {
        CodexSandbox sandbox;
        sandbox.installFakeCodex(c.script, kAnswers);
        CodexService service(sandbox.options());
        EXPECT_EQ(service.authenticationStatus(), c.shown) << c.script;
        EXPECT_EQ(service.isSubscriptionLoginVerified(), !c.refusal) << c.script;
        if (!c.refusal) continue;
        EXPECT_EQ(expectServiceError(Case::subscriptionLoginRequired,
                                     [&] { service.send("hola", withImage({1, 2, 3}), AIResponseMode::fast); }),
                  *c.refusal)
            << c.script;
        EXPECT_EQ(sandbox.lines(sandbox.file("calls")), (std::vector<std::string> {"login", "login"})) << "nothing was sent";
        EXPECT_TRUE(sandbox.temporaryEntries().empty());
    }
}

TEST(CodexSignInGate, StatusIsCheckedOnceUntilARefreshFindsNoSignIn)
{
    CodexSandbox sandbox;
    sandbox.installFakeCodex(CodexSandbox::signedInStatus(), kAnswers);
    CodexService service(sandbox.options());
    EXPECT_EQ(service.send("uno", std::nullopt, AIResponseMode::fast), "respuesta");
    EXPECT_EQ(service.send("dos", std::nullopt, AIResponseMode::thinking), "respuesta");
    EXPECT_EQ(sandbox.lines(sandbox.file("calls")), (std::vector<std::string> {"login", "exec", "exec"}));

    sandbox.installFakeCodex("echo 'Not logged in' >&2; exit 1", kAnswers);
    EXPECT_EQ(service.authenticationStatus(), "Not logged in");
    EXPECT_EQ(expectServiceError(Case::subscriptionLoginRequired, [&] { service.send("tres", std::nullopt, AIResponseMode::fast); }),
              "Not logged in");
}

TEST(CodexQuery, ToolReceivesTheBuiltArgumentsPromptAndImage)
{
    CodexSandbox sandbox;
    sandbox.installFakeCodex(CodexSandbox::signedInStatus(), "printf '  \\n respuesta\\n\\nlínea 2 \\n\\n' > \"$answer\"");
    CodexService service(sandbox.options());
    const std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0xFF, 0x00, 7};
    const CapturedContext context = withImage(png);

    // Surrounding blanks go, inner line breaks stay.
    EXPECT_EQ(service.send("¿Qué es esto?\n\nDetalles", context, AIResponseMode::thinking), "respuesta\n\nlínea 2");

    const std::vector<std::string> arguments = sandbox.lines(sandbox.file("args"));
    ASSERT_EQ(arguments.size(), 15u);
    const fs::path answer = arguments[12];
    const fs::path image = arguments[13].substr(std::string("--image=").size());
    EXPECT_EQ(arguments, CodexService::queryArguments(AIResponseMode::thinking, answer, image));
    EXPECT_EQ(answer.parent_path(), sandbox.temporaryDirectory());
    EXPECT_EQ(image.parent_path(), sandbox.temporaryDirectory());
    EXPECT_TRUE(image.filename().string().starts_with("zorvane-selection-")) << image; // what the sweep removes

    EXPECT_EQ(sandbox.read(sandbox.file("prompt")), PromptBuilder::makePrompt("¿Qué es esto?\n\nDetalles", context));
    EXPECT_EQ(sandbox.read(sandbox.file("image")), std::string(png.begin(), png.end()));
    EXPECT_EQ(sandbox.read(sandbox.file("image-mode")), "600\n");
    EXPECT_EQ(sandbox.read(sandbox.file("cwd")), sandbox.temporaryDirectory().string() + "\n");
    EXPECT_TRUE(sandbox.temporaryEntries().empty());
}

TEST(CodexQuery, FailuresOfTheToolBecomeTheirErrorsAndLeaveNoFiles)
{
    struct FailureCase {
        std::string execBody;
        Case expected;
        std::string payload;
    };
    for (const FailureCase& c : std::vector<FailureCase> {
             {"exit 2", Case::commandFailed, ""},
             {kAnswers + "; printf '  Límite de uso alcanzado.\\n\\n' >&2; exit 3", Case::commandFailed, "Límite de uso alcanzado."},
             {"printf ' \\n\\t\\n' > \"$answer\"", Case::emptyResponse, ""},
             {"exit 0", Case::emptyResponse, ""},
             {"printf 'resp\\377uesta' > \"$answer\"", Case::emptyResponse, ""},
             {"mkfifo \"$answer\"", Case::emptyResponse, ""}, // must not wait for a writer
         }) {
        CodexSandbox sandbox;
        sandbox.installFakeCodex(CodexSandbox::signedInStatus(), c.execBody);
        CodexService service(sandbox.options());
        EXPECT_EQ(expectServiceError(c.expected, [&] { service.send("q", withImage({1}), AIResponseMode::fast); }), c.payload)
            << c.execBody;
        EXPECT_TRUE(fs::exists(sandbox.file("image"))) << c.execBody;
        EXPECT_TRUE(sandbox.temporaryEntries().empty()) << c.execBody;
    }
}

TEST(CodexQuery, ImageThatCannotBeWrittenOrToolThatCannotStartFailsAndLeavesNoFiles)
{
    CodexSandbox sandbox;
    sandbox.installFakeCodex(CodexSandbox::signedInStatus(), kAnswers);
    CodexService::Options unwritable = sandbox.options();
    unwritable.temporaryDirectory = sandbox.file("no-such-directory");
    EXPECT_THROW(CodexService(unwritable).send("q", withImage({1, 2}), AIResponseMode::fast), std::system_error);
    EXPECT_EQ(sandbox.lines(sandbox.file("calls")), std::vector<std::string> {"login"}) << "never asked without the image";

    CodexService service(sandbox.options());
    ASSERT_EQ(service.send("q", std::nullopt, AIResponseMode::fast), "respuesta");
    std::ofstream(sandbox.systemCodex(), std::ios::trunc) << "#!/nonexistent/interpreter\n";
    EXPECT_THROW(service.send("q", withImage({1, 2}), AIResponseMode::thinking), std::system_error);
    EXPECT_TRUE(sandbox.temporaryEntries().empty());
    const std::string shown = service.authenticationStatus();
    EXPECT_NE(shown.find(sandbox.systemCodex().string()), std::string::npos) << shown;
    EXPECT_FALSE(service.isSubscriptionLoginVerified());
}

TEST(CodexQuery, ToolThatNeverReadsItsInputDoesNotHangOrBreakTheProgram)
{
    CodexSandbox sandbox;
    const std::string question(4 * 1024 * 1024, 'x'); // far more than a pipe holds
    for (const char* body : {
             // Exits at once without touching its input.
             "echo 'sin leer' > \"$answer\"",
             // Closes its input, then keeps the pipe of its errors busy.
             "exec 0<&-\nhead -c 3000000 /dev/zero >&2\necho 'sin leer' > \"$answer\"",
         }) {
        sandbox.installFakeCodex(CodexSandbox::signedInStatus(), body, false);
        CodexService service(sandbox.options());
        EXPECT_EQ(service.send(question, std::nullopt, AIResponseMode::fast), "sin leer");
        EXPECT_TRUE(sandbox.temporaryEntries().empty());
    }
}

TEST(CodexQuery, OverlappingQueriesEachGetTheirOwnFilesAndAnswer)
{
    CodexSandbox sandbox;
    sandbox.installFakeCodex(CodexSandbox::signedInStatus(), "printf '%s %s' \"$(tail -n 1)\" \"$(cat \"$image\")\" > \"$answer\"", false);
    CodexService service(sandbox.options());
    std::vector<std::string> answers(8);
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&, i] {
            try {
                answers[i] = service.send("pregunta " + std::to_string(i), withImage({'i', static_cast<std::uint8_t>('0' + i)}),
                                          i % 2 ? AIResponseMode::fast : AIResponseMode::thinking);
            } catch (const std::exception& error) {
                answers[i] = describe(error);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int i = 0; i < 8; ++i) EXPECT_EQ(answers[i], "pregunta " + std::to_string(i) + " i" + std::to_string(i));
    EXPECT_TRUE(sandbox.temporaryEntries().empty());
}

TEST(CodexQuery, AQuestionThatNeverEndsIsEndedAtItsLimitOrWhenCancelledWithNothingLeftBehind)
{
    struct EndCase {
        bool ignoresTerm;
        bool cancelled;
    };
    for (const EndCase& c : {EndCase {false, false}, EndCase {true, false}, EndCase {false, true}}) {
        SCOPED_TRACE(std::string(c.ignoresTerm ? "ignores SIGTERM" : "") + (c.cancelled ? "cancelled" : "time limit"));
        CodexSandbox sandbox;
        sandbox.installFakeCodex(CodexSandbox::signedInStatus(), sandbox.hangingExecBody(c.ignoresTerm));
        CodexService::Options options = sandbox.options();
        options.queryTimeLimit = c.cancelled ? 60 : 0.3;
        CodexService service(options);
        const auto cancellation = std::make_shared<Cancellation>();
        std::thread canceller;
        if (c.cancelled) {
            canceller = std::thread([&] {
                sandbox.hangingProcesses();
                cancellation->cancel();
            });
        }
        if (c.cancelled) {
            EXPECT_THROW(service.send("q", withImage({1}), AIResponseMode::fast, cancellation), OperationCancelled);
            canceller.join();
        } else {
            EXPECT_EQ(expectServiceError(Case::commandFailed, [&] { service.send("q", withImage({1}), AIResponseMode::fast); }),
                      "Codex no respondió en 10 minutos.");
        }
        const auto processes = sandbox.hangingProcesses();
        ASSERT_EQ(processes.size(), 2u);
        EXPECT_TRUE(CodexSandbox::processEnds(processes[0])) << "the tool";
        EXPECT_TRUE(CodexSandbox::processEnds(processes[1])) << "what the tool started";
        EXPECT_TRUE(sandbox.temporaryEntries().empty());
    }
}

TEST(CodexTemporaryDirectory, TransportFilesOlderThanADayAndNothingElseAreSweptAndTMPDIRCountsOnlyAsADirectory)
{
    CodexSandbox sandbox;
    const fs::path tmp = sandbox.temporaryDirectory();
    const std::string oldAnswer = "zorvane-" + UUID().uuidString() + ".txt";
    const std::string freshAnswer = "zorvane-" + UUID().uuidString() + ".txt";
    const std::string freshImage = "zorvane-selection-" + UUID().uuidString() + ".png";
    for (const std::string& name : {std::string("zorvane-selection-0A1B.png"), std::string("zorvane-selection-"),
                                    std::string("zorvane-selection-X.png.partial"), std::string("zorvane-1234.txt"),
                                    std::string(".zorvane-selection-hidden"), std::string("notas.txt"), oldAnswer, freshAnswer,
                                    freshImage}) {
        std::ofstream(tmp / name) << "x";
    }
    // Transport files go after a day: younger ones may be those of a question another process
    // (a command-line question, another instance) is asking right now.
    const auto twoDaysAgo = fs::file_time_type::clock::now() - std::chrono::hours(48);
    for (const std::string& name : {std::string("zorvane-selection-0A1B.png"), std::string("zorvane-selection-"),
                                    std::string("zorvane-selection-X.png.partial"), std::string("zorvane-1234.txt"), oldAnswer})
        fs::last_write_time(tmp / name, twoDaysAgo);
    fs::last_write_time(tmp / freshAnswer, fs::file_time_type::clock::now() - std::chrono::hours(20));
    fs::last_write_time(tmp / freshImage, fs::file_time_type::clock::now() - std::chrono::hours(20));
    CodexService service(sandbox.options());
    std::vector<std::string> kept {".zorvane-selection-hidden", "notas.txt", "zorvane-1234.txt", freshAnswer, freshImage};
    std::sort(kept.begin(), kept.end());
    ASSERT_EQ(sandbox.temporaryEntries(), kept);

    // Never the answer file of a query running now, however old it looks.
    sandbox.installFakeCodex(CodexSandbox::signedInStatus(),
        "touch -d '3 days ago' \"$answer\"; while [ ! -f '" + sandbox.file("go").string() + "' ]; do sleep 0.01; done; echo sí > \"$answer\"");
    std::thread query([&] { EXPECT_EQ(service.send("q", std::nullopt, AIResponseMode::fast), "sí"); });
    while (sandbox.temporaryEntries().size() < 6) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    CodexService::removeStaleTransportImages(tmp);
    EXPECT_EQ(sandbox.temporaryEntries().size(), 6u);
    std::ofstream(sandbox.file("go")) << "";
    query.join();

    CodexService::Options options = sandbox.options();
    options.temporaryDirectory = sandbox.file("gone");
    EXPECT_NO_THROW(CodexService {options});

    // Left unset, it is TMPDIR when that names a directory.
    options.temporaryDirectory.reset();
    options.environment->insert_or_assign("TMPDIR", sandbox.temporaryDirectory().string());
    EXPECT_EQ(CodexService(options).temporaryDirectory(), sandbox.temporaryDirectory());
    std::ofstream(sandbox.file("plain-file")) << "x";
    options.environment->insert_or_assign("TMPDIR", sandbox.file("plain-file").string());
    EXPECT_EQ(CodexService(options).temporaryDirectory(), "/tmp");
}

} // namespace
} // namespace zorvane
