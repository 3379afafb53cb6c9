#include "tests/support/Processes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace zorvane::testing {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& extra)
{
    std::map<std::string, std::string> merged;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry(*e);
        if (const auto eq = entry.find('='); eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& [name, value] : extra) merged[name] = value;
    std::vector<std::string> result;
    for (const auto& [name, value] : merged) result.push_back(name + "=" + value);
    return result;
}

// Forks and execs argv; the child gets its own process group, stdin from /dev/null, stdout on
// outputFd (or the log), stderr in the log, dies with the parent thread and keeps keepOpenFd.
pid_t forkExec(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
    const std::string& logPath, int keepOpenFd, int outputFd)
{
    if (argv.empty()) throw std::runtime_error("empty command");
    // Everything the child touches is prepared before fork.
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        if (devNull >= 0) dup2(devNull, STDIN_FILENO);
        if (outputFd >= 0) dup2(outputFd, STDOUT_FILENO);
        else if (log >= 0) dup2(log, STDOUT_FILENO);
        if (log >= 0) dup2(log, STDERR_FILENO);
        if (keepOpenFd >= 0) fcntl(keepOpenFd, F_SETFD, fcntl(keepOpenFd, F_GETFD) & ~FD_CLOEXEC);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execvpe(args[0], args.data(), envp.data());
        _exit(127);
    }
    const int forkError = errno;
    if (log >= 0) close(log);
    if (devNull >= 0) close(devNull);
    if (pid < 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(forkError));
    setpgid(pid, pid); // also here, so a signal sent right away reaches the group
    return pid;
}

bool reaped(pid_t pid, int* status = nullptr)
{
    int ignored = 0;
    const pid_t r = waitpid(pid, status ? status : &ignored, WNOHANG);
    return r == pid || (r < 0 && errno == ECHILD);
}

} // namespace

bool waitUntil(double timeoutSeconds, const std::function<bool()>& condition)
{
    const auto deadline = Clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (true) {
        if (condition()) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

ScopedEnvironment::~ScopedEnvironment() { restore(); }

void ScopedEnvironment::set(const std::string& name, const std::optional<std::string>& value)
{
    if (!saved_.count(name)) {
        const char* old = std::getenv(name.c_str());
        saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) setenv(name.c_str(), value->c_str(), 1);
    else unsetenv(name.c_str());
}

void ScopedEnvironment::restore()
{
    for (const auto& [name, value] : saved_) {
        if (value) setenv(name.c_str(), value->c_str(), 1);
        else unsetenv(name.c_str());
    }
    saved_.clear();
}

Processes::Processes(std::filesystem::path logFolder) : logs_(std::move(logFolder))
{
    std::filesystem::create_directories(logs_);
}

Processes::~Processes() { stopAll(); }

std::filesystem::path Processes::logPath(const std::string& program) const
{
    return logs_ / (std::to_string(++logCounter_) + "-" + std::filesystem::path(program).filename().string() + ".log");
}

pid_t Processes::start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& extra, int keepOpenFd)
{
    const pid_t pid = forkExec(argv, environmentWith(extra), logPath(argv.empty() ? "" : argv.front()), keepOpenFd, -1);
    children_.push_back(pid);
    return pid;
}

bool Processes::hasExited(pid_t pid)
{
    if (!reaped(pid)) return false;
    // Reaped: its id may be reused, so it must never be signalled again.
    children_.erase(std::remove(children_.begin(), children_.end(), pid), children_.end());
    return true;
}

std::optional<int> Processes::waitForExit(pid_t pid, double timeoutSeconds)
{
    int status = 0;
    if (!waitUntil(timeoutSeconds, [&] { return waitpid(pid, &status, WNOHANG) == pid; })) return std::nullopt;
    children_.erase(std::remove(children_.begin(), children_.end(), pid), children_.end());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Processes::stop(pid_t pid)
{
    // Only our own children: a pid reaped earlier may belong to someone else by now.
    const auto it = std::find(children_.begin(), children_.end(), pid);
    if (pid <= 0 || it == children_.end()) return;
    children_.erase(it);
    kill(pid, SIGCONT); // a paused child could not end
    kill(-pid, SIGTERM);
    kill(pid, SIGTERM);
    if (!waitUntil(2, [pid] { return reaped(pid); })) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    kill(-pid, SIGKILL); // whatever it left behind in its group
}

void Processes::stopAll()
{
    const std::vector<pid_t> started = children_; // stop() takes each off the list
    for (auto it = started.rbegin(); it != started.rend(); ++it) stop(*it);
}

int Processes::run(const std::vector<std::string>& argv, double timeoutSeconds, std::string* output) const
{
    // Standard output, when it is wanted, goes to a file of its own beside the log.
    const std::filesystem::path log = logPath(argv.empty() ? "" : argv.front()), printed = log.string() + ".out";
    const int out = output ? open(printed.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600) : -1;
    const pid_t pid = forkExec(argv, environmentWith({}), log, -1, out);
    if (out >= 0) close(out);
    int status = 0;
    const bool finished = waitUntil(timeoutSeconds, [&] { return reaped(pid, &status); });
    if (!finished) {
        kill(-pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    if (output) output->assign(std::istreambuf_iterator<char>(std::ifstream(printed, std::ios::binary).rdbuf()), {});
    return finished && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Processes::startAndReadLine(std::vector<std::string> argv, double timeoutSeconds)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    for (auto& a : argv)
        if (const auto at = a.find("{fd}"); at != std::string::npos) a.replace(at, 4, std::to_string(fds[1]));
    try {
        start(argv, {}, fds[1]);
    } catch (...) {
        close(fds[0]);
        close(fds[1]);
        throw;
    }
    close(fds[1]);
    std::string line;
    pollfd pfd {fds[0], POLLIN, 0};
    char c;
    bool complete = false;
    while (poll(&pfd, 1, static_cast<int>(timeoutSeconds * 1000)) > 0 && read(fds[0], &c, 1) == 1) {
        if ((complete = c == '\n')) break;
        line.push_back(c);
    }
    close(fds[0]);
    return complete ? line : std::string();
}

} // namespace zorvane::testing
