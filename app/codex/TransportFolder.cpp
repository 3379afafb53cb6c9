#include "app/codex/TransportFolder.h"

#include "app/core/UUID.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorvane {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kInstancePrefix = "instance-";
constexpr std::string_view kLockSuffix = ".lock";

std::optional<std::string> variable(const Environment& environment, const char* name)
{
    const auto it = environment.find(name);
    if (it == environment.end() || it->second.empty() || it->second.front() != '/') return std::nullopt;
    return it->second;
}

// A folder of ours that nobody else may enter: made when missing, its mode mended when ours.
// Anything else under that name (a link, another user's folder) is refused.
bool ensurePrivateFolder(const fs::path& path)
{
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != ::getuid()) return false;
    return (status.st_mode & 077) == 0 || ::chmod(path.c_str(), 0700) == 0;
}

bool isOwnDirectory(const fs::path& path)
{
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::getuid();
}

} // namespace

fs::path TransportFolder::userFolder(const Environment& environment)
{
    if (const auto runtime = variable(environment, "XDG_RUNTIME_DIR"); runtime && isOwnDirectory(*runtime))
        return fs::path(*runtime) / "zorvane";
    fs::path temporary = "/tmp";
    if (const auto tmpdir = variable(environment, "TMPDIR")) {
        std::error_code error;
        if (fs::is_directory(*tmpdir, error)) temporary = fs::path(*tmpdir).lexically_normal();
    }
    return temporary / ("zorvane-" + std::to_string(::getuid()));
}

void TransportFolder::removeAbandoned(const fs::path& userFolder)
{
    std::error_code error;
    fs::directory_iterator entries(userFolder, error);
    if (error) return;
    for (auto it = fs::begin(entries); it != fs::end(entries); it.increment(error)) {
        if (error) return;
        const std::string name = it->path().filename().string();
        if (!name.starts_with(kInstancePrefix) || !name.ends_with(kLockSuffix)) continue;
        // The lock goes with its process: one we can take has no process left.
        const int fd = ::open(it->path().c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            std::error_code ignored;
            fs::remove_all(userFolder / name.substr(0, name.size() - kLockSuffix.size()), ignored);
            ::unlink(it->path().c_str());
        }
        ::close(fd);
    }
}

TransportFolder::TransportFolder(const Environment& environment, std::optional<fs::path> base)
{
    fs::path folder = base ? std::move(*base) : userFolder(environment);
    if (!base && !ensurePrivateFolder(folder)) {
        // Someone else holds that name in a shared temporary folder: a private one of our own.
        std::string pattern = (fs::path(variable(environment, "TMPDIR").value_or("/tmp")) / "zorvane-XXXXXX").string();
        folder = ::mkdtemp(pattern.data()) ? fs::path(pattern) : folder;
    }
    removeAbandoned(folder);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::string name = std::string(kInstancePrefix) + UUID().uuidString();
        path_ = folder / name;
        lockPath_ = folder / (name + std::string(kLockSuffix));
        lock_ = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (lock_ < 0) return;
        // Another process's sweep may have taken the lock between its creation and ours: then
        // the file we hold is no longer the one under its name.
        struct stat held {}, named {};
        if (::flock(lock_, LOCK_EX | LOCK_NB) == 0 && ::fstat(lock_, &held) == 0 && ::stat(lockPath_.c_str(), &named) == 0
            && held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
            ::mkdir(path_.c_str(), 0700);
            return;
        }
        ::close(lock_);
        lock_ = -1;
    }
}

TransportFolder::~TransportFolder()
{
    std::error_code ignored;
    fs::remove_all(path_, ignored);
    if (lock_ >= 0) {
        ::unlink(lockPath_.c_str());
        ::close(lock_);
    }
}

} // namespace zorvane
