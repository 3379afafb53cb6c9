#include "app/launcher/SessionBusCall.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace zorvane::launcher {
namespace {

constexpr std::uint32_t helloSerial = 1;
constexpr std::uint32_t callSerial = 2;

// The message bytes we write: two calls of at most a few hundred bytes each.
struct Buffer {
    unsigned char bytes[2048];
    std::size_t size = 0;
    bool overflow = false;

    void byte(unsigned char b)
    {
        if (size < sizeof bytes) bytes[size++] = b;
        else overflow = true;
    }
    void align(std::size_t to)
    {
        while (size % to) byte(0);
    }
    void uint32At(std::size_t at, std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(v >> (8 * i));
    }
    void uint32(std::uint32_t v)
    {
        align(4);
        for (int i = 0; i < 4; ++i) byte(static_cast<unsigned char>(v >> (8 * i)));
    }
    void string(const char* s)
    {
        const std::size_t length = std::strlen(s);
        uint32(static_cast<std::uint32_t>(length));
        for (std::size_t i = 0; i <= length; ++i) byte(static_cast<unsigned char>(s[i]));
    }
    // A header field: (code, variant of signature `type`, value).
    void field(unsigned char code, char type, const char* value)
    {
        align(8);
        byte(code);
        byte(1);
        byte(static_cast<unsigned char>(type));
        byte(0);
        string(value);
    }
};

// A method call without a body, in little-endian order, that must not start a service.
void appendCall(Buffer& out, std::uint32_t serial, const char* destination, const char* path, const char* interface,
                const char* member)
{
    out.align(8);
    out.byte('l');
    out.byte(1);   // a method call
    out.byte(0x2); // no auto-start
    out.byte(1);   // protocol version
    out.uint32(0); // body length
    out.uint32(serial);
    const std::size_t fieldsLength = out.size;
    out.uint32(0);
    out.field(1, 'o', path);
    out.field(2, 's', interface);
    out.field(3, 's', member);
    out.field(6, 's', destination);
    if (!out.overflow) out.uint32At(fieldsLength, static_cast<std::uint32_t>(out.size - fieldsLength - 4));
    out.align(8);
}

long long nowMilliseconds()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

bool writeAll(int fd, const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads what is there, waiting until the deadline; false on end, error or time out.
bool readSome(int fd, unsigned char* into, std::size_t room, std::size_t& got, long long deadline, bool& timedOut)
{
    for (;;) {
        const long long left = deadline - nowMilliseconds();
        if (left <= 0) {
            timedOut = true;
            return false;
        }
        pollfd p {fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) continue; // the deadline check above ends it
        if (ready < 0) return false;
        const ssize_t n = ::recv(fd, into, room, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got = static_cast<std::size_t>(n);
        return true;
    }
}

// Connects to the first Unix address of a D-Bus address list ("unix:path=…" or "unix:abstract=…",
// entries separated by ';', values %-escaped) that takes the connection.
int connectTo(const char* addresses)
{
    const char* entry = addresses;
    while (entry && *entry) {
        const char* end = std::strchr(entry, ';');
        const std::size_t length = end ? static_cast<std::size_t>(end - entry) : std::strlen(entry);
        if (length > 5 && std::strncmp(entry, "unix:", 5) == 0) {
            sockaddr_un address {};
            address.sun_family = AF_UNIX;
            bool abstract = false, found = false, bad = false;
            std::size_t used = 0;
            const char* key = entry + 5;
            const char* stop = entry + length;
            while (key < stop && !found) {
                const char* comma = static_cast<const char*>(std::memchr(key, ',', static_cast<std::size_t>(stop - key)));
                const char* keyEnd = comma ? comma : stop;
                const char* equals = static_cast<const char*>(std::memchr(key, '=', static_cast<std::size_t>(keyEnd - key)));
                if (equals) {
                    const std::size_t name = static_cast<std::size_t>(equals - key);
                    abstract = name == 8 && std::strncmp(key, "abstract", 8) == 0;
                    if ((name == 4 && std::strncmp(key, "path", 4) == 0) || abstract) {
                        found = true;
                        used = abstract ? 1 : 0; // an abstract name starts with a NUL byte
                        for (const char* c = equals + 1; c < keyEnd && !bad; ++c) {
                            char value = *c;
                            if (value == '%') {
                                char hex[3] = {c + 1 < keyEnd ? c[1] : '\0', c + 2 < keyEnd ? c[2] : '\0', '\0'};
                                char* parsed = nullptr;
                                value = static_cast<char>(std::strtol(hex, &parsed, 16));
                                bad = parsed != hex + 2;
                                c += 2;
                            }
                            if (used + 1 >= sizeof address.sun_path) bad = true;
                            else address.sun_path[used++] = value;
                        }
                    }
                }
                key = keyEnd + 1;
            }
            if (found && !bad) {
                const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
                if (fd < 0) return -1;
                const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + used + (abstract ? 0 : 1));
                if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0) return fd;
                ::close(fd);
            }
        }
        entry = end ? end + 1 : nullptr;
    }
    return -1;
}

std::uint32_t readUint32(const unsigned char* p, bool bigEndian)
{
    return bigEndian ? (std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3])
                     : (std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0]);
}

// The reply serial of a whole message's header, 0 when it has none (signals) or it cannot be read.
std::uint32_t replySerialOf(const unsigned char* message, std::size_t headerEnd, bool bigEndian)
{
    std::size_t at = 16;
    while (at < headerEnd) {
        at = (at + 7) & ~std::size_t(7);
        if (at + 4 > headerEnd) return 0;
        const unsigned char code = message[at];
        const unsigned char signatureLength = message[at + 1];
        if (signatureLength != 1) return 0;
        const char type = static_cast<char>(message[at + 2]);
        at += 4;
        if (type == 'u') {
            at = (at + 3) & ~std::size_t(3);
            if (at + 4 > headerEnd) return 0;
            if (code == 5) return readUint32(message + at, bigEndian);
            at += 4;
        } else if (type == 's' || type == 'o') {
            at = (at + 3) & ~std::size_t(3);
            if (at + 4 > headerEnd) return 0;
            at += 4 + std::size_t(readUint32(message + at, bigEndian)) + 1;
        } else if (type == 'g') {
            if (at + 1 > headerEnd) return 0;
            at += 1 + std::size_t(message[at]) + 1;
        } else {
            return 0;
        }
    }
    return 0;
}

} // namespace

CallResult callOnSessionBus(const char* destination, const char* path, const char* interface, const char* member,
                            int timeoutMilliseconds)
{
    const long long deadline = nowMilliseconds() + timeoutMilliseconds;
    char fallback[sizeof(sockaddr_un::sun_path) + 16];
    const char* addresses = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!addresses || !*addresses) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (!runtime || *runtime != '/') return CallResult::noReceiver;
        if (std::snprintf(fallback, sizeof fallback, "unix:path=%s/bus", runtime) >= static_cast<int>(sizeof fallback))
            return CallResult::noReceiver;
        addresses = fallback;
    }
    const int fd = connectTo(addresses);
    if (fd < 0) return CallResult::noReceiver;

    CallResult result = CallResult::noReceiver;
    ucred peer {};
    socklen_t peerSize = sizeof peer;
    const uid_t uid = ::getuid();
    static unsigned char received[64 * 1024];
    std::size_t have = 0, got = 0;
    bool timedOut = false;

    // EXTERNAL: the bus checks our user on the socket; we send its number as hex of its decimal digits.
    char uidText[16];
    std::snprintf(uidText, sizeof uidText, "%u", static_cast<unsigned>(uid));
    char auth[80] = "\0AUTH EXTERNAL ";
    std::size_t authSize = 15;
    for (const char* c = uidText; *c; ++c) authSize += static_cast<std::size_t>(std::snprintf(auth + authSize, 3, "%02x", *c));
    auth[authSize++] = '\r';
    auth[authSize++] = '\n';

    Buffer messages;
    const char* begin = "BEGIN\r\n";
    for (const char* c = begin; *c; ++c) messages.byte(static_cast<unsigned char>(*c));
    Buffer calls; // aligned from the first message's start, not from the line before it

    appendCall(calls, helloSerial, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "Hello");
    appendCall(calls, callSerial, destination, path, interface, member);
    for (std::size_t i = 0; i < calls.size; ++i) messages.byte(calls.bytes[i]);

    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) != 0 || peer.uid != uid || calls.overflow
        || messages.overflow || !writeAll(fd, auth, authSize)) {
        ::close(fd);
        return CallResult::noReceiver;
    }
    // The bus answers "OK <guid>\r\n" (or REJECTED): a line, then the messages.
    while (!std::memchr(received, '\n', have)) {
        if (have == sizeof received || !readSome(fd, received + have, sizeof received - have, got, deadline, timedOut)) {
            ::close(fd);
            return CallResult::noReceiver; // the bus itself did not answer: the full start will find out why
        }
        have += got;
    }
    if (have < 3 || std::strncmp(reinterpret_cast<const char*>(received), "OK ", 3) != 0 || !writeAll(fd, messages.bytes, messages.size)) {
        ::close(fd);
        return CallResult::noReceiver;
    }
    const std::size_t lineEnd = static_cast<std::size_t>(static_cast<unsigned char*>(std::memchr(received, '\n', have)) - received) + 1;
    std::memmove(received, received + lineEnd, have - lineEnd);
    have -= lineEnd;

    for (bool done = false; !done;) {
        // Whole messages first; then more bytes.
        while (!done && have >= 16) {
            const bool bigEndian = received[0] == 'B';
            if ((received[0] != 'l' && !bigEndian) || received[3] != 1) {
                done = true;
                break;
            }
            const std::size_t bodyLength = readUint32(received + 4, bigEndian);
            const std::size_t fieldsLength = readUint32(received + 12, bigEndian);
            const std::size_t headerEnd = 16 + fieldsLength;
            const std::size_t total = ((headerEnd + 7) & ~std::size_t(7)) + bodyLength;
            if (fieldsLength > sizeof received || bodyLength > sizeof received || total > sizeof received) {
                done = true; // larger than anything meant for us
                break;
            }
            if (have < total) break;
            const unsigned char type = received[1];
            const std::uint32_t replyTo = (type == 2 || type == 3) ? replySerialOf(received, headerEnd, bigEndian) : 0;
            if (replyTo == helloSerial && type == 3) done = true;
            if (replyTo == callSerial) {
                result = type == 2 ? CallResult::returned : CallResult::noReceiver;
                done = true;
            }
            std::memmove(received, received + total, have - total);
            have -= total;
        }
        if (done) break;
        if (have == sizeof received || !readSome(fd, received + have, sizeof received - have, got, deadline, timedOut)) {
            if (timedOut) result = CallResult::unanswered;
            break;
        }
        have += got;
    }
    ::close(fd);
    return result;
}

} // namespace zorvane::launcher
