// Against the real `codex` installed on this machine, with a fresh home so that it is never
// signed in, and offline.
#include "app/codex/CodexService.h"
#include "app/codex/PromptBuilder.h"
#include "app/core/UUID.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace zorvane {
namespace {

namespace fs = std::filesystem;

class RealCodex : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "zorvane-codex-interop-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        base_ = pattern;
        fs::create_directories(home());
        fs::create_directories(tmp());

        Environment environment = processEnvironment();
        environment.erase("CODEX_HOME"); // the developer's own sign-in must not leak in
        environment["HOME"] = home().string();
        environment["TMPDIR"] = tmp().string();
        if (!environment.contains("PATH")) environment["PATH"] = "/usr/local/bin:/usr/bin:/bin";
        options_.environment = environment;
        options_.home = home();
        options_.temporaryDirectory = tmp();

        executable_ = CodexService(options_).findExecutable();
        if (!executable_) GTEST_SKIP() << "the real codex is not installed (scripts/bootstrap installs @openai/codex)";
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(base_, ignored);
    }

    fs::path home() const { return base_ / "home"; }
    fs::path tmp() const { return base_ / "tmp"; }

    fs::path base_;
    CodexService::Options options_;
    std::optional<fs::path> executable_;
};

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

TEST_F(RealCodex, NotSignedInIsReportedAndTheQueryIsRefusedWithThatText)
{
    CodexService service(options_);
    const std::string status = service.authenticationStatus();
    // It may first warn about its home being under the temporary directory.
    EXPECT_TRUE(endsWith(status, "Not logged in")) << status;
    EXPECT_FALSE(service.isSubscriptionLoginVerified());

    try {
        CapturedContext context;
        context.imageData = std::vector<std::uint8_t> {0x89, 'P', 'N', 'G'};
        service.send("hola", context, AIResponseMode::fast);
        ADD_FAILURE() << "the query was not refused";
    } catch (const CodexService::ServiceError& error) {
        EXPECT_EQ(error.errorCase(), CodexService::ServiceError::Case::subscriptionLoginRequired);
        EXPECT_EQ(error.payload(), status);
        EXPECT_EQ(error.localizedDescription(),
                  "Para evitar consumo de API, inicia sesión en Codex con ChatGPT. Estado actual: " + status);
    }
    EXPECT_TRUE(fs::is_empty(tmp()));
}

bool canUseNetworkNamespaces()
{
    pid_t pid = -1;
    char unshare[] = "/usr/bin/unshare";
    char flag[] = "-n";
    char program[] = "/bin/true";
    char* argv[] = {unshare, flag, program, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const int error = posix_spawn(&pid, unshare, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Starts the real tool with our argument list in an empty network namespace and watches its
// standard error: the prompt echoed back means the arguments were accepted and the prompt read.
// Offline the tool then retries for ever, so it is ended here.
struct OfflineRun {
    bool exited = false;
    int status = 0;
    std::string errorOutput;
};

OfflineRun runOffline(const fs::path& executable, const std::vector<std::string>& arguments, const Environment& environment,
                      const fs::path& workingDirectory, const fs::path& input, const fs::path& errorFile,
                      const std::string& marker)
{
    std::vector<std::string> words = {"/usr/bin/unshare", "-n", executable.string()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> entries;
    for (const auto& [name, value] : environment) entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0); // so the tool's own children are ended with it
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    OfflineRun run;
    if (error) {
        run.exited = true;
        run.status = -error;
        return run;
    }

    auto readErrors = [&] {
        std::ifstream in(errorFile);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            run.exited = true;
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (readErrors().find(marker) != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!run.exited) {
        ::kill(-pid, SIGTERM);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    run.errorOutput = readErrors();
    return run;
}

TEST_F(RealCodex, ParserAcceptsTheQueryArgumentsAsBuilt)
{
    if (!canUseNetworkNamespaces()) {
        GTEST_SKIP() << "unshare -n is not permitted here (it needs root); the tool is never run online";
    }
    CodexService service(options_);
    const fs::path image = tmp() / ("zorvane-selection-" + UUID().uuidString() + ".png");
    {
        // A 1×1 transparent PNG.
        static const unsigned char png[] = {
            0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
            0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00,
            0x0D, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0x00, 0x01, 0x00, 0x00, 0x05, 0x00, 0x01, 0x0D, 0x0A, 0x2D,
            0xB4, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
        std::ofstream(image, std::ios::binary).write(reinterpret_cast<const char*>(png), sizeof png);
    }
    for (const AIResponseMode mode : AIResponseModes::allCases) {
        for (const bool withImage : {true, false}) {
            const std::string label = AIResponseModes::rawValue(mode) + (withImage ? " with image" : " without image");
            const std::string question = "zorvane-interop-" + UUID().uuidString();
            const fs::path answer = tmp() / ("zorvane-" + UUID().uuidString() + ".txt");
            const fs::path input = base_ / "prompt";
            std::ofstream(input, std::ios::binary | std::ios::trunc) << PromptBuilder::makePrompt(question, std::nullopt);

            const OfflineRun run = runOffline(*executable_,
                                              CodexService::queryArguments(mode, answer, withImage ? std::optional(image) : std::nullopt),
                                              service.sanitizedEnvironment(), tmp(), input, base_ / "stderr", question);
            EXPECT_FALSE(run.exited) << label << ": the tool ended with status " << run.status
                                     << (run.status == 2 ? " (its parser rejected the arguments)" : "") << "\n"
                                     << run.errorOutput;
            // The final `-` is the prompt argument; had `--image` swallowed it, the tool would say
            // it is reading the prompt from standard input because no prompt argument was left.
            EXPECT_EQ(run.errorOutput.find("Reading prompt from stdin"), std::string::npos) << label << "\n" << run.errorOutput;
            std::error_code ignored;
            fs::remove(answer, ignored);
        }
    }
}

} // namespace
} // namespace zorvane
