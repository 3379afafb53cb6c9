#include "app/bridge/BrowserBridgeInstaller.h"

#include "app/bridge/BridgeProtocol.h"
#include "app/core/Text.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace zorvane {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(int error)
{
    throw std::system_error(error, std::generic_category());
}

// A JSON string the way the browsers' manifests have always been written here: every "/" as
// "\/", control characters escaped, everything else as UTF-8.
void appendQuoted(std::string& out, std::string_view text)
{
    static constexpr char hex[] = "0123456789abcdef";
    out.push_back('"');
    for (const char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '/': out += "\\/"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                out += "\\u00";
                out.push_back(hex[(c >> 4) & 0xF]);
                out.push_back(hex[c & 0xF]);
            } else {
                out.push_back(c);
            }
        }
    }
    out.push_back('"');
}

void writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t count = ::write(fd, bytes.data(), bytes.size());
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) fail(count < 0 ? errno : EIO);
        bytes.remove_prefix(static_cast<std::size_t>(count));
    }
}

// Writes beside the target and renames over it, so a browser never reads half a manifest.
void replaceAtomically(const fs::path& target, std::string_view contents)
{
    std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) fail(errno);
    try {
        if (::fchmod(fd, 0644) != 0) fail(errno);
        writeAll(fd, contents);
        if (::fsync(fd) != 0) fail(errno);
        if (::close(fd) != 0) {
            ::unlink(temporary.c_str());
            fail(errno);
        }
    } catch (...) {
        ::close(fd);
        ::unlink(temporary.c_str());
        throw;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        fail(error);
    }
}

fs::path homeFromEnvironment()
{
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return {};
}

} // namespace

BrowserBridgeInstaller::BrowserBridgeInstaller(const Bundle& bundle, fs::path homeDirectory,
                                               std::optional<fs::path> configHome)
    : hostPath_(bundle.executablesPath() / std::string(hostExecutableName)),
      homeDirectory_(std::move(homeDirectory)),
      configHome_(configHome ? std::move(*configHome) : homeDirectory_ / ".config")
{
}

BrowserBridgeInstaller BrowserBridgeInstaller::forCurrentUser(const Bundle& bundle)
{
    std::optional<fs::path> configHome;
    // The browsers ignore a relative XDG_CONFIG_HOME, and so do we.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && fs::path(xdg).is_absolute()) configHome = xdg;
    return BrowserBridgeInstaller(bundle, homeFromEnvironment(), configHome);
}

std::vector<fs::path> BrowserBridgeInstaller::destinations() const
{
#if defined(__APPLE__)
    const fs::path support = homeDirectory_ / "Library" / "Application Support";
    return {
        support / "Arc" / "User Data" / "NativeMessagingHosts",
        support / "Google" / "Chrome" / "NativeMessagingHosts",
        support / "Microsoft Edge" / "NativeMessagingHosts",
        support / "BraveSoftware" / "Brave-Browser" / "NativeMessagingHosts",
    };
#else
    return {
        configHome_ / "google-chrome" / "NativeMessagingHosts",
        configHome_ / "chromium" / "NativeMessagingHosts",
        configHome_ / "microsoft-edge" / "NativeMessagingHosts",
        configHome_ / "BraveSoftware" / "Brave-Browser" / "NativeMessagingHosts",
    };
#endif
}

std::string BrowserBridgeInstaller::manifestText(const std::string& hostPath)
{
    if (!Text::isValidUTF8(hostPath)) fail(EILSEQ);
    const std::string origin = "chrome-extension://" + std::string(extensionID) + "/";
    std::string out = "{\n  \"allowed_origins\" : [\n    ";
    appendQuoted(out, origin);
    out += "\n  ],\n  \"description\" : ";
    appendQuoted(out, "Zorvane browser bridge");
    out += ",\n  \"name\" : ";
    appendQuoted(out, BridgeProtocol::nativeHostName);
    out += ",\n  \"path\" : ";
    appendQuoted(out, hostPath);
    out += ",\n  \"type\" : ";
    appendQuoted(out, "stdio");
    out += "\n}";
    return out;
}

void BrowserBridgeInstaller::install() const
{
    struct stat info {};
    if (::stat(hostPath_.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || ::access(hostPath_.c_str(), X_OK) != 0)
        fail(ENOENT);
    const std::string manifest = manifestText(hostPath_.string());

    for (const fs::path& folder : destinations()) {
        std::error_code error;
        fs::create_directories(folder, error);
        if (error) throw std::system_error(error);
        replaceAtomically(folder / hostName, manifest);
    }
}

} // namespace zorvane
