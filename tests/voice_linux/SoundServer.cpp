#include "tests/voice_linux/SoundServer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace zorvane::testing {

namespace fs = std::filesystem;

namespace {

std::map<std::string, std::optional<std::string>> exportEnvironment(const std::map<std::string, std::optional<std::string>>& values)
{
    std::map<std::string, std::optional<std::string>> saved;
    for (const auto& [name, value] : values) {
        const char* old = std::getenv(name.c_str());
        saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
        if (value) setenv(name.c_str(), value->c_str(), 1);
        else unsetenv(name.c_str());
    }
    return saved;
}

void restoreEnvironment(const std::map<std::string, std::optional<std::string>>& saved)
{
    for (const auto& [name, value] : saved) {
        if (value) setenv(name.c_str(), value->c_str(), 1);
        else unsetenv(name.c_str());
    }
}

// Spawns argv with stdin and stderr on /dev/null and stdout on `outputFd` (or /dev/null).
pid_t spawn(const std::vector<std::string>& argv, int outputFd = -1)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (outputFd >= 0) posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
    else posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const auto& argument : argv) args.push_back(const_cast<char*>(argument.c_str()));
    args.push_back(nullptr);
    pid_t child = -1;
    const int error = posix_spawnp(&child, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
    return child;
}

int runWithStatus(const std::vector<std::string>& argv, std::string* output)
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const pid_t child = spawn(argv, pipeFds[1]);
    close(pipeFds[1]);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs a program to its end; its standard output.
std::string run(const std::vector<std::string>& argv)
{
    std::string output;
    if (runWithStatus(argv, &output) != 0) throw std::runtime_error(argv[0] + " failed");
    return output;
}

} // namespace

SoundServer::SoundServer(SoundServerOptions options)
{
    fs::create_directories(directory_ / "runtime");
    fs::permissions(directory_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    fs::create_directories(directory_ / "home");
    savedEnvironment_ = exportEnvironment({{"XDG_RUNTIME_DIR", (directory_ / "runtime").string()},
        {"HOME", (directory_ / "home").string()}, {"XDG_CONFIG_HOME", std::nullopt}, {"PULSE_AUTOSPAWN", "0"},
        {"PULSE_SERVER", std::nullopt}, {"PULSE_RUNTIME_PATH", std::nullopt}, {"PULSE_COOKIE", std::nullopt}});

    std::vector<std::string> argv {"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--disallow-exit",
        "--log-target=file:" + (directory_ / "pulseaudio.log").string(), "--load=module-native-protocol-unix"};
    if (options.speaker)
        argv.push_back("--load=module-null-sink sink_name=vspk rate=48000 channels=2 "
                       "sink_properties=device.description=VirtualSpeaker");
    if (options.speaker && options.microphone)
        argv.push_back("--load=module-remap-source master=vspk.monitor source_name=vmic "
                       "source_properties=device.description=VirtualMic");
    daemon_ = spawn(argv);
    bool ready = false;
    for (int attempt = 0; attempt < 100 && !ready; ++attempt) {
        ready = runWithStatus({"pactl", "info"}, nullptr) == 0;
        if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (!ready) throw std::runtime_error("the sound server did not start");
    if (options.speaker) pactl({"set-default-sink", "vspk"});
    if (options.speaker && options.microphone) pactl({"set-default-source", "vmic"});
    baseCaptureStreams_ = captureStreamCount();
}

SoundServer::~SoundServer()
{
    if (daemon_ > 0) {
        kill(daemon_, SIGCONT);
        kill(daemon_, SIGTERM);
        int status = 0;
        bool reaped = false;
        for (int attempt = 0; attempt < 40 && !reaped; ++attempt) {
            reaped = waitpid(daemon_, &status, WNOHANG) == daemon_;
            if (!reaped) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!reaped) {
            kill(daemon_, SIGKILL);
            waitpid(daemon_, &status, 0);
        }
    }
    restoreEnvironment(savedEnvironment_);
}

std::string SoundServer::pactl(const std::vector<std::string>& arguments) const
{
    std::vector<std::string> argv {"pactl"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return run(argv);
}

std::size_t SoundServer::captureStreamCount() const
{
    const std::string list = pactl({"list", "short", "source-outputs"});
    std::size_t lines = 0;
    for (const char c : list) lines += c == '\n';
    return lines;
}

bool SoundServer::waitForCapture(double timeoutSeconds) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (captureStreamCount() > baseCaptureStreams_) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

pid_t SoundServer::startPlaying(const fs::path& wav) const
{
    return spawn({"paplay", "-d", "vspk", wav.string()});
}

void SoundServer::waitFor(pid_t child)
{
    int status = 0;
    waitpid(child, &status, 0);
}

void SoundServer::removeMicrophone() const
{
    std::istringstream modules(pactl({"list", "short", "modules"}));
    std::string line;
    while (std::getline(modules, line))
        if (line.find("module-remap-source") != std::string::npos) pactl({"unload-module", line.substr(0, line.find('\t'))});
}

void SoundServer::pause(bool paused) const
{
    kill(daemon_, paused ? SIGSTOP : SIGCONT);
}

NoSoundServer::NoSoundServer()
{
    savedEnvironment_ = exportEnvironment({{"XDG_RUNTIME_DIR", directory_.path().string()}, {"PULSE_AUTOSPAWN", "0"},
        {"PULSE_SERVER", std::nullopt}, {"PULSE_RUNTIME_PATH", std::nullopt}});
}

NoSoundServer::~NoSoundServer()
{
    restoreEnvironment(savedEnvironment_);
}

fs::path speak(const fs::path& folder, const std::string& voice, const std::string& text, double silenceBefore,
    double silenceAfter)
{
    static int counter = 0;
    const std::string stem = "speech" + std::to_string(++counter);
    const fs::path raw = folder / (stem + "-raw.wav");
    const fs::path wav = folder / (stem + ".wav");
    run({"espeak-ng", "-v", voice, "-s", "150", "-w", raw.string(), text});
    // -D: no dither, so the padding is exact digital silence.
    run({"sox", "-D", raw.string(), "-r", "16000", "-c", "1", "-b", "16", wav.string(), "pad",
        std::to_string(silenceBefore), std::to_string(silenceAfter)});
    return wav;
}

void writeWav(const fs::path& path, const std::vector<std::int16_t>& samples, unsigned rate)
{
    std::ofstream out(path, std::ios::binary);
    const auto put32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    const auto put16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const auto bytes = static_cast<std::uint32_t>(samples.size() * 2);
    out.write("RIFF", 4);
    put32(36 + bytes);
    out.write("WAVEfmt ", 8);
    put32(16);
    put16(1);
    put16(1);
    put32(rate);
    put32(rate * 2);
    put16(2);
    put16(16);
    out.write("data", 4);
    put32(bytes);
    out.write(reinterpret_cast<const char*>(samples.data()), bytes);
}

std::vector<std::int16_t> readWav(const fs::path& path, unsigned* rate)
{
    std::ifstream in(path, std::ios::binary);
    char header[12];
    in.read(header, 12);
    std::vector<std::int16_t> samples;
    while (in) {
        char id[4];
        std::uint32_t size = 0;
        in.read(id, 4);
        in.read(reinterpret_cast<char*>(&size), 4);
        if (!in) break;
        if (std::memcmp(id, "fmt ", 4) == 0) {
            std::vector<char> format(size);
            in.read(format.data(), size);
            if (rate) std::memcpy(rate, format.data() + 4, 4);
        } else if (std::memcmp(id, "data", 4) == 0) {
            samples.resize(size / 2);
            in.read(reinterpret_cast<char*>(samples.data()), static_cast<std::streamsize>(size));
            break;
        } else {
            in.seekg(size + (size & 1), std::ios::cur);
        }
    }
    return samples;
}

void RealTimeQueue::postAfter(double seconds, std::function<void()> task)
{
    const auto due = std::chrono::steady_clock::now()
        + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
    {
        std::lock_guard lock(mutex_);
        tasks_.emplace(due, std::move(task));
    }
    posted_.notify_all();
}

bool RealTimeQueue::runUntil(const std::function<bool()>& done, double timeoutSeconds)
{
    const auto deadline = std::chrono::steady_clock::now()
        + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(timeoutSeconds));
    while (!done()) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            for (;;) {
                const auto now = std::chrono::steady_clock::now();
                if (!tasks_.empty() && tasks_.begin()->first <= now) {
                    task = std::move(tasks_.begin()->second);
                    tasks_.erase(tasks_.begin());
                    break;
                }
                if (now >= deadline) break;
                posted_.wait_until(lock, tasks_.empty() ? deadline : std::min(deadline, tasks_.begin()->first));
            }
        }
        if (!task) return done();
        task();
    }
    return true;
}

} // namespace zorvane::testing
