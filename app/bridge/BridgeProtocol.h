#pragma once

// The bytes that cross between the browser extension, ZorvaneBrowserHost and the application.
// Both programs include this header and nothing else of each other, so it depends on the
// standard library only.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zorvane::BridgeProtocol {

// Link B: the host's TCP connection to the application, on the loopback interface only.
inline constexpr const char* address = "127.0.0.1";
inline constexpr std::uint16_t port = 38473;

// The only authentication of link B: the host proves itself with it in its hello.
inline constexpr std::string_view token = "zorvane-bridge-link-v1";

// The name the extension connects to and the host manifest registers.
inline constexpr std::string_view nativeHostName = "com.quenvar.zorvane";

namespace MessageType {
inline constexpr std::string_view hello = "hello";
inline constexpr std::string_view selectionStarted = "selectionStarted";
inline constexpr std::string_view selection = "selection";
inline constexpr std::string_view cancel = "cancel";
inline constexpr std::string_view activate = "activate";
} // namespace MessageType

namespace Member {
inline constexpr std::string_view type = "type";
inline constexpr std::string_view token = "token";
inline constexpr std::string_view selectionID = "selectionID";
inline constexpr std::string_view title = "title";
inline constexpr std::string_view imageBase64 = "imageBase64";
} // namespace Member

// Link B lines end with exactly this byte and never contain it otherwise.
inline constexpr char lineTerminator = '\n';

// The exact lines this system writes, terminator included.
inline constexpr std::string_view helloLine = "{\"type\":\"hello\",\"token\":\"zorvane-bridge-link-v1\"}\n";
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

} // namespace zorvane::BridgeProtocol
