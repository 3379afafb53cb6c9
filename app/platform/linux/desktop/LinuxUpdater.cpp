#include "app/platform/linux/desktop/LinuxUpdater.h"

#include "app/platform/linux/LinuxBundle.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace zorvane::linux_platform {
namespace {

using namespace UpdateSteps;

constexpr std::uint64_t maxFeedBytes = 4ull << 20;
constexpr std::uint64_t maxArchiveBytes = 1ull << 30;
constexpr const char* failurePrefix = "No se pudo actualizar Zorvane: ";

std::string trimmedValue(const Bundle& bundle, const char* key)
{
    std::string text = bundle.infoValue(key).value_or("");
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

BundleVersion versionOf(const Bundle& bundle)
{
    return {bundle.infoValue("CFBundleVersion"), bundle.infoValue("CFBundleShortVersionString").value_or("0")};
}

std::string stagingPrefix(const std::filesystem::path& bundle) { return "." + bundle.filename().string() + ".update-"; }

// Leftovers of earlier updates: the previous bundle, or an install a crash or a kill interrupted.
// The installed bundle itself is never among them: it only ever changes by one atomic exchange.
void removeLeftovers(const std::filesystem::path& bundle)
{
    std::error_code ec;
    const std::string prefix = stagingPrefix(bundle);
    std::vector<std::filesystem::path> leftovers;
    for (const auto& entry : std::filesystem::directory_iterator(bundle.parent_path(), ec)) {
        if (entry.path().filename().string().starts_with(prefix) && entry.is_directory(ec) && !entry.is_symlink(ec))
            leftovers.push_back(entry.path());
    }
    for (const auto& path : leftovers) std::filesystem::remove_all(path, ec);
}

std::filesystem::path makeStagingFolder(const std::filesystem::path& bundle)
{
    std::string pattern = (bundle.parent_path() / (stagingPrefix(bundle) + "XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) throw UpdateError(fileReason(errno) + ".");
    return pattern;
}

// Whether the bundle's folder can exchange two folders in one step, tried on two empty ones. Where it
// cannot, an install could only fail, so nothing is installed without the user.
bool exchangesAtomically(const std::filesystem::path& bundle)
{
    std::error_code ec;
    std::filesystem::path first;
    try {
        first = makeStagingFolder(bundle);
        const std::filesystem::path second = makeStagingFolder(bundle);
        const bool exchanged = ::renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) == 0
            || (errno != EINVAL && errno != ENOSYS);
        std::filesystem::remove(second, ec);
        std::filesystem::remove(first, ec);
        return exchanged;
    } catch (const UpdateError&) {
        if (!first.empty()) std::filesystem::remove(first, ec);
        return true; // a folder we may not write to is told apart by allowsAutomaticUpdates itself
    }
}

// A detached shell waits for this process to end, then starts the new program.
void relaunchWhenGone(const std::string& program)
{
    const std::string pid = std::to_string(::getpid());
    const char* argv[] = {"/bin/sh", "-c", "while kill -0 \"$1\" 2>/dev/null; do sleep 0.2; done; exec \"$2\"",
        "zorvane-restart", pid.c_str(), program.c_str(), nullptr};
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t child = 0;
    posix_spawn(&child, "/bin/sh", nullptr, &attributes, const_cast<char* const*>(argv), environ);
    posix_spawnattr_destroy(&attributes);
}

} // namespace

std::shared_ptr<LinuxUpdater> LinuxUpdater::create(LinuxUpdaterOptions options)
{
    return std::shared_ptr<LinuxUpdater>(new LinuxUpdater(std::move(options)));
}

LinuxUpdater::LinuxUpdater(LinuxUpdaterOptions options) : options_(std::move(options))
{
    static const bool curlReady = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)curlReady;
    if (!options_.relaunchAfterExit) options_.relaunchAfterExit = relaunchWhenGone;
    feedURL_ = trimmedValue(*options_.bundle, "SUFeedURL");
    publicKey_ = trimmedValue(*options_.bundle, "SUPublicEDKey");
    identifier_ = options_.bundle->infoValue("CFBundleIdentifier").value_or("com.quenvar.zorvane");
    installed_ = versionOf(*options_.bundle);
    options_.defaults->registerDefaults({{automaticChecksKey, true}, {automaticDownloadsKey, false}});
}

LinuxUpdater::~LinuxUpdater()
{
    cancelled_->store(true);
    if (worker_.joinable()) worker_.join();
}

void LinuxUpdater::remember(const std::string& key, PreferenceValue value)
{
    // A preferences file that cannot be written keeps the value for this run.
    try {
        if (auto* b = std::get_if<bool>(&value)) options_.defaults->setBool(key, *b);
        if (auto* d = std::get_if<double>(&value)) options_.defaults->setDouble(key, *d);
    } catch (const std::system_error&) {
    }
}

void LinuxUpdater::start()
{
    if (started_) return;
    started_ = true;
    busy_ = true;
    auto weak = weak_from_this();
    auto queue = options_.mainQueue;
    runOnWorker([weak, queue, bundle = options_.bundle->bundlePath()](const std::atomic<bool>&) {
        removeLeftovers(bundle);
        const bool exchanges = exchangesAtomically(bundle);
        queue->post([weak, exchanges] {
            if (auto self = weak.lock()) {
                self->busy_ = false;
                self->exchanges_ = exchanges;
            }
        });
    });
    scheduleAutomaticCheck();
}

bool LinuxUpdater::automaticallyChecksForUpdates() { return options_.defaults->boolForKey(automaticChecksKey); }

void LinuxUpdater::setAutomaticallyChecksForUpdates(bool value)
{
    remember(automaticChecksKey, value);
    scheduleAutomaticCheck();
}

bool LinuxUpdater::automaticallyDownloadsUpdates() { return options_.defaults->boolForKey(automaticDownloadsKey); }

void LinuxUpdater::setAutomaticallyDownloadsUpdates(bool value) { remember(automaticDownloadsKey, value); }

bool LinuxUpdater::allowsAutomaticUpdates()
{
    const auto bundle = options_.bundle->bundlePath();
    return exchanges_ && ::access(bundle.parent_path().c_str(), W_OK) == 0 && ::access(bundle.c_str(), W_OK) == 0;
}

void LinuxUpdater::scheduleAutomaticCheck()
{
    const std::uint64_t generation = ++scheduleGeneration_;
    if (!started_ || !automaticallyChecksForUpdates()) return;
    const auto last = options_.defaults->objectForKey(lastCheckTimeKey);
    const double* lastTime = last ? std::get_if<double>(&*last) : nullptr;
    const double due = lastTime ? *lastTime + checkInterval - options_.clock->now() : 0;
    const double delay = std::clamp(due, options_.firstCheckDelay, checkInterval);
    auto weak = weak_from_this();
    options_.mainQueue->postAfter(delay, [weak, generation] {
        auto self = weak.lock();
        if (!self || generation != self->scheduleGeneration_ || !self->automaticallyChecksForUpdates()) return;
        if (self->busy_) {
            self->scheduleAutomaticCheck(); // the user's own check or an install is running
            return;
        }
        self->check(false);
    });
}

void LinuxUpdater::runOnWorker(std::function<void(const std::atomic<bool>& cancelled)> job)
{
    // Jobs run one at a time (busy_ guards it), so the previous thread has finished or is finishing.
    if (worker_.joinable()) worker_.join();
    worker_ = std::thread([cancelled = cancelled_, job = std::move(job)] { job(*cancelled); });
}

void LinuxUpdater::check(bool userInitiated)
{
    if (!started_ || busy_) return;
    busy_ = true;
    ++scheduleGeneration_; // the next automatic check is planned when this one ends
    remember(lastCheckTimeKey, options_.clock->now());
    auto weak = weak_from_this();
    runOnWorker([weak, queue = options_.mainQueue, feed = feedURL_, installed = installed_, userInitiated](
                    const std::atomic<bool>& cancelled) {
        std::optional<AppcastItem> item;
        std::optional<std::string> failure;
        try {
            item = newestAbove(parseAppcast(download(feed, maxFeedBytes, cancelled)), installed);
        } catch (const std::exception& error) {
            failure = describe(error);
        }
        queue->post([weak, userInitiated, item = std::move(item), failure = std::move(failure)]() mutable {
            if (auto self = weak.lock()) self->checkFinished(userInitiated, std::move(item), std::move(failure));
        });
    });
}

void LinuxUpdater::checkFinished(bool userInitiated, std::optional<AppcastItem> item, std::optional<std::string> failure)
{
    if (failure || !item) {
        busy_ = false;
        // Automatic checks stay silent when the network is away or nothing is new.
        if (userInitiated && driver()) {
            if (failure) {
                driver()->showFailure(failurePrefix + *failure);
            } else {
                driver()->showUpToDate(installed_.shortVersion);
            }
        }
        scheduleAutomaticCheck();
        return;
    }
    if (!userInitiated && automaticallyDownloadsUpdates() && allowsAutomaticUpdates()) {
        install(std::move(*item));
        return;
    }
    if (!driver()) {
        busy_ = false;
        scheduleAutomaticCheck();
        return;
    }
    auto weak = weak_from_this();
    const std::string version = item->displayVersion();
    driver()->showUpdateFound(version, installed_.shortVersion, [weak, item = std::move(*item)](bool accepted) {
        auto self = weak.lock();
        if (!self) return;
        if (accepted) {
            self->install(item);
        } else {
            self->busy_ = false;
            self->scheduleAutomaticCheck();
        }
    });
}

void LinuxUpdater::install(AppcastItem item)
{
    busy_ = true;
    auto weak = weak_from_this();
    runOnWorker([weak, queue = options_.mainQueue, item = std::move(item), bundle = options_.bundle->bundlePath(),
                    key = publicKey_, identifier = identifier_, stopAfter = options_.stopAfter](const std::atomic<bool>& cancelled) {
        struct Killed {};
        const auto reached = [&](InstallStep step) {
            if (stopAfter && stopAfter(step)) throw Killed {};
        };
        std::optional<std::string> failure;
        std::filesystem::path staging;
        try {
            staging = makeStagingFolder(bundle);
            reached(InstallStep::staged);
            const std::filesystem::path archive = staging / "download";
            downloadToFile(item.url, archive, item.length, maxArchiveBytes, cancelled);
            reached(InstallStep::downloaded);
            // Nothing reads the download before its signature holds.
            verifySignature(archive, item.edSignature, key);
            reached(InstallStep::verified);
            std::filesystem::create_directory(staging / "unpacked");
            unpackArchive(archive, staging / "unpacked", cancelled);
            std::filesystem::remove(archive);
            reached(InstallStep::unpacked);
            const std::filesystem::path unpacked = checkUnpackedBundle(staging / "unpacked", item, identifier);
            reached(InstallStep::checked);
            // Without this a power cut soon after the exchange can leave the new bundle's files empty.
            flushTree(staging);
            reached(InstallStep::flushed);
            if (cancelled) throw UpdateError("se canceló la actualización.");
            swapBundles(unpacked, bundle);
            reached(InstallStep::swapped);
        } catch (const Killed&) {
            queue->post([weak] {
                if (auto self = weak.lock()) self->busy_ = false;
            });
            return;
        } catch (const std::exception& error) {
            failure = describe(error);
            std::error_code ignored;
            if (!staging.empty()) std::filesystem::remove_all(staging, ignored);
        }
        queue->post([weak, version = item.displayVersion(), failure = std::move(failure)] {
            if (auto self = weak.lock()) self->installFinished(version, failure);
        });
    });
}

void LinuxUpdater::installFinished(const std::string& version, std::optional<std::string> failure)
{
    busy_ = false;
    scheduleAutomaticCheck();
    if (failure) {
        if (driver()) driver()->showFailure(failurePrefix + *failure);
        return;
    }
    const LinuxBundle installed(options_.bundle->bundlePath());
    installed_ = versionOf(installed);
    if (!driver()) return;
    const std::string program
        = (installed.executablesPath() / installed.infoValue("CFBundleExecutable").value_or("Zorvane")).string();
    auto weak = weak_from_this();
    driver()->showReadyToRestart(version, [weak, program](bool restartNow) {
        auto self = weak.lock();
        if (!self || !restartNow) return;
        self->options_.relaunchAfterExit(program);
        if (self->options_.quitApplication) self->options_.quitApplication();
    });
}

} // namespace zorvane::linux_platform
