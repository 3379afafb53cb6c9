// ZorvaneBrowserHost: started by the browser when the Zorvane extension opens its native port.
// Relays the extension's frames to the application over the user's private Unix socket and the
// application's lines back, adding only its own hello, which names the browser process that
// started it. It reports nothing but its exit status.

#include "app/bridge/BridgeProtocol.h"
#include "browser-host/HostRelay.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

constexpr int connectionAttempts = 8;
constexpr useconds_t retryDelayMicroseconds = 250000;
constexpr int pipeSize = 1024 * 1024;

// Either thread may end the process; nothing is left to flush, so leave without running
// destructors the other thread may still depend on.
[[noreturn]] void finish(int status)
{
    ::_exit(status);
}

int connectToApplication()
{
    const std::string path = zorvane::BridgeProtocol::socketPath();
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) finish(1);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    for (int attempt = 0; attempt < connectionAttempts; ++attempt) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) finish(1);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            // Only an application of our own user may hear what the page sends.
            if (!zorvane::BridgeProtocol::peerIsThisUser(fd)) finish(1);
            return fd;
        }
        ::close(fd);
        ::usleep(retryDelayMicroseconds);
    }
    finish(1);
}

} // namespace

int main()
{
    // A browser that has closed our standard output must end us with status 0, not SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);

#ifdef F_SETPIPE_SZ
    // Larger pipes to and from the browser mean fewer wake-ups per large image; purely a speed-up,
    // so a refusal (not a pipe, over the system's limit) changes nothing.
    ::fcntl(STDIN_FILENO, F_SETPIPE_SZ, pipeSize);
    ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, pipeSize);
#endif

    static std::mutex outputLock;
    // The browser starts us itself; a parent that is already gone leaves us with init, no browser.
    const pid_t browser = ::getppid();
    const int socket = connectToApplication();

    zorvane::host::DescriptorWriter application(socket, true);
    const std::string hello = zorvane::BridgeProtocol::helloLine(browser > 1 ? std::optional<std::int32_t>(browser) : std::nullopt);
    if (!application.writeAll(hello.data(), hello.size())) finish(1);

    try {
        std::thread([socket] {
            zorvane::host::DescriptorReader fromApplication(socket);
            zorvane::host::DescriptorWriter toBrowser(STDOUT_FILENO, false);
            zorvane::host::relayLinesToFrames(fromApplication, toBrowser, outputLock);
            finish(0);
        }).detach();
    } catch (...) {
        finish(1);
    }

    zorvane::host::DescriptorReader fromBrowser(STDIN_FILENO);
    zorvane::host::relayFramesToLines(fromBrowser, application);
    // Shut down, not closed: the other thread may be reading the socket right now, and closing a
    // descriptor under a read could hand its number to something else. Leaving closes it.
    ::shutdown(socket, SHUT_RDWR);
    finish(0);
}
