// Against the real `codex` installed on this machine, with a fresh home so that it is never
// signed in, and offline.
#include "app/codex/CodexService.h"
#include "app/codex/PromptBuilder.h"
#include "app/core/UUID.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
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

std::string readFile(const fs::path& path)
{
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

class RealCodex : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "zorvane-codex-interop-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        base_ = pattern;
        fs::create_directories(base_ / "home");
        fs::create_directories(tmp());

        Environment environment = processEnvironment();
        environment.erase("CODEX_HOME"); // the developer's own sign-in must not leak in
        environment["HOME"] = (base_ / "home").string();
        environment["TMPDIR"] = tmp().string();
        if (!environment.contains("PATH")) environment["PATH"] = "/usr/local/bin:/usr/bin:/bin";
        options_.environment = environment;
        options_.home = base_ / "home";
        options_.temporaryDirectory = tmp();

        executable_ = CodexService(options_).findExecutable();
        if (!executable_) GTEST_SKIP() << "the real codex is not installed (scripts/bootstrap installs @openai/codex)";
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(base_, ignored);
    }

    fs::path tmp() const { return base_ / "tmp"; }

    fs::path base_;
    CodexService::Options options_;
    std::optional<fs::path> executable_;
};

TEST_F(RealCodex, NotSignedInIsReportedAndTheQueryIsRefusedWithThatText)
{
    CodexService service(options_);
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
        EXPECT_EQ(error.localizedDescription(),
                  "Para evitar consumo de API, inicia sesión en Codex con ChatGPT. Estado actual: " + status);
    }
    EXPECT_TRUE(fs::is_empty(tmp()));
}

bool canUseNetworkNamespaces()
{
    ChildRequest request;
    request.executable = "/usr/bin/unshare";
    request.arguments = {"-n", "/bin/true"};
    try {
        return runChild(request).terminationStatus == 0;
    } catch (const std::system_error&) {
        return false;
    }
}

// Starts `words` with standard error in `errorFile` and watches it until `marker` shows; the tool
// then retries offline for ever, so it is ended here. Returns the exit status when it ended first.
std::optional<int> runUntilMarker(std::vector<std::string> words, const Environment& environment, const fs::path& directory,
                                  const fs::path& input, const fs::path& errorFile, const std::string& marker)
{
    std::vector<std::string> entries;
    for (const auto& [name, value] : environment) entries.push_back(name + "=" + value);
    auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> result;
        for (std::string& string : strings) result.push_back(string.data());
        result.push_back(nullptr);
        return result;
    };
    std::vector<char*> argv = pointers(words);
    std::vector<char*> envp = pointers(entries);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0); // so the tool's own children are ended with it
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error) return -error;

    std::optional<int> exited;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!exited && std::chrono::steady_clock::now() < deadline && readFile(errorFile).find(marker) == std::string::npos) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            exited = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    if (!exited) {
        ::kill(-pid, SIGTERM);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    return exited;
}

// The prompt echoed back on standard error means the tool accepted the arguments and read the prompt.
TEST_F(RealCodex, ParserAcceptsTheQueryArgumentsAsBuilt)
{
    if (!canUseNetworkNamespaces()) GTEST_SKIP() << "unshare -n is not permitted here (it needs root); the tool is never run online";
    CodexService service(options_);
    const fs::path image = tmp() / ("zorvane-selection-" + UUID().uuidString() + ".png");
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
            std::ofstream(base_ / "prompt", std::ios::trunc) << PromptBuilder::makePrompt(question, std::nullopt);
            std::vector<std::string> words = {"/usr/bin/unshare", "-n", executable_->string()};
            for (std::string& argument : CodexService::queryArguments(mode, tmp() / "answer.txt", withImage ? std::optional(image) : std::nullopt)) {
                words.push_back(std::move(argument));
            }

            const std::optional<int> status =
                runUntilMarker(words, service.sanitizedEnvironment(), tmp(), base_ / "prompt", base_ / "stderr", question);
            const std::string errors = readFile(base_ / "stderr");
            EXPECT_EQ(status, std::nullopt) << label << (status == 2 ? ": its parser rejected the arguments" : "") << "\n" << errors;
            // Had `--image` swallowed the final `-`, the tool would say it reads the prompt from
            // standard input because no prompt argument was left.
            EXPECT_EQ(errors.find("Reading prompt from stdin"), std::string::npos) << label << "\n" << errors;
        }
    }
}

} // namespace
} // namespace zorvane
