#include "tests/support/SoundServer.h"

#include <signal.h>

#include <stdexcept>
#include <thread>

namespace zorvane::testing {

namespace fs = std::filesystem;

SoundServer::SoundServer(SoundServerOptions options)
{
    fs::create_directories(directory_ / "home");
    fs::create_directory(directory_ / "runtime", directory_.path()); // 0700 like the temporary folder, as it must be
    for (const auto& [name, value] : std::map<std::string, std::optional<std::string>> {{"PULSE_AUTOSPAWN", "0"},
             {"XDG_RUNTIME_DIR", (directory_ / "runtime").string()}, {"HOME", (directory_ / "home").string()},
             {"XDG_CONFIG_HOME", {}}, {"PULSE_SERVER", {}}, {"PULSE_RUNTIME_PATH", {}}, {"PULSE_COOKIE", {}}})
        environment_.set(name, value);
    if (!options.running) return;

    std::vector<std::string> argv {"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--disallow-exit",
        "--load=module-native-protocol-unix"};
    if (options.speaker)
        argv.push_back("--load=module-null-sink sink_name=vspk rate=48000 channels=2 sink_properties=device.description=VirtualSpeaker");
    if (options.speaker && options.microphone)
        argv.push_back("--load=module-remap-source master=vspk.monitor source_name=vmic source_properties=device.description=VirtualMic");
    daemon_ = processes_.start(argv);
    if (!waitUntil(20, [&] { return processes_.run({"pactl", "info"}, 5) == 0; })) throw std::runtime_error("the sound server did not start");
    if (options.speaker) run({"pactl", "set-default-sink", "vspk"});
    if (options.speaker && options.microphone) run({"pactl", "set-default-source", "vmic"});
}

std::string SoundServer::run(const std::vector<std::string>& argv)
{
    std::string output;
    if (processes_.run(argv, 30, &output) != 0) throw std::runtime_error(argv[0] + " failed");
    return output;
}

pid_t SoundServer::startPlaying(const fs::path& file, const std::vector<std::string>& options)
{
    std::vector<std::string> argv {"paplay", "-d", "vspk", "--latency-msec=100"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(file.string());
    return processes_.start(argv);
}

void SoundServer::waitFor(pid_t player)
{
    if (!waitUntil(60, [&] { return processes_.hasExited(player); })) processes_.stop(player);
}

void SoundServer::pause(bool paused) const
{
    if (daemon_ > 0) kill(daemon_, paused ? SIGSTOP : SIGCONT);
}

fs::path speak(SoundServer& world, const std::string& voice, const std::string& text, double silenceBefore, double silenceAfter)
{
    static int counter = 0;
    const fs::path wav = world.directory() / ("speech" + std::to_string(++counter) + ".wav");
    world.run({"espeak-ng", "-v", voice, "-s", "150", "-w", wav.string() + ".raw", text});
    // -D: no dither, so the padding is exact digital silence.
    world.run({"sox", "-D", "-t", "wav", wav.string() + ".raw", "-r", "16000", "-c", "1", "-b", "16", wav.string(), "pad",
        std::to_string(silenceBefore), std::to_string(silenceAfter)});
    return wav;
}

bool runInRealTime(fakes::ManualMainQueue& queue, const std::function<bool()>& done, double timeoutSeconds)
{
    using std::chrono::steady_clock;
    const auto start = steady_clock::now();
    for (auto last = start; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
        const auto now = steady_clock::now();
        if (now - start > std::chrono::duration<double>(timeoutSeconds)) return false;
        queue.advance(std::chrono::duration<double>(now - last).count());
        last = now;
    }
    return true;
}

} // namespace zorvane::testing
