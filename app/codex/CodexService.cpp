#include "app/codex/CodexService.h"

#include "app/codex/PromptBuilder.h"
#include "app/core/Text.h"
#include "app/core/UUID.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace zorvane {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kImagePrefix = "zorvane-selection-";
constexpr std::string_view kAnswerPrefix = "zorvane-";
constexpr std::string_view kAnswerSuffix = ".txt";
[[noreturn]] void throwErrno(int error, const std::string& what)
{
    throw std::system_error(error, std::generic_category(), what);
}

std::optional<fs::path> homeFrom(const Environment& environment)
{
    if (auto it = environment.find("HOME"); it != environment.end() && !it->second.empty()) return fs::path(it->second);
    std::vector<char> buffer(16384);
    passwd entry {};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir && *found->pw_dir) {
        return fs::path(found->pw_dir);
    }
    return std::nullopt;
}

// A file exists there and we may execute it; directories do not count.
bool isExecutableFile(const fs::path& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    return ::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0;
}

bool signedInWithChatGPT(const CodexService::CapturedRun& run, const std::string& joined)
{
    return run.terminationStatus == 0 && Text::localizedCaseInsensitiveContains(joined, "ChatGPT");
}

std::string joinedStatus(const CodexService::CapturedRun& run)
{
    return run.standardOutput + " " + run.standardError;
}

// Removes the query's files on every way out of it: the answer first, then the image.
struct TransportFiles {
    std::optional<fs::path> image;
    std::optional<fs::path> answer;

    TransportFiles() = default;
    TransportFiles(const TransportFiles&) = delete;
    TransportFiles& operator=(const TransportFiles&) = delete;
    ~TransportFiles()
    {
        if (answer) ::unlink(answer->c_str());
        if (image) ::unlink(image->c_str());
    }

    void setAnswer(fs::path path) { answer = std::move(path); }
};

void writeAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            throwErrno(errno, "No se pudo escribir la imagen de la selección");
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

// Written under a name of its own and moved into place once complete, so the tool never sees a
// partial image; readable by the user only. A crash leaves it in our folder, which the next start
// removes. No fsync: the file lives for one query, so durability buys nothing, and on a disk-backed
// temporary folder it cost several milliseconds per question.
fs::path writeTransportImage(const fs::path& directory, const std::vector<std::uint8_t>& bytes)
{
    const std::string name = std::string(kImagePrefix) + UUID().uuidString() + ".png";
    const fs::path final = directory / name;
    const fs::path partial = directory / (name + ".partial");
    const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) throwErrno(errno, "No se pudo crear la imagen de la selección");
    try {
        writeAll(fd, bytes.data(), bytes.size());
    } catch (...) {
        ::close(fd);
        ::unlink(partial.c_str());
        throw;
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(partial.c_str());
        throwErrno(error, "No se pudo escribir la imagen de la selección");
    }
    if (::rename(partial.c_str(), final.c_str()) != 0) {
        const int error = errno;
        ::unlink(partial.c_str());
        throwErrno(error, "No se pudo guardar la imagen de la selección");
    }
    return final;
}

// The tool's last message, or none when the file is missing or not a plain file.
std::optional<std::string> readAnswer(const fs::path& path)
{
    // Non-blocking open, so that something other than a file under that name cannot hold us.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::optional<std::string> text;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        // The tool has ended, so the size is final; one byte more tells end of file at once.
        text.emplace(static_cast<std::size_t>(status.st_size) + 1, '\0');
        std::size_t filled = 0;
        for (;;) {
            if (filled == text->size()) text->resize(text->size() * 2);
            const ssize_t n = ::read(fd, text->data() + filled, text->size() - filled);
            if (n > 0) {
                filled += static_cast<std::size_t>(n);
                if (filled < text->size()) break;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                if (n < 0) filled = std::string::npos;
                break;
            }
        }
        if (filled == std::string::npos) {
            text.reset(); // unreadable
        } else {
            text->resize(filled);
        }
    }
    ::close(fd);
    return text;
}

} // namespace

std::string CodexService::ServiceError::localizedDescription() const
{
    switch (case_) {
    case Case::subscriptionLoginRequired:
        return "Para evitar consumo de API, inicia sesión en Codex con ChatGPT. Estado actual: " + payload_;
    case Case::commandFailed:
        return payload_.empty() ? "Codex no pudo completar la consulta." : payload_;
    case Case::executableMissing:
        return "No encuentro Codex en este equipo. Instala o abre la app de Codex y vuelve a intentarlo.";
    case Case::emptyResponse:
        return "Codex terminó sin devolver una respuesta.";
    }
    return "Codex no pudo completar la consulta.";
}

CodexService::CodexService(Options options)
    : root_(std::move(options.root)),
      environment_(options.environment ? std::move(*options.environment) : processEnvironment()),
      home_(options.home ? std::move(options.home) : homeFrom(environment_)),
      transport_(std::make_unique<TransportFolder>(environment_, std::move(options.temporaryDirectory))),
      queryTimeLimit_(options.queryTimeLimit.value_or(queryTimeLimit)),
      candidates_(executableCandidates())
{
}

std::vector<fs::path> CodexService::executableCandidates() const
{
    auto underRoot = [&](const fs::path& path) { return root_ / path.relative_path(); };
    std::vector<fs::path> candidates;
#ifdef __APPLE__
    candidates.push_back(underRoot("/Applications/ChatGPT.app/Contents/Resources/codex"));
    if (home_) candidates.push_back(underRoot(*home_ / ".local/bin/codex"));
    candidates.push_back(underRoot("/opt/homebrew/bin/codex"));
    candidates.push_back(underRoot("/usr/local/bin/codex"));
#else
    if (home_) candidates.push_back(underRoot(*home_ / ".local/bin/codex"));
    candidates.push_back(underRoot("/usr/local/bin/codex"));
    candidates.push_back(underRoot("/usr/bin/codex"));
#endif
    return candidates;
}

std::optional<fs::path> CodexService::findExecutable() const
{
    // The list is fixed for the service; what is installed there is checked on every call.
    for (const fs::path& candidate : candidates_) {
        if (isExecutableFile(candidate)) return candidate;
    }
    return std::nullopt;
}

Environment CodexService::sanitizedEnvironment(Environment inherited)
{
    // The tool must not fall back to an API key or a token from the launch environment: we only
    // ever use the user's ChatGPT sign-in.
    for (const char* name : {"OPENAI_API_KEY", "CODEX_API_KEY", "CODEX_ACCESS_TOKEN"}) inherited.erase(name);
    inherited["TERM"] = "dumb";
    return inherited;
}

Environment CodexService::sanitizedEnvironment() const
{
    return sanitizedEnvironment(environment_);
}

std::vector<std::string> CodexService::statusArguments()
{
    return {"login", "status"};
}

std::vector<std::string> CodexService::queryArguments(AIResponseMode mode, const fs::path& answerFile,
                                                      const std::optional<fs::path>& imageFile)
{
    std::vector<std::string> arguments {"exec"};
    std::vector<std::string> configuration;
    if (mode == AIResponseMode::fast) {
        arguments.insert(arguments.end(), {"--model", "gpt-5.6-luna"});
        configuration = {"model_reasoning_effort=\"none\"", "model_verbosity=\"low\""};
    } else {
        configuration = {"model_reasoning_effort=\"high\""};
    }
    for (std::string& value : configuration) {
        arguments.emplace_back("--config");
        arguments.push_back(std::move(value));
    }
    arguments.insert(arguments.end(), {"--ephemeral", "--ignore-user-config", "--skip-git-repo-check", "--ignore-rules",
                                       "--sandbox", "read-only", "--color", "never", "--output-last-message",
                                       answerFile.string()});
    // `--image` takes one or more values: as two arguments it would swallow the final `-` as a
    // second image. Joined with `=` it takes exactly this one.
    if (imageFile) arguments.push_back("--image=" + imageFile->string());
    arguments.emplace_back("-");
    return arguments;
}

CodexService::CapturedRun CodexService::runCaptured(const fs::path& executable, const std::vector<std::string>& arguments,
    std::optional<double> timeLimit, std::shared_ptr<const Cancellation> cancellation) const
{
    ChildRequest request;
    request.executable = executable;
    request.arguments = arguments;
    request.environment = sanitizedEnvironment();
    request.ownProcessGroup = true;
    request.timeLimit = timeLimit;
    request.cancellation = std::move(cancellation);
    ChildResult result = runChild(request);
    return {result.terminationStatus, Text::decodeUTF8Lossy(result.output), Text::decodeUTF8Lossy(result.errorOutput)};
}

std::string CodexService::authenticationStatus(std::shared_ptr<const Cancellation> cancellation)
{
    const std::optional<fs::path> executable = findExecutable();
    if (!executable) return "Codex no encontrado";
    CapturedRun run;
    try {
        run = runCaptured(*executable, statusArguments(), statusTimeLimit, std::move(cancellation));
    } catch (...) {
        subscriptionLoginVerified_ = false;
        return describe(std::current_exception());
    }
    const std::string joined = joinedStatus(run);
    const std::string status = Text::trimmed(joined);
    subscriptionLoginVerified_ = signedInWithChatGPT(run, joined);
    return status.empty() ? "Estado desconocido" : status;
}

std::string CodexService::send(const std::string& question, const std::optional<CapturedContext>& context, AIResponseMode mode,
                               std::shared_ptr<const Cancellation> cancellation)
{
    if (cancellation && cancellation->isCancelled()) throw OperationCancelled();
    const std::optional<fs::path> executable = findExecutable();
    if (!executable) throw ServiceError::executableMissing();

    // One limit for the whole question, the sign-in check included.
    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();
    const auto timeLeft = [&] { return queryTimeLimit_ - std::chrono::duration<double>(Clock::now() - started).count(); };
    const auto checkEnding = [&](ChildResult::Ending ending) {
        if (ending == ChildResult::Ending::cancelled) throw OperationCancelled();
        if (ending == ChildResult::Ending::timedOut) throw ServiceError::commandFailed(queryTimedOutText);
    };

    if (!subscriptionLoginVerified_.load()) {
        ChildRequest status;
        status.executable = *executable;
        status.arguments = statusArguments();
        status.environment = sanitizedEnvironment();
        status.ownProcessGroup = true;
        status.timeLimit = timeLeft();
        status.cancellation = cancellation;
        const ChildResult result = runChild(status);
        checkEnding(result.ending);
        const CapturedRun run {result.terminationStatus, Text::decodeUTF8Lossy(result.output), Text::decodeUTF8Lossy(result.errorOutput)};
        const std::string joined = joinedStatus(run);
        if (!signedInWithChatGPT(run, joined)) throw ServiceError::subscriptionLoginRequired(Text::trimmed(joined));
        subscriptionLoginVerified_ = true;
    }

    TransportFiles files;
    if (context && context->imageData) files.image = writeTransportImage(temporaryDirectory(), *context->imageData);
    files.setAnswer(temporaryDirectory() / (std::string(kAnswerPrefix) + UUID().uuidString() + std::string(kAnswerSuffix)));

    ChildRequest request;
    request.executable = *executable;
    request.arguments = queryArguments(mode, *files.answer, files.image);
    request.environment = sanitizedEnvironment();
    request.workingDirectory = temporaryDirectory();
    request.input = PromptBuilder::makePrompt(question, context);
    request.captureOutput = false;
    request.ownProcessGroup = true;
    request.timeLimit = timeLeft();
    request.cancellation = std::move(cancellation);
    const ChildResult result = runChild(request);
    checkEnding(result.ending);

    if (result.terminationStatus != 0) throw ServiceError::commandFailed(Text::trimmed(Text::decodeUTF8Lossy(result.errorOutput)));

    const std::optional<std::string> answer = readAnswer(*files.answer);
    if (!answer || !Text::isValidUTF8(*answer)) throw ServiceError::emptyResponse();
    std::string trimmed = Text::trimmed(*answer);
    if (trimmed.empty()) throw ServiceError::emptyResponse();
    return trimmed;
}

} // namespace zorvane
