#pragma once

#include "app/codex/ChildProcess.h"
#include "app/codex/TransportFolder.h"
#include "app/core/CapturedContext.h"
#include "app/core/LocalizedError.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zorvane {

// Where the service looks and what it hands its children. Every field left empty takes the real
// process's value; tests fill them to stay hermetic whatever is installed on the machine.
struct CodexServiceOptions {
    std::filesystem::path root = "/";                         // prefix of every executable candidate
    std::optional<Environment> environment;                   // default: the process environment
    std::optional<std::filesystem::path> home;                // default: HOME, else the user database
    // The user's folder for the questions' files; default: TransportFolder::userFolder.
    std::optional<std::filesystem::path> temporaryDirectory;
    std::optional<double> queryTimeLimit;                     // seconds; default: CodexService::queryTimeLimit
};

// The one way to the user's `codex` tool: the sign-in status and the question. Synchronous and
// safe to call from several threads at once; each call runs its own child to its end, its time
// limit or its cancellation, and leaves neither the child nor its files behind.
class CodexService {
public:
    using Options = CodexServiceOptions;

    // Offline the tool retries for ever: a question that has not ended by then is ended.
    static constexpr double queryTimeLimit = 600;
    static constexpr const char* queryTimedOutText = "Codex no respondió en 10 minutos.";
    // The sign-in status contacts no server; longer than this means something is wrong.
    static constexpr double statusTimeLimit = 30;

    class ServiceError : public LocalizedError {
    public:
        enum class Case { subscriptionLoginRequired, commandFailed, executableMissing, emptyResponse };

        static ServiceError subscriptionLoginRequired(std::string status) { return {Case::subscriptionLoginRequired, std::move(status)}; }
        static ServiceError commandFailed(std::string errorText) { return {Case::commandFailed, std::move(errorText)}; }
        static ServiceError executableMissing() { return {Case::executableMissing, {}}; }
        static ServiceError emptyResponse() { return {Case::emptyResponse, {}}; }

        Case errorCase() const { return case_; }
        const std::string& payload() const { return payload_; } // the status or error text, trimmed
        std::string localizedDescription() const override;

    private:
        ServiceError(Case c, std::string payload) : case_(c), payload_(std::move(payload)) {}
        Case case_;
        std::string payload_;
    };

    struct CapturedRun {
        std::int32_t terminationStatus = 0;
        std::string standardOutput; // decoded, ill-formed bytes replaced with U+FFFD
        std::string standardError;
    };

    // Makes this service's private folder, after removing those that ended processes left.
    explicit CodexService(Options options = {});

    // Text for the Codex status line; never fails. Cancelled: the text does not matter.
    std::string authenticationStatus(std::shared_ptr<const Cancellation> cancellation = nullptr);

    // Asks the question, with the context's image attached when it has one, and returns the
    // answer trimmed and never empty. Throws ServiceError (commandFailed with queryTimedOutText
    // past the time limit), OperationCancelled once cancelled, or std::system_error when the
    // image cannot be written or the tool cannot be started.
    std::string send(const std::string& question, const std::optional<CapturedContext>& context, AIResponseMode mode,
                     std::shared_ptr<const Cancellation> cancellation = nullptr);

    // The pieces the two operations are built of, for the command line and the tests.
    std::vector<std::filesystem::path> executableCandidates() const;
    std::optional<std::filesystem::path> findExecutable() const; // looked up afresh every time
    Environment sanitizedEnvironment() const;
    // The tool's run with the given arguments; a run ended by the time limit or the cancellation
    // reports status 128 + the signal.
    CapturedRun runCaptured(const std::filesystem::path& executable, const std::vector<std::string>& arguments,
                            std::optional<double> timeLimit = std::nullopt,
                            std::shared_ptr<const Cancellation> cancellation = nullptr) const;
    // This service's own folder, where a question's files live while it runs.
    const std::filesystem::path& temporaryDirectory() const { return transport_->path(); }
    bool isSubscriptionLoginVerified() const { return subscriptionLoginVerified_.load(); }

    static Environment sanitizedEnvironment(Environment inherited);
    static std::vector<std::string> statusArguments();
    static std::vector<std::string> queryArguments(AIResponseMode mode, const std::filesystem::path& answerFile,
                                                   const std::optional<std::filesystem::path>& imageFile);

private:
    std::filesystem::path root_;
    Environment environment_;
    std::optional<std::filesystem::path> home_;
    std::unique_ptr<TransportFolder> transport_;
    double queryTimeLimit_;
    std::vector<std::filesystem::path> candidates_;
    std::atomic<bool> subscriptionLoginVerified_ {false};
};

} // namespace zorvane
