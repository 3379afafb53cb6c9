// The query's own overhead: CodexService::send against a fake `codex` that answers at once (the
// sign-in already confirmed), beside spawning the same fake directly with posix_spawn, feeding it
// the prompt, waiting for it and reading its answer file; without an image and with a 256 KiB
// one (which the direct way writes too). The ratios of the medians are printed.
#include "app/codex/CodexService.h"
#include "app/codex/PromptBuilder.h"
#include "app/core/UUID.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace zorvane;

const std::string kQuestion = "¿Qué muestra esta parte de la pantalla?";

class Sandbox {
public:
    Sandbox()
    {
        std::string pattern = (fs::temp_directory_path() / "zorvane-codex-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
        base_ = pattern;
        fs::create_directories(base_ / "root/usr/bin");
        fs::create_directories(base_ / "root/home/bench");
        fs::create_directories(base_ / "tmp");
        fs::create_symlink(ZORVANE_FAKE_CODEX, base_ / "root/usr/bin/codex");
    }
    ~Sandbox()
    {
        std::error_code ignored;
        fs::remove_all(base_, ignored);
    }

    CodexService::Options options() const
    {
        CodexService::Options options;
        options.root = base_ / "root";
        options.home = "/home/bench";
        options.temporaryDirectory = base_ / "tmp";
        options.environment = Environment {{"PATH", "/usr/bin:/bin"}, {"HOME", (base_ / "root/home/bench").string()},
                                            {"LANG", "C.UTF-8"}};
        return options;
    }
    fs::path tmp() const { return base_ / "tmp"; }

private:
    fs::path base_;
};

Sandbox& sandbox()
{
    static Sandbox instance;
    return instance;
}

std::optional<CapturedContext> contextWith(std::size_t imageBytes)
{
    if (imageBytes == 0) return std::nullopt;
    CapturedContext context;
    context.imageData = std::vector<std::uint8_t>(imageBytes, 0x5A);
    return context;
}

void BM_Send(benchmark::State& state)
{
    CodexService service(sandbox().options());
    if (service.authenticationStatus() != "Logged in using ChatGPT") {
        state.SkipWithError("the fake codex did not sign in");
        return;
    }
    const std::optional<CapturedContext> context = contextWith(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string answer = service.send(kQuestion, context, AIResponseMode::fast);
        benchmark::DoNotOptimize(answer);
    }
}

// The least a caller must do to get the same answer from the same program.
class DirectSpawn {
public:
    explicit DirectSpawn(std::size_t imageBytes) : context_(contextWith(imageBytes))
    {
        CodexService service(sandbox().options());
        program_ = service.findExecutable()->string();
        for (const auto& [name, value] : service.sanitizedEnvironment()) entries_.push_back(name + "=" + value);
        for (std::string& entry : entries_) envp_.push_back(entry.data());
        envp_.push_back(nullptr);
        prompt_ = PromptBuilder::makePrompt(kQuestion, context_);
    }

    std::string ask() const
    {
        const fs::path answer = sandbox().tmp() / ("zorvane-" + UUID().uuidString() + ".txt");
        std::optional<fs::path> image;
        if (context_) {
            image = sandbox().tmp() / ("zorvane-selection-" + UUID().uuidString() + ".png");
            const int fd = ::open(image->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd < 0 || ::write(fd, context_->imageData->data(), context_->imageData->size()) < 0) std::abort();
            ::close(fd);
        }
        std::vector<std::string> arguments = CodexService::queryArguments(AIResponseMode::fast, answer, image);
        std::vector<char*> argv;
        std::string program = program_;
        argv.push_back(program.data());
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);

        int input[2];
        if (::pipe2(input, O_CLOEXEC) != 0) std::abort();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp_.data()) != 0) std::abort();
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
        if (::write(input[1], prompt_.data(), prompt_.size()) < 0) std::abort(); // far less than a pipe holds
        ::close(input[1]);
        int status = 0;
        ::waitpid(pid, &status, 0);

        std::string text(256, '\0');
        const int fd = ::open(answer.c_str(), O_RDONLY | O_CLOEXEC);
        const ssize_t n = fd >= 0 ? ::read(fd, text.data(), text.size()) : -1;
        if (fd >= 0) ::close(fd);
        text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        ::unlink(answer.c_str());
        if (image) ::unlink(image->c_str());
        return text;
    }

private:
    std::optional<CapturedContext> context_;
    std::string program_;
    std::vector<std::string> entries_;
    mutable std::vector<char*> envp_;
    std::string prompt_;
};

void BM_DirectSpawn(benchmark::State& state)
{
    const DirectSpawn direct(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string answer = direct.ask();
        benchmark::DoNotOptimize(answer);
    }
}

double median(std::vector<double> values)
{
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

// Both ways in alternation, each timed on its own: the load of a shared machine drifts over
// seconds, and pairing the samples keeps that drift out of the ratio.
void BM_SendVersusDirect(benchmark::State& state)
{
    const std::size_t imageBytes = static_cast<std::size_t>(state.range(0));
    CodexService service(sandbox().options());
    service.authenticationStatus();
    const std::optional<CapturedContext> context = contextWith(imageBytes);
    const DirectSpawn direct(imageBytes);
    std::vector<double> ours, baseline;
    bool sendFirst = false;
    auto timed = [](auto&& action) {
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(action());
        return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    };
    for (auto _ : state) {
        sendFirst = !sendFirst;
        if (sendFirst) ours.push_back(timed([&] { return service.send(kQuestion, context, AIResponseMode::fast); }));
        baseline.push_back(timed([&] { return direct.ask(); }));
        if (!sendFirst) ours.push_back(timed([&] { return service.send(kQuestion, context, AIResponseMode::fast); }));
    }
    const double sendMedian = median(ours);
    const double directMedian = median(baseline);
    state.counters["send_median_us"] = sendMedian;
    state.counters["direct_median_us"] = directMedian;
    state.counters["ratio"] = directMedian > 0 ? sendMedian / directMedian : 0;
}

constexpr int kRepetitions = 25;

BENCHMARK(BM_Send)->Arg(0)->Arg(256 * 1024)->Repetitions(kRepetitions)->ReportAggregatesOnly(true)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DirectSpawn)->Arg(0)->Arg(256 * 1024)->Repetitions(kRepetitions)->ReportAggregatesOnly(true)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SendVersusDirect)->Arg(0)->Arg(256 * 1024)->Iterations(3000)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Prints the usual table, then the ratio of the medians of the separate runs for each image size
// (the paired run reports its own medians and ratio as counters).
class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.aggregate_name == "median") medians_[run.run_name.function_name][run.run_name.args] = run.GetAdjustedRealTime();
        }
    }

    void printRatios() const
    {
        auto send = medians_.find("BM_Send");
        auto direct = medians_.find("BM_DirectSpawn");
        if (send == medians_.end() || direct == medians_.end()) return;
        for (const auto& [args, ours] : send->second) {
            auto base = direct->second.find(args);
            if (base == direct->second.end() || base->second <= 0) continue;
            std::printf("image bytes %-8s  send median %9.1f us   direct median %9.1f us   ratio %.3f (overhead %+.1f %%)\n",
                        args.c_str(), ours, base->second, ours / base->second, (ours / base->second - 1.0) * 100.0);
        }
    }

private:
    std::map<std::string, std::map<std::string, double>> medians_;
};

} // namespace

int main(int argc, char** argv)
{
    // Both sides share the machine with whatever else runs: interleave their repetitions so
    // that a burst of load does not fall on one side only.
    std::vector<char*> arguments(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, interleave.data());
    int count = static_cast<int>(arguments.size());
    arguments.push_back(nullptr);
    benchmark::Initialize(&count, arguments.data());
    argc = count;
    argv = arguments.data();
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
