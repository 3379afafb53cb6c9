#include "app/codex/CodexService.h"
#include "app/codex/PromptBuilder.h"
#include "fakes/CodexSandbox.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

namespace zorvane {
namespace {

namespace fs = std::filesystem;
using fakes::CodexSandbox;
using Case = CodexService::ServiceError::Case;

// Runs `action`, which must throw a ServiceError of `expected`; returns its payload.
template <typename Action>
std::string expectServiceError(Case expected, Action action)
{
    try {
        action();
        ADD_FAILURE() << "no ServiceError was thrown";
    } catch (const CodexService::ServiceError& error) {
        EXPECT_EQ(error.errorCase(), expected) << error.localizedDescription();
        return error.payload();
    }
    return {};
}

CapturedContext contextWithImage(std::vector<std::uint8_t> bytes)
{
    CapturedContext context;
    context.title = "Gráfico";
    context.imageData = std::move(bytes);
    return context;
}

// A `codex` whose interpreter does not exist: executable, but it cannot be started.
void installUnstartable(const CodexSandbox& sandbox)
{
    std::ofstream(sandbox.systemCodex(), std::ios::trunc) << "#!/nonexistent/interpreter\n";
}

// ---------------------------------------------------------------------------------------------

TEST(CodexDiscovery, CandidatesAreTriedHomeThenUsrLocalThenUsrBin)
{
    CodexSandbox sandbox;
    const fs::path local = sandbox.root() / "usr/local/bin/codex";
    sandbox.writeScript(sandbox.systemCodex(), "exit 0");
    sandbox.writeScript(local, "exit 0");
    sandbox.writeScript(sandbox.homeCodex(), "exit 0");
    CodexService service(sandbox.options());

    EXPECT_EQ(service.findExecutable(), sandbox.homeCodex());
    fs::remove(sandbox.homeCodex());
    EXPECT_EQ(service.findExecutable(), local); // looked up afresh, never cached
    fs::remove(local);
    EXPECT_EQ(service.findExecutable(), sandbox.systemCodex());
}

TEST(CodexDiscovery, HomeComesFromTheEnvironmentWhenNotGiven)
{
    CodexSandbox sandbox;
    sandbox.writeScript(sandbox.systemCodex(), "exit 0");
    sandbox.writeScript(sandbox.root() / "home/other/.local/bin/codex", "exit 0");
    CodexService::Options options = sandbox.options();
    options.home.reset();
    options.environment = Environment {{"HOME", "/home/other"}};
    EXPECT_EQ(CodexService(options).findExecutable(), sandbox.root() / "home/other/.local/bin/codex");
}

TEST(CodexDiscovery, CandidatesThatCannotBeExecutedAreSkipped)
{
    CodexSandbox sandbox;
    sandbox.writeScript(sandbox.homeCodex(), "exit 0");
    fs::permissions(sandbox.homeCodex(), fs::perms::owner_read | fs::perms::owner_write);
    fs::create_directories(sandbox.root() / "usr/local/bin/codex");
    sandbox.writeScript(sandbox.systemCodex(), "exit 0");
    EXPECT_EQ(CodexService(sandbox.options()).findExecutable(), sandbox.systemCodex());
}

TEST(CodexDiscovery, ToolReachableOnlyThroughTheSearchPathIsNotFound)
{
    CodexSandbox sandbox;
    const fs::path onPath = sandbox.writeScript(sandbox.file("bin/codex"), CodexSandbox::signedInStatus());
    CodexService::Options options = sandbox.options();
    options.environment->insert_or_assign("PATH", onPath.parent_path().string() + ":/usr/bin:/bin");
    CodexService service(options);

    EXPECT_EQ(service.findExecutable(), std::nullopt);
    EXPECT_EQ(service.authenticationStatus(), "Codex no encontrado");
    expectServiceError(Case::executableMissing, [&] { service.send("hola", std::nullopt, AIResponseMode::fast); });
}

// ---------------------------------------------------------------------------------------------

TEST(CodexCapturedRun, ExitStatusAndBothStreamsAreReturnedNotThrown)
{
    CodexSandbox sandbox;
    CodexService service(sandbox.options());
    const fs::path failing = sandbox.writeScript(sandbox.file("failing"), "printf 'sin sesión' >&2\nexit 1");
    const CodexService::CapturedRun failed = service.runCaptured(failing, {});
    EXPECT_EQ(failed.terminationStatus, 1);
    EXPECT_EQ(failed.standardOutput, "");
    EXPECT_EQ(failed.standardError, "sin sesión");

    const fs::path echoing = sandbox.writeScript(sandbox.file("echoing"), "printf '%s|' \"$@\"\nprintf 'ok' >&2");
    const CodexService::CapturedRun echoed = service.runCaptured(echoing, {"uno dos", "", "\"tres\""});
    EXPECT_EQ(echoed.terminationStatus, 0);
    EXPECT_EQ(echoed.standardOutput, "uno dos||\"tres\"|"); // each argument arrives whole, no shell between
    EXPECT_EQ(echoed.standardError, "ok");
}

TEST(CodexCapturedRun, ChildKilledBySignalReportsANonZeroStatus)
{
    CodexSandbox sandbox;
    const fs::path killed = sandbox.writeScript(sandbox.file("killed"), "echo antes\nkill -KILL $$");
    const CodexService::CapturedRun run = CodexService(sandbox.options()).runCaptured(killed, {});
    EXPECT_EQ(run.terminationStatus, 128 + SIGKILL);
    EXPECT_EQ(run.standardOutput, "antes\n");
}

TEST(CodexCapturedRun, InvalidUTF8IsReplacedNotRejected)
{
    CodexSandbox sandbox;
    const fs::path script = sandbox.writeScript(sandbox.file("bytes"), "printf 'a\\377b\\300' \nprintf '\\342\\202x' >&2");
    const CodexService::CapturedRun run = CodexService(sandbox.options()).runCaptured(script, {});
    EXPECT_EQ(run.standardOutput, "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    EXPECT_EQ(run.standardError, "\xEF\xBF\xBDx");
}

TEST(CodexCapturedRun, TenMegabytesOnEachStreamArriveComplete)
{
    CodexSandbox sandbox;
    constexpr std::size_t size = 10 * 1024 * 1024;
    const fs::path script = sandbox.writeScript(
        sandbox.file("flood"), "head -c " + std::to_string(size) + " /dev/zero | tr '\\0' e >&2 &\n"
                               "head -c " + std::to_string(size) + " /dev/zero | tr '\\0' o\nwait");
    const CodexService::CapturedRun run = CodexService(sandbox.options()).runCaptured(script, {});
    EXPECT_EQ(run.terminationStatus, 0);
    EXPECT_EQ(run.standardOutput, std::string(size, 'o'));
    EXPECT_EQ(run.standardError, std::string(size, 'e'));
}

TEST(CodexCapturedRun, ChildGetsTheSanitizedEnvironmentExactly)
{
    CodexSandbox sandbox;
    fs::create_directories(sandbox.systemCodex().parent_path());
    fs::create_symlink("/usr/bin/env", sandbox.systemCodex());
    CodexService::Options options = sandbox.options();
    options.environment = Environment {
        {"OPENAI_API_KEY", "sk-1"}, {"CODEX_API_KEY", "sk-2"}, {"CODEX_ACCESS_TOKEN", "t"}, {"TERM", "xterm-kitty"},
        {"PATH", "/usr/bin:/bin"},  {"LANG", "es_ES.UTF-8"}, {"WITH_LINES", "a\nb = c"},
    };
    CodexService service(options);
    const fs::path env = *service.findExecutable();
    const CodexService::CapturedRun run = service.runCaptured(env, {"-0"});

    Environment received;
    std::string_view rest = run.standardOutput;
    while (!rest.empty()) {
        const std::string_view entry = rest.substr(0, rest.find('\0'));
        rest.remove_prefix(std::min(rest.size(), entry.size() + 1));
        const std::size_t equals = entry.find('=');
        received.emplace(std::string(entry.substr(0, equals)), std::string(entry.substr(equals + 1)));
    }
    EXPECT_EQ(received, (Environment {{"TERM", "dumb"}, {"PATH", "/usr/bin:/bin"}, {"LANG", "es_ES.UTF-8"},
                                      {"WITH_LINES", "a\nb = c"}}));
}

TEST(CodexCapturedRun, BackgroundProcessHoldingTheStreamsDoesNotHoldTheCaller)
{
    CodexSandbox sandbox;
    const fs::path script = sandbox.writeScript(
        sandbox.file("forks"), "sleep 600 &\necho $! > " + sandbox.file("straggler").string() + "\necho 'Logged in using ChatGPT' >&2");
    const CodexService::CapturedRun run = CodexService(sandbox.options()).runCaptured(script, {});
    EXPECT_EQ(run.terminationStatus, 0);
    EXPECT_EQ(run.standardError, "Logged in using ChatGPT\n");
    const std::string straggler = sandbox.read(sandbox.file("straggler"));
    if (!straggler.empty()) ::kill(std::stoi(straggler), SIGKILL);
}

// ---------------------------------------------------------------------------------------------

struct StatusCase {
    std::string script;
    std::string shown;
    bool verified;
};

TEST(CodexStatus, OnlyASuccessfulRunMentioningChatGPTCountsAsSignedIn)
{
    const std::vector<StatusCase> cases = {
        {"echo 'Logged in using ChatGPT' >&2", "Logged in using ChatGPT", true},
        {"echo '  logged in using chatgpt  ' >&2", "logged in using chatgpt", true},
        {"echo 'Logged in using chatgpt' >&2; exit 1", "Logged in using chatgpt", false},
        {"echo 'API key configured - sk-…' >&2", "API key configured - sk-…", false},
        {"printf 'salida\\n'; printf 'error\\n' >&2", "salida\n error", false},
        {"exit 0", "Estado desconocido", false},
    };
    for (const StatusCase& c : cases) {
        CodexSandbox sandbox;
        sandbox.installFakeCodex(c.script, "");
        CodexService service(sandbox.options());
        EXPECT_EQ(service.authenticationStatus(), c.shown) << c.script;
        EXPECT_EQ(service.isSubscriptionLoginVerified(), c.verified) << c.script;
    }
}

TEST(CodexStatus, UnstartableToolShowsTheLaunchErrorAndClearsTheSignIn)
{
    CodexSandbox sandbox;
    sandbox.installFakeCodex(CodexSandbox::signedInStatus(), "");
    CodexService service(sandbox.options());
    service.authenticationStatus();
    ASSERT_TRUE(service.isSubscriptionLoginVerified());

    installUnstartable(sandbox);
    const std::string shown = service.authenticationStatus();
    EXPECT_NE(shown.find(sandbox.systemCodex().string()), std::string::npos) << shown;
    EXPECT_FALSE(service.isSubscriptionLoginVerified());
}

// ---------------------------------------------------------------------------------------------

TEST(CodexSignInGate, StatusIsCheckedOnceThenQueriesGoStraightToTheTool)
{
    CodexSandbox sandbox;
    sandbox.installFakeCodex(CodexSandbox::signedInStatus(), "echo respuesta > \"$answer\"");
    CodexService service(sandbox.options());
    EXPECT_EQ(service.send("uno", std::nullopt, AIResponseMode::fast), "respuesta");
    EXPECT_EQ(service.send("dos", std::nullopt, AIResponseMode::thinking), "respuesta");
    EXPECT_EQ(sandbox.lines(sandbox.file("calls")), (std::vector<std::string> {"login", "exec", "exec"}));
}

TEST(CodexSignInGate, QueryIsRefusedWithTheStatusTextAndNothingIsSent)
{
    for (const auto& [status, payload] : std::vector<std::pair<std::string, std::string>> {
             {"echo 'Not logged in' >&2; exit 1", "Not logged in"},
             {"echo 'Logged in using ChatGPT' >&2; exit 1", "Logged in using ChatGPT"},
             {"printf 'API key configured\\n'; printf 'Checked later.\\n' >&2", "API key configured\n Checked later."},
             {"exit 0", ""},
         }) {
        CodexSandbox sandbox;
        sandbox.installFakeCodex(status, "echo respuesta > \"$answer\"");
        CodexService service(sandbox.options());
        EXPECT_EQ(expectServiceError(Case::subscriptionLoginRequired,
                                     [&] { service.send("hola", contextWithImage({1, 2, 3}), AIResponseMode::fast); }),
                  payload);
        EXPECT_EQ(sandbox.lines(sandbox.file("calls")), std::vector<std::string> {"login"});
        EXPECT_TRUE(sandbox.temporaryEntries().empty());
    }
}

TEST(CodexSignInGate, StatusRefreshThatFindsNoSignInClosesTheGateAgain)
{
    CodexSandbox sandbox;
    sandbox.installFakeCodex(CodexSandbox::signedInStatus(), "echo respuesta > \"$answer\"");
    CodexService service(sandbox.options());
    ASSERT_EQ(service.send("uno", std::nullopt, AIResponseMode::fast), "respuesta");

    sandbox.installFakeCodex("echo 'Not logged in' >&2; exit 1", "echo respuesta > \"$answer\"");
    EXPECT_EQ(service.authenticationStatus(), "Not logged in");
    expectServiceError(Case::subscriptionLoginRequired, [&] { service.send("dos", std::nullopt, AIResponseMode::fast); });
}

// ---------------------------------------------------------------------------------------------

TEST(CodexQuery, ToolReceivesTheBuiltArgumentsPromptAndImage)
{
    CodexSandbox sandbox;
    sandbox.installFakeCodex(CodexSandbox::signedInStatus(), "printf '  \\n respuesta\\n\\nlínea 2 \\n\\n' > \"$answer\"");
    CodexService service(sandbox.options());
    const std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0xFF, 0x00, 7};
    const CapturedContext context = contextWithImage(png);

    // Surrounding blanks go, inner line breaks stay.
    EXPECT_EQ(service.send("¿Qué es esto?\n\nDetalles", context, AIResponseMode::thinking), "respuesta\n\nlínea 2");

    const std::vector<std::string> arguments = sandbox.lines(sandbox.file("args"));
    ASSERT_EQ(arguments.size(), 15u);
    const fs::path answer = arguments[12];
    const fs::path image = arguments[13].substr(std::string("--image=").size());
    EXPECT_EQ(arguments, CodexService::queryArguments(AIResponseMode::thinking, answer, image));
    EXPECT_EQ(answer.parent_path(), sandbox.temporaryDirectory());
    EXPECT_EQ(image.parent_path(), sandbox.temporaryDirectory());
    EXPECT_TRUE(answer.filename().string().starts_with("zorvane-")) << answer;
    EXPECT_EQ(answer.extension(), ".txt");
    EXPECT_TRUE(image.filename().string().starts_with("zorvane-selection-")) << image;
    EXPECT_EQ(image.extension(), ".png");
    EXPECT_NE(answer.stem().string().substr(8), image.stem().string().substr(18)); // a fresh UUID each

    EXPECT_EQ(sandbox.read(sandbox.file("prompt")), PromptBuilder::makePrompt("¿Qué es esto?\n\nDetalles", context));
    const std::string copied = sandbox.read(sandbox.file("image"));
    EXPECT_EQ(std::vector<std::uint8_t>(copied.begin(), copied.end()), png);
    EXPECT_EQ(sandbox.read(sandbox.file("image-mode")), "600\n");
    EXPECT_EQ(sandbox.read(sandbox.file("cwd")), sandbox.temporaryDirectory().string() + "\n");
    EXPECT_TRUE(sandbox.temporaryEntries().empty());
}

TEST(CodexQuery, ContextWithoutImageDataSendsNoImage)
{
    CodexSandbox sandbox;
    sandbox.installFakeCodex(CodexSandbox::signedInStatus(), "echo ok > \"$answer\"");
    CodexService service(sandbox.options());
    CapturedContext context;
    context.title = "Sin imagen";
    ASSERT_EQ(service.send("q", context, AIResponseMode::fast), "ok");
    const std::vector<std::string> arguments = sandbox.lines(sandbox.file("args"));
    EXPECT_EQ(arguments, CodexService::queryArguments(AIResponseMode::fast, arguments.at(arguments.size() - 2), std::nullopt));
    EXPECT_FALSE(fs::exists(sandbox.file("image")));
    EXPECT_EQ(sandbox.read(sandbox.file("prompt")), PromptBuilder::makePrompt("q", std::nullopt));
}

TEST(CodexQuery, FailuresOfTheToolBecomeTheirErrorsAndLeaveNoFiles)
{
    struct FailureCase {
        std::string execBody;
        Case expected;
        std::string payload;
    };
    const std::vector<FailureCase> cases = {
        {"exit 2", Case::commandFailed, ""},
        {"echo respuesta > \"$answer\"; printf '  Límite de uso alcanzado.\\n\\n' >&2; exit 3", Case::commandFailed,
         "Límite de uso alcanzado."},
        {"kill -TERM $$", Case::commandFailed, ""},
        {"printf ' \\n\\t\\n' > \"$answer\"", Case::emptyResponse, ""},
        {"exit 0", Case::emptyResponse, ""},
        {": > \"$answer\"", Case::emptyResponse, ""},
        {"printf 'resp\\377uesta' > \"$answer\"", Case::emptyResponse, ""},
        {"mkdir \"$answer\"", Case::emptyResponse, ""},
    };
    for (const FailureCase& c : cases) {
        CodexSandbox sandbox;
        sandbox.installFakeCodex(CodexSandbox::signedInStatus(), c.execBody);
        CodexService service(sandbox.options());
        EXPECT_EQ(expectServiceError(c.expected, [&] { service.send("q", contextWithImage({1}), AIResponseMode::fast); }),
                  c.payload)
            << c.execBody;
        EXPECT_TRUE(fs::exists(sandbox.file("image"))) << "the image was attached: " << c.execBody;
        if (c.execBody.starts_with("mkdir")) continue; // a directory in its place is the tool's own doing
        EXPECT_TRUE(sandbox.temporaryEntries().empty()) << c.execBody;
    }
}

TEST(CodexQuery, ToolThatCannotStartFailsWithTheLaunchErrorAndLeavesNoFiles)
{
    CodexSandbox sandbox;
    sandbox.installFakeCodex(CodexSandbox::signedInStatus(), "echo ok > \"$answer\"");
    CodexService service(sandbox.options());
    ASSERT_EQ(service.authenticationStatus(), "Logged in using ChatGPT");

    installUnstartable(sandbox);
    EXPECT_THROW(service.send("q", contextWithImage({1, 2}), AIResponseMode::thinking), std::system_error);
    EXPECT_TRUE(sandbox.temporaryEntries().empty());
}

TEST(CodexQuery, ImageThatCannotBeWrittenFailsBeforeTheToolRuns)
{
    CodexSandbox sandbox;
    sandbox.installFakeCodex(CodexSandbox::signedInStatus(), "echo ok > \"$answer\"");
    CodexService::Options options = sandbox.options();
    options.temporaryDirectory = sandbox.file("no-such-directory");
    CodexService service(options);
    EXPECT_THROW(service.send("q", contextWithImage({1, 2}), AIResponseMode::fast), std::system_error);
    EXPECT_EQ(sandbox.lines(sandbox.file("calls")), std::vector<std::string> {"login"});
}

TEST(CodexQuery, ToolThatNeverReadsItsInputDoesNotHangOrBreakTheProgram)
{
    CodexSandbox sandbox;
    const std::string findAnswer = "for a in \"$@\"; do [ \"$prev\" = --output-last-message ] && answer=\"$a\"; prev=\"$a\"; done\n";
    const std::string question(4 * 1024 * 1024, 'x'); // far more than a pipe holds
    for (const std::string& body : {
             // Exits at once without touching its input.
             findAnswer + "echo 'sin leer' > \"$answer\"",
             // Closes its input, then keeps the pipe of its errors busy.
             findAnswer + "exec 0<&-\nhead -c 3000000 /dev/zero >&2\necho 'sin leer' > \"$answer\"",
         }) {
        sandbox.writeScript(sandbox.systemCodex(), "[ \"$1\" = login ] && { echo ChatGPT; exit 0; }\n" + body);
        CodexService service(sandbox.options());
        EXPECT_EQ(service.send(question, std::nullopt, AIResponseMode::fast), "sin leer");
        EXPECT_TRUE(sandbox.temporaryEntries().empty());
    }
}

TEST(CodexQuery, OverlappingQueriesEachGetTheirOwnFilesAndAnswer)
{
    CodexSandbox sandbox;
    sandbox.writeScript(sandbox.systemCodex(),
                        "[ \"$1\" = login ] && { echo 'Logged in using ChatGPT'; exit 0; }\n"
                        "for a in \"$@\"; do\n"
                        "  [ \"$prev\" = --output-last-message ] && answer=\"$a\"\n"
                        "  case \"$a\" in --image=*) image=\"${a#--image=}\";; esac\n"
                        "  prev=\"$a\"\n"
                        "done\n"
                        "question=$(tail -n 1)\n"
                        "printf '%s %s' \"$question\" \"$(cat \"$image\")\" > \"$answer\"");
    CodexService service(sandbox.options());
    constexpr int count = 8;
    std::vector<std::string> answers(count);
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
            const std::string tag = std::to_string(i);
            try {
                answers[i] = service.send("pregunta " + tag, contextWithImage({'i', 'm', 'g', static_cast<std::uint8_t>('0' + i)}),
                                          i % 2 ? AIResponseMode::fast : AIResponseMode::thinking);
            } catch (const std::exception& error) {
                answers[i] = describe(error);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int i = 0; i < count; ++i) EXPECT_EQ(answers[i], "pregunta " + std::to_string(i) + " img" + std::to_string(i));
    EXPECT_TRUE(sandbox.temporaryEntries().empty());
}

// ---------------------------------------------------------------------------------------------

TEST(CodexStaleImages, CreatingTheServiceRemovesEveryLeftoverImageAndNothingElse)
{
    CodexSandbox sandbox;
    const fs::path tmp = sandbox.temporaryDirectory();
    for (const char* name : {"zorvane-selection-0A1B.png", "zorvane-selection-", "zorvane-selection-X.png.partial",
                             "zorvane-1234.txt", ".zorvane-selection-hidden", "notas.txt"}) {
        std::ofstream(tmp / name) << "x";
    }
    fs::last_write_time(tmp / "zorvane-selection-0A1B.png", fs::file_time_type::clock::now() + std::chrono::hours(1));
    CodexService service(sandbox.options());
    EXPECT_EQ(sandbox.temporaryEntries(), (std::vector<std::string> {".zorvane-selection-hidden", "notas.txt", "zorvane-1234.txt"}));

    CodexService::Options missing = sandbox.options();
    missing.temporaryDirectory = sandbox.file("gone");
    EXPECT_NO_THROW(CodexService {missing});
}

TEST(CodexStaleImages, TemporaryDirectoryIsTMPDIROnlyWhenItNamesADirectory)
{
    CodexSandbox sandbox;
    CodexService::Options options = sandbox.options();
    options.temporaryDirectory.reset();
    options.environment->insert_or_assign("TMPDIR", sandbox.temporaryDirectory().string());
    EXPECT_EQ(CodexService(options).temporaryDirectory(), sandbox.temporaryDirectory());

    std::ofstream(sandbox.file("plain-file")) << "x";
    options.environment->insert_or_assign("TMPDIR", sandbox.file("plain-file").string());
    EXPECT_EQ(CodexService(options).temporaryDirectory(), "/tmp");
}

} // namespace
} // namespace zorvane
