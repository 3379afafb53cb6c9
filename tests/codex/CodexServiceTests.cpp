#include "app/codex/CodexService.h"
#include "app/core/UUID.h"
#include "fakes/CodexSandbox.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace zorvane {
namespace {

namespace fs = std::filesystem;
using fakes::CodexSandbox;
using fakes::readFile;
using Case = CodexService::ServiceError::Case;
using Lines = std::vector<std::string>;

const std::string kAnswers = "echo respuesta > \"$answer\"";
const std::string kLoginRequired = "Para evitar consumo de API, inicia sesión en Codex con ChatGPT. Estado actual: ";

// Runs `action`, which must throw a ServiceError of `expected`; returns the text the user sees.
template <typename Action>
std::string expectServiceError(Case expected, Action action)
{
    try {
        action();
    } catch (const CodexService::ServiceError& error) {
        EXPECT_EQ(error.errorCase(), expected) << error.localizedDescription();
        return describe(error);
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

TEST(CodexDiscovery, FixedCandidatesAreTriedInOrderAfreshAndNeverThroughTheSearchPath)
{
    CodexSandbox sandbox;
    const fs::path local = sandbox.root() / "usr/local/bin/codex";
    for (const fs::path& tool : {sandbox.systemCodex(), local, sandbox.homeCodex()}) CodexSandbox::writeScript(tool, "exit 0");
    CodexService service(sandbox.options());
    EXPECT_EQ(service.findExecutable(), sandbox.homeCodex());
    fs::remove(sandbox.homeCodex());
    fs::create_directories(sandbox.homeCodex()); // no longer runnable: the next one, found afresh
    EXPECT_EQ(service.findExecutable(), local);

    // Without a home given, HOME names it.
    CodexSandbox::writeScript(sandbox.root() / "home/other/.local/bin/codex", "exit 0");
    CodexService::Options options = sandbox.options();
    options.home.reset();
    options.environment = Environment {{"HOME", "/home/other"}};
    EXPECT_EQ(CodexService(options).findExecutable(), sandbox.root() / "home/other/.local/bin/codex");

    // A tool only on PATH is not ours to run.
    for (const fs::path& tool : {local, sandbox.systemCodex()}) fs::remove(tool);
    options = sandbox.options();
    const fs::path onPath = CodexSandbox::writeScript(sandbox.file("bin/codex"), CodexSandbox::signedInStatus());
    options.environment->insert_or_assign("PATH", onPath.parent_path().string() + ":/usr/bin:/bin");
    CodexService unfound(options);
    EXPECT_EQ(unfound.authenticationStatus(), "Codex no encontrado");
    EXPECT_EQ(expectServiceError(Case::executableMissing, [&] { unfound.send("hola", std::nullopt, AIResponseMode::fast); }),
              "No encuentro Codex en este equipo. Instala o abre la app de Codex y vuelve a intentarlo.");
}

TEST(CodexCapturedRun, ChildGetsItsArgumentsAndASafeEnvironmentAndBothStreamsComeBackWhole)
{
    struct RunCase {
        std::string script;
        Lines arguments;
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
        const CodexService::CapturedRun run = service.runCaptured(CodexSandbox::writeScript(sandbox.file("tool"), c.script), c.arguments);
        EXPECT_EQ(run.terminationStatus, c.status) << c.script;
        EXPECT_EQ(run.standardOutput, c.output) << c.script;
        EXPECT_EQ(run.standardError, c.errorOutput) << c.script;
    }
    if (const std::string straggler = readFile(sandbox.file("straggler")); !straggler.empty()) ::kill(std::stoi(straggler), SIGKILL);
}

TEST(CodexStatus, OnlyASuccessfulRunMentioningChatGPTCountsAsSignedInElseNothingIsSent)
{
    struct StatusCase {
        std::string script;
        std::string shown;
        bool signedIn;
    };
    for (const StatusCase& c : std::vector<StatusCase> {
             {"echo 'Logged in using ChatGPT' >&2", "Logged in using ChatGPT", true},
             {"echo '  logged in using chatgpt  ' >&2", "logged in using chatgpt", true},
             {"echo 'Logged in using chatgpt' >&2; exit 1", "Logged in using chatgpt", false},
             {"echo 'API key configured - sk-…' >&2", "API key configured - sk-…", false},
             {"printf 'salida\\n'; printf 'error\\n' >&2", "salida\n error", false},
             {"exit 0", "Estado desconocido", false},
         }) {
        CodexSandbox sandbox;
        sandbox.installFakeCodex(c.script, kAnswers);
        CodexService service(sandbox.options());
        EXPECT_EQ(service.authenticationStatus(), c.shown) << c.script;
        EXPECT_EQ(service.isSubscriptionLoginVerified(), c.signedIn) << c.script;
        if (c.signedIn) continue;
        // The refusal shows what the tool said; "unknown" is no status to show.
        EXPECT_EQ(expectServiceError(Case::subscriptionLoginRequired,
                                     [&] { service.send("hola", withImage({1, 2, 3}), AIResponseMode::fast); }),
                  kLoginRequired + (c.shown == "Estado desconocido" ? "" : c.shown))
            << c.script;
        EXPECT_EQ(CodexSandbox::lines(sandbox.file("calls")), (Lines {"login", "login"})) << "nothing was sent";
        EXPECT_TRUE(sandbox.temporaryEntries().empty());
    }
}

TEST(CodexQuery, EachModeSendsItsArgumentsPromptAndImageAndTheSignInIsCheckedOnce)
{
    CodexSandbox sandbox;
    sandbox.installFakeCodex(CodexSandbox::signedInStatus(), "printf '  \\n respuesta\\n\\nlínea 2 \\n\\n' > \"$answer\"");
    CodexService service(sandbox.options());
    const std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0xFF, 0x00, 7};
    CapturedContext context = withImage(png);
    context.title = "Botón Guardar";
    context.content = "texto que no debe viajar";
    const std::string instructions = "Responde como un asistente general de escritorio, de forma directa y útil.\n\n"
                                     "No modifiques archivos, no ejecutes comandos y no realices acciones externas.\n\n"
                                     "Responde en el idioma de la pregunta.\n\n";
    const Lines common = {"--ephemeral", "--ignore-user-config", "--skip-git-repo-check", "--ignore-rules", "--sandbox",
                          "read-only",   "--color",              "never",                "--output-last-message"};

    // Surrounding blanks go, inner line breaks stay.
    EXPECT_EQ(service.send("¿Qué es esto?\n\n**Detalles**", context, AIResponseMode::thinking), "respuesta\n\nlínea 2");
    Lines arguments = CodexSandbox::lines(sandbox.file("args"));
    ASSERT_EQ(arguments.size(), 15u);
    const fs::path answer = arguments[12];
    const fs::path image = arguments[13].substr(std::string("--image=").size());
    Lines expected = {"exec", "--config", "model_reasoning_effort=\"high\""};
    expected.insert(expected.end(), common.begin(), common.end());
    // As two arguments `--image` would swallow the final `-` as a second image.
    expected.insert(expected.end(), {answer.string(), "--image=" + image.string(), "-"});
    EXPECT_EQ(arguments, expected);
    EXPECT_EQ(answer.parent_path(), service.temporaryDirectory());
    EXPECT_EQ(image.parent_path(), service.temporaryDirectory());
    EXPECT_EQ(service.temporaryDirectory().parent_path(), sandbox.temporaryDirectory());
    EXPECT_EQ(readFile(sandbox.file("prompt")),
              instructions + "La imagen adjunta es el único contenido seleccionado. Analízala para responder a la pregunta.\n\n"
                             "Pregunta del usuario:\n¿Qué es esto?\n\n**Detalles**");
    EXPECT_EQ(readFile(sandbox.file("image")), std::string(png.begin(), png.end()));
    EXPECT_EQ(readFile(sandbox.file("image-mode")), "600\n");
    EXPECT_EQ(readFile(sandbox.file("cwd")), service.temporaryDirectory().string() + "\n");
    EXPECT_TRUE(sandbox.temporaryEntries().empty());

    EXPECT_EQ(service.send("sin imagen", std::nullopt, AIResponseMode::fast), "respuesta\n\nlínea 2");
    arguments = CodexSandbox::lines(sandbox.file("args"));
    expected = {"exec", "--model", "gpt-5.6-luna", "--config", "model_reasoning_effort=\"none\"", "--config", "model_verbosity=\"low\""};
    expected.insert(expected.end(), common.begin(), common.end());
    expected.insert(expected.end(), {arguments.size() > 16 ? arguments[16] : "", "-"});
    EXPECT_EQ(arguments, expected);
    EXPECT_EQ(CodexSandbox::lines(sandbox.file("calls")), (Lines {"login", "exec", "exec"}));

    // A refresh that finds no sign-in stops the next question.
    sandbox.installFakeCodex("echo 'Not logged in' >&2; exit 1", kAnswers);
    EXPECT_EQ(service.authenticationStatus(), "Not logged in");
    EXPECT_EQ(expectServiceError(Case::subscriptionLoginRequired, [&] { service.send("tres", std::nullopt, AIResponseMode::fast); }),
              kLoginRequired + "Not logged in");
}

TEST(CodexQuery, FailuresOfTheToolBecomeTheirTextsAndLeaveNoFiles)
{
    const std::string empty = "Codex terminó sin devolver una respuesta.";
    struct FailureCase {
        std::string execBody;
        Case expected;
        std::string shown;
    };
    for (const FailureCase& c : std::vector<FailureCase> {
             {"exit 2", Case::commandFailed, "Codex no pudo completar la consulta."},
             {kAnswers + "; printf '  Límite de uso alcanzado.\\n\\n' >&2; exit 3", Case::commandFailed, "Límite de uso alcanzado."},
             {"printf ' \\n\\t\\n' > \"$answer\"", Case::emptyResponse, empty},
             {"exit 0", Case::emptyResponse, empty},
             {"printf 'resp\\377uesta' > \"$answer\"", Case::emptyResponse, empty},
             {"mkfifo \"$answer\"", Case::emptyResponse, empty}, // must not wait for a writer
         }) {
        CodexSandbox sandbox;
        sandbox.installFakeCodex(CodexSandbox::signedInStatus(), c.execBody);
        CodexService service(sandbox.options());
        EXPECT_EQ(expectServiceError(c.expected, [&] { service.send("q", withImage({1}), AIResponseMode::fast); }), c.shown)
            << c.execBody;
        EXPECT_TRUE(fs::exists(sandbox.file("image"))) << c.execBody;
        EXPECT_TRUE(sandbox.temporaryEntries().empty()) << c.execBody;
    }
}

TEST(CodexQuery, ToolThatNeverReadsItsInputDoesNotHangOrBreakTheProgram)
{
    CodexSandbox sandbox;
    const std::string question(4 * 1024 * 1024, 'x'); // far more than a pipe holds
    for (const char* body : {
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

// The limit and a cancellation as such are walked through by the model's own test.
TEST(CodexQuery, AToolThatShrugsOffSIGTERMIsStillEndedAtTheLimitWithWhatItStarted)
{
    CodexSandbox sandbox;
    sandbox.installFakeCodex(CodexSandbox::signedInStatus(), sandbox.hangingExecBody(true));
    CodexService::Options options = sandbox.options();
    options.queryTimeLimit = 0.3;
    CodexService service(options);
    EXPECT_EQ(expectServiceError(Case::commandFailed, [&] { service.send("q", withImage({1}), AIResponseMode::fast); }),
              "Codex no respondió en 10 minutos.");
    const auto processes = sandbox.hangingProcesses();
    ASSERT_EQ(processes.size(), 2u);
    for (const pid_t pid : processes) EXPECT_TRUE(CodexSandbox::processEnds(pid));
    EXPECT_TRUE(sandbox.temporaryEntries().empty());
}

TEST(CodexTransportFolder, EachProcessWorksInAPrivateFolderThatTheNextStartRemovesOnceItsProcessIsGone)
{
    CodexSandbox sandbox;
    Environment environment = *sandbox.options().environment;
    // The session's runtime folder when it has one, else a folder of the user's own in TMPDIR.
    fs::create_directories(sandbox.file("run"));
    environment["XDG_RUNTIME_DIR"] = sandbox.file("run").string();
    environment["TMPDIR"] = sandbox.temporaryDirectory().string();
    EXPECT_EQ(TransportFolder::userFolder(environment), sandbox.file("run") / "zorvane");
    environment.erase("XDG_RUNTIME_DIR");
    const fs::path user = sandbox.temporaryDirectory() / ("zorvane-" + std::to_string(::getuid()));
    ASSERT_EQ(TransportFolder::userFolder(environment), user);

    // What a killed process left (its lock held by nobody) goes; a folder others could enter is closed.
    fs::create_directories(user / "instance-A");
    std::ofstream(user / "instance-A" / "zorvane-selection-A.png") << "x";
    std::ofstream(user / "instance-A.lock") << "";
    fs::permissions(user, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_exec);
    auto running = std::make_unique<TransportFolder>(environment);
    EXPECT_EQ(fs::status(user).permissions(), fs::perms::owner_all);
    EXPECT_FALSE(fs::exists(user / "instance-A"));
    EXPECT_EQ(running->path().parent_path(), user);
    EXPECT_EQ(fs::status(running->path()).permissions(), fs::perms::owner_all);
    // A process that still runs keeps its folder; each takes its own away.
    const fs::path first = running->path();
    EXPECT_NE(TransportFolder(environment).path(), first);
    EXPECT_TRUE(fs::is_directory(first));
    running.reset();
    EXPECT_FALSE(fs::exists(first));
    EXPECT_TRUE(fs::is_empty(user));

    // A name someone else holds in the shared folder (here not even a folder) is not used.
    fs::remove_all(user);
    std::ofstream(user) << "x";
    TransportFolder elsewhere(environment);
    EXPECT_NE(elsewhere.path().parent_path(), user);
    EXPECT_EQ(fs::status(elsewhere.path().parent_path()).permissions(), fs::perms::owner_all);
}

} // namespace
} // namespace zorvane
