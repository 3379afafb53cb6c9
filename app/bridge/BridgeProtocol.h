#pragma once

// The bytes that cross between the browser extension, ZorvaneBrowserHost and the application,
// and where the two programs meet. Both programs include this header and nothing else of each
// other, so it depends on the standard library and POSIX only.

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace zorvane::BridgeProtocol {

// Link B: a Unix socket in a folder only this user can enter. The folder is the user's runtime
// folder's "zorvane", or, without a runtime folder, a "zorvane-<uid>" of ours in the temporary
// folder; the application makes it (0700) and checks it, the host only looks for the socket.
inline constexpr std::string_view folderName = "zorvane";
inline constexpr std::string_view socketName = "browser-bridge";

inline std::string privateFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') return std::string(runtime) + "/" + std::string(folderName);
    const char* temporary = std::getenv("TMPDIR");
    const std::string base = temporary && temporary[0] == '/' ? temporary : "/tmp";
    return base + "/" + std::string(folderName) + "-" + std::to_string(::getuid());
}

inline std::string socketPath() { return privateFolder() + "/" + std::string(socketName); }

// Whether the process at the other end of a connected Unix socket runs as this user: each side of
// link B checks the other.
inline bool peerIsThisUser(int socket)
{
#ifdef SO_PEERCRED
    ucred peer {};
    socklen_t length = sizeof peer;
    return ::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && length == sizeof peer && peer.uid == ::geteuid();
#else
    uid_t uid = 0;
    gid_t gid = 0;
    return ::getpeereid(socket, &uid, &gid) == 0 && uid == ::geteuid();
#endif
}

// Marks the first line of a link as our hello; what authenticates the link is the socket's folder
// and the peer's user, which the application checks on every connection.
inline constexpr std::string_view token = "zorvane-bridge-link-v1";

// The name the extension connects to and the host manifest registers.
inline constexpr std::string_view nativeHostName = "com.quenvar.zorvane";

namespace MessageType {
inline constexpr std::string_view hello = "hello";
inline constexpr std::string_view selectionStarted = "selectionStarted";
inline constexpr std::string_view selection = "selection";
inline constexpr std::string_view cancel = "cancel";
inline constexpr std::string_view activate = "activate";
inline constexpr std::string_view pickerShown = "pickerShown";
} // namespace MessageType

namespace Member {
inline constexpr std::string_view type = "type";
inline constexpr std::string_view token = "token";
inline constexpr std::string_view browserProcessID = "browserProcessID";
inline constexpr std::string_view selectionID = "selectionID";
inline constexpr std::string_view title = "title";
inline constexpr std::string_view imageBase64 = "imageBase64";
} // namespace Member

// Link B lines end with exactly this byte and never contain it otherwise.
inline constexpr char lineTerminator = '\n';

// The hello, terminator included: the host names the browser process it serves, when it knows it.
inline std::string helloLine(std::optional<std::int32_t> browserProcessID)
{
    std::string line = "{\"type\":\"hello\",\"token\":\"" + std::string(token) + "\"";
    if (browserProcessID) line += ",\"browserProcessID\":" + std::to_string(*browserProcessID);
    return line + "}\n";
}

// The exact lines the application writes, terminator included.
inline constexpr std::string_view activateLine = "{\"type\":\"activate\"}\n";
inline constexpr std::string_view cancelLine = "{\"type\":\"cancel\"}\n";

// Link A: a frame is a 4-byte body length in native byte order, then the body.
inline constexpr std::size_t frameHeaderSize = 4;
// Largest body the host accepts from the browser; a length of 0 or above this ends the host.
inline constexpr std::uint32_t maxFrameBodySize = 64u * 1024u * 1024u;
// Largest line the host relays from the application to the browser; longer ones are dropped.
inline constexpr std::size_t maxApplicationLineSize = 1024u * 1024u;
// Most unsplit bytes the application buffers from one connection before it drops the peer.
inline constexpr std::size_t maxBufferedBytes = 64u * 1024u * 1024u;
// A first line longer than this is no hello: the peer is dropped before it can make us buffer more.
inline constexpr std::size_t maxHelloSize = 4096;

} // namespace zorvane::BridgeProtocol
