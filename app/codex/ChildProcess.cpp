#include "app/codex/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <time.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace zorvane {
namespace {

[[noreturn]] void throwErrno(int error, const std::string& what)
{
    throw std::system_error(error, std::generic_category(), what);
}

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~Fd() { reset(); }

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1)
    {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// Keeps our pipe ends off 0, 1 and 2: if the program runs with a standard stream closed, a pipe
// end there would be clobbered by the child's own redirections.
Fd aboveStandardStreams(int fd)
{
    Fd owned(fd);
    if (fd > STDERR_FILENO) return owned;
    const int lifted = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (lifted < 0) throwErrno(errno, "fcntl");
    return Fd(lifted);
}

struct Pipe {
    Fd read;
    Fd write;
};

Pipe makePipe()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throwErrno(errno, "pipe");
    Fd readEnd(fds[0]);
    Fd writeEnd(fds[1]);
    Pipe pipe;
    pipe.read = aboveStandardStreams(readEnd.release());
    pipe.write = aboveStandardStreams(writeEnd.release());
    return pipe;
}

void setNonBlocking(int fd)
{
    // A pipe's status flags hold nothing else we would keep.
    if (::fcntl(fd, F_SETFL, O_NONBLOCK) < 0) throwErrno(errno, "fcntl");
}

// A write into a pipe whose reader is gone raises SIGPIPE, which would end the whole program.
// Changing its disposition is process-wide and leaks into every child, so instead the signal is
// blocked for this thread while we feed the child, and one that our write raised is taken off
// the pending set before the old mask comes back. A SIGPIPE that was already pending before is
// left alone; it can only be pending if the thread had it blocked already.
class SigpipeBlock {
public:
    SigpipeBlock()
    {
        sigemptyset(&pipeSignal_);
        sigaddset(&pipeSignal_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal_, &previousMask_);
        if (sigismember(&previousMask_, SIGPIPE) == 1) {
            sigset_t pending;
            sigemptyset(&pending);
            sigpending(&pending);
            wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        }
    }
    ~SigpipeBlock()
    {
        if (raised_ && !wasPending_) {
            const timespec immediately {0, 0};
            while (sigtimedwait(&pipeSignal_, nullptr, &immediately) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    }
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

    void noteBrokenPipe() { raised_ = true; }

private:
    sigset_t pipeSignal_ {};
    sigset_t previousMask_ {};
    bool wasPending_ = false;
    bool raised_ = false;
};

class SpawnSetup {
public:
    SpawnSetup()
    {
        if (int error = posix_spawn_file_actions_init(&actions_)) throwErrno(error, "posix_spawn_file_actions_init");
        if (int error = posix_spawnattr_init(&attributes_)) {
            posix_spawn_file_actions_destroy(&actions_);
            throwErrno(error, "posix_spawnattr_init");
        }
    }
    ~SpawnSetup()
    {
        posix_spawnattr_destroy(&attributes_);
        posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    void check(int error, const char* what)
    {
        if (error) throwErrno(error, what);
    }

    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

// The child exists from spawn until reaped; if we leave early by an exception it is killed and
// reaped so that it neither runs on unattended nor stays a zombie.
class Reaper {
public:
    Reaper(pid_t pid, bool ownGroup) : pid_(pid), ownGroup_(ownGroup) {}
    ~Reaper()
    {
        if (pid_ <= 0) return;
        signal(SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    Reaper(const Reaper&) = delete;
    Reaper& operator=(const Reaper&) = delete;

    // To the child's whole group when it has one. Until the child is reaped its pid, and so its
    // group's number, cannot be given to another process.
    void signal(int number) const
    {
        if (pid_ <= 0) return;
        ::kill(ownGroup_ ? -pid_ : pid_, number);
    }

    std::int32_t wait()
    {
        int status = 0;
        pid_t result;
        do {
            result = ::waitpid(pid_, &status, 0);
        } while (result < 0 && errno == EINTR);
        const int error = errno;
        pid_ = -1; // reaped, or not ours to reap (SIGCHLD ignored): never signal that pid again
        if (result < 0) throwErrno(error, "waitpid");
        if (WIFEXITED(status)) return WEXITSTATUS(status);
        if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
        return 1;
    }

private:
    pid_t pid_;
    bool ownGroup_;
};

// Waits up to `seconds` for the child to end, without reaping it.
bool waitForExit(pid_t pid, int exitWatch, double seconds)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    for (;;) {
        siginfo_t info {};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        if (exitWatch >= 0) {
            pollfd watch {exitWatch, POLLIN, 0};
            ::poll(&watch, 1, static_cast<int>(left));
        } else {
            const timespec step {0, 10'000'000};
            ::nanosleep(&step, nullptr);
        }
    }
}

constexpr std::size_t kChunk = 64 * 1024;

// Reads what poll reported; false at end of file or on an error that ends the stream.
bool readAvailable(int fd, std::string& into)
{
    char buffer[kChunk];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        into.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    return n < 0 && errno == EINTR;
}

// After the child has ended, whatever it wrote is already in the pipe: take exactly that much,
// so a descendant that keeps writing cannot hold us.
void drainWhatIsLeft(int fd, std::string& into)
{
    int pending = 0;
    if (::ioctl(fd, FIONREAD, &pending) != 0 || pending <= 0) return;
    std::size_t left = static_cast<std::size_t>(pending);
    char buffer[kChunk];
    while (left > 0) {
        const ssize_t n = ::read(fd, buffer, std::min(left, sizeof buffer));
        if (n > 0) {
            into.append(buffer, static_cast<std::size_t>(n));
            left -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
}

} // namespace

Environment processEnvironment()
{
    Environment environment;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string_view pair(*entry);
        const std::size_t equals = pair.find('=');
        if (equals == std::string_view::npos || equals == 0) continue;
        environment.emplace(std::string(pair.substr(0, equals)), std::string(pair.substr(equals + 1)));
    }
    return environment;
}

ChildResult runChild(const ChildRequest& request)
{
    const std::string program = request.executable.string();
    std::vector<std::string> environmentEntries;
    environmentEntries.reserve(request.environment.size());
    for (const auto& [name, value] : request.environment) {
        if (name.empty() || name.find('=') != std::string::npos) continue;
        environmentEntries.push_back(name + "=" + value);
    }
    std::vector<char*> argv;
    argv.reserve(request.arguments.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : request.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    envp.reserve(environmentEntries.size() + 1);
    for (std::string& entry : environmentEntries) envp.push_back(entry.data());
    envp.push_back(nullptr);

    // Only a child we write to can raise SIGPIPE.
    std::optional<SigpipeBlock> sigpipeBlock;
    if (request.input) sigpipeBlock.emplace();

    std::optional<Pipe> inputPipe;
    std::optional<Pipe> outputPipe;
    Pipe errorPipe = makePipe();
    if (request.input) inputPipe = makePipe();
    if (request.captureOutput) outputPipe = makePipe();

    pid_t pid = -1;
    {
        SpawnSetup setup;
        if (inputPipe) {
            setup.check(posix_spawn_file_actions_adddup2(&setup.actions_, inputPipe->read.get(), STDIN_FILENO), "posix_spawn");
        } else if (request.ownProcessGroup) {
            setup.check(posix_spawn_file_actions_addopen(&setup.actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0), "posix_spawn");
        }
        if (outputPipe) {
            setup.check(posix_spawn_file_actions_adddup2(&setup.actions_, outputPipe->write.get(), STDOUT_FILENO), "posix_spawn");
        } else {
            setup.check(posix_spawn_file_actions_addopen(&setup.actions_, STDOUT_FILENO, "/dev/null", O_WRONLY, 0), "posix_spawn");
        }
        setup.check(posix_spawn_file_actions_adddup2(&setup.actions_, errorPipe.write.get(), STDERR_FILENO), "posix_spawn");
        // Nothing else the program has open reaches the child, CLOEXEC or not.
        setup.check(posix_spawn_file_actions_addclosefrom_np(&setup.actions_, STDERR_FILENO + 1), "posix_spawn");
        if (request.workingDirectory) {
            setup.check(posix_spawn_file_actions_addchdir_np(&setup.actions_, request.workingDirectory->c_str()), "posix_spawn");
        }
        // The child starts with no signal blocked (ours blocks SIGPIPE right now) and with the
        // default SIGPIPE even if the program ignores it, as any freshly started tool expects.
        sigset_t none;
        sigemptyset(&none);
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        setup.check(posix_spawnattr_setsigmask(&setup.attributes_, &none), "posix_spawn");
        setup.check(posix_spawnattr_setsigdefault(&setup.attributes_, &pipeSignal), "posix_spawn");
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
        if (request.ownProcessGroup) {
            setup.check(posix_spawnattr_setpgroup(&setup.attributes_, 0), "posix_spawn");
            flags |= POSIX_SPAWN_SETPGROUP;
        }
        setup.check(posix_spawnattr_setflags(&setup.attributes_, flags), "posix_spawn");

        const int error = posix_spawn(&pid, program.c_str(), &setup.actions_, &setup.attributes_, argv.data(), envp.data());
        if (error) throwErrno(error, "No se pudo iniciar " + program);
    }
    Reaper reaper(pid, request.ownProcessGroup);
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> deadline;
    if (request.timeLimit) {
        const double limit = std::isfinite(*request.timeLimit) ? std::clamp(*request.timeLimit, 0.0, 1e9) : 1e9;
        deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limit));
    }
    const int cancelWatch = request.cancellation ? request.cancellation->descriptor() : -1;

    if (inputPipe) inputPipe->read.reset();

    // Tells us when the child itself has ended, whoever else holds its pipes. Called through
    // syscall: the C library's wrapper is not declared for C++ in this glibc.
    Fd exitWatch(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (!exitWatch.isOpen()) {
        // Without it (old kernels, some sandboxes) the end of the output is our only sign, so
        // only the child may hold the writing ends.
        errorPipe.write.reset();
        if (outputPipe) outputPipe->write.reset();
    }
    // Otherwise we keep our writing ends until the child has ended: the pipes then never report
    // a hang-up on their own, and we are woken once, at the end, as a plain wait would be.

    Fd& errorEnd = errorPipe.read;
    Fd noOutput;
    Fd& outputEnd = outputPipe ? outputPipe->read : noOutput;
    Fd noInput;
    Fd& inputEnd = inputPipe ? inputPipe->write : noInput;
    // The read ends stay blocking: we read only after poll reports data or end of file, and after
    // the child's end only as much as the pipe holds.

    const std::string_view input = request.input ? std::string_view(*request.input) : std::string_view();
    std::size_t written = 0;
    auto writeInput = [&](std::size_t size) {
        const ssize_t n = ::write(inputEnd.get(), input.data() + written, size);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            if (written == input.size()) inputEnd.reset();
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            if (errno == EPIPE) sigpipeBlock->noteBrokenPipe();
            inputEnd.reset(); // the child will not read the rest
        }
    };
    if (inputEnd.isOpen()) {
        // An empty pipe takes PIPE_BUF bytes without blocking, which is all of a usual prompt;
        // only a longer one needs the non-blocking end and the loop.
        if (!input.empty()) writeInput(std::min(input.size(), static_cast<std::size_t>(PIPE_BUF)));
        if (written == input.size()) {
            inputEnd.reset();
        } else if (inputEnd.isOpen()) {
            setNonBlocking(inputEnd.get());
        }
    }

    ChildResult result;
    bool exited = false;
    const auto mustEnd = [&] {
        if (request.cancellation && request.cancellation->isCancelled()) return ChildResult::Ending::cancelled;
        if (deadline && Clock::now() >= *deadline) return ChildResult::Ending::timedOut;
        return ChildResult::Ending::exited;
    };
    while (!exited && (errorEnd.isOpen() || outputEnd.isOpen() || inputEnd.isOpen() || deadline || cancelWatch >= 0)) {
        if ((result.ending = mustEnd()) != ChildResult::Ending::exited) break;
        pollfd fds[5];
        nfds_t count = 0;
        int errorIndex = -1, outputIndex = -1, inputIndex = -1, exitIndex = -1;
        if (errorEnd.isOpen()) {
            errorIndex = static_cast<int>(count);
            fds[count++] = {errorEnd.get(), POLLIN, 0};
        }
        if (outputEnd.isOpen()) {
            outputIndex = static_cast<int>(count);
            fds[count++] = {outputEnd.get(), POLLIN, 0};
        }
        if (inputEnd.isOpen()) {
            inputIndex = static_cast<int>(count);
            fds[count++] = {inputEnd.get(), POLLOUT, 0};
        }
        if (exitWatch.isOpen()) {
            exitIndex = static_cast<int>(count);
            fds[count++] = {exitWatch.get(), POLLIN, 0};
        }
        if (cancelWatch >= 0) fds[count++] = {cancelWatch, POLLIN, 0};
        int timeout = -1;
        if (deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, 60'000));
        }
        if (!errorEnd.isOpen() && !outputEnd.isOpen() && !inputEnd.isOpen() && !exitWatch.isOpen()) {
            // Nothing left to read and no way to be told of the end: look again shortly.
            timeout = timeout < 0 ? 50 : std::min(timeout, 50);
            siginfo_t info {};
            if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) break;
        }
        if (::poll(fds, count, timeout) < 0) {
            if (errno == EINTR) continue;
            throwErrno(errno, "poll");
        }
        if (errorIndex >= 0 && fds[errorIndex].revents != 0 && !readAvailable(errorEnd.get(), result.errorOutput)) errorEnd.reset();
        if (outputIndex >= 0 && fds[outputIndex].revents != 0 && !readAvailable(outputEnd.get(), result.output)) outputEnd.reset();
        if (inputIndex >= 0 && fds[inputIndex].revents != 0) {
            if (fds[inputIndex].revents & (POLLERR | POLLHUP)) {
                inputEnd.reset(); // the child closed its input: the rest of the prompt is not wanted
            } else {
                writeInput(std::min(input.size() - written, kChunk));
            }
        }
        if (exitIndex >= 0 && fds[exitIndex].revents != 0) exited = true;
    }
    inputEnd.reset();
    if (result.ending != ChildResult::Ending::exited) {
        reaper.signal(SIGTERM);
        waitForExit(pid, exitWatch.get(), terminationGracePeriod);
        // Whatever of its group is left, the child included if it ignored SIGTERM.
        reaper.signal(SIGKILL);
        exited = true;
    }
    if (exited) {
        if (errorEnd.isOpen()) drainWhatIsLeft(errorEnd.get(), result.errorOutput);
        if (outputEnd.isOpen()) drainWhatIsLeft(outputEnd.get(), result.output);
    }
    result.terminationStatus = reaper.wait();
    return result;
}

} // namespace zorvane
