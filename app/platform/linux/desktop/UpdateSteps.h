#pragma once

#include "app/core/LocalizedError.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The steps of one software update, each usable (and testable) alone: the feed, the download,
// the signature, the archive, the bundle check and the swap. Every step throws UpdateError with
// the Spanish reason the user is shown; nothing here touches the installed bundle but the swap.
namespace zorvane::linux_platform::UpdateSteps {

class UpdateError : public LocalizedError {
public:
    explicit UpdateError(std::string reason) : reason_(std::move(reason)) {}
    std::string localizedDescription() const override { return reason_; }

private:
    std::string reason_;
};

// One release in the feed.
struct AppcastItem {
    std::optional<std::string> version;      // build version
    std::optional<std::string> shortVersion; // the version the user sees
    std::string url;
    std::optional<std::uint64_t> length;
    std::string edSignature; // Base64 of the Ed25519 signature of the archive
    std::string displayVersion() const { return shortVersion ? *shortVersion : version.value_or(""); }
};

// A version of an installed or unpacked bundle.
struct BundleVersion {
    std::optional<std::string> build; // CFBundleVersion
    std::string shortVersion;         // CFBundleShortVersionString
};

// Numeric components compare as numbers, others as text; missing components count as 0.
int compareVersions(const std::string& a, const std::string& b);
// Whether the item is newer than the installed bundle: by build versions when both have one.
bool isNewer(const AppcastItem& item, const BundleVersion& installed);
// The newest item above the installed version; none when there is none.
std::optional<AppcastItem> newestAbove(const std::vector<AppcastItem>& items, const BundleVersion& installed);

// HTTPS anywhere; plain HTTP only to this machine (127.0.0.1, ::1, localhost).
bool isAllowedURL(const std::string& url);
// Parses an RSS feed; items for another operating system are left out. Throws when it is no feed.
std::vector<AppcastItem> parseAppcast(const std::string& xml);

// GET into memory (at most `maxBytes`) or into a file. `cancelled` stops a transfer at once.
std::string download(const std::string& url, std::uint64_t maxBytes, const std::atomic<bool>& cancelled);
void downloadToFile(const std::string& url, const std::filesystem::path& file, std::optional<std::uint64_t> expectedLength,
    std::uint64_t maxBytes, const std::atomic<bool>& cancelled);

// Checks the Ed25519 signature (Base64) of the file with the public key (Base64).
void verifySignature(const std::filesystem::path& file, const std::string& signatureBase64, const std::string& publicKeyBase64);

// What unpackArchive's refusals say; the update's wording unless another archive is unpacked.
struct ArchiveTexts {
    std::string escapes = "el archivo de la actualización contiene rutas que salen de su carpeta.";
    std::string damaged = "el archivo de la actualización está dañado o incompleto.";
    std::string special = "el archivo de la actualización contiene archivos especiales.";
    std::string tooLarge = "la actualización es demasiado grande.";
    std::string cancelled = "se canceló la actualización.";
};

// Unpacks a tar (optionally compressed) or zip archive into `folder`, refusing absolute paths,
// "..", links that lead outside (followed through the archive's own links) and special files
// before anything is written.
void unpackArchive(const std::filesystem::path& archive, const std::filesystem::path& folder, const std::atomic<bool>& cancelled,
    const ArchiveTexts& texts = {});

// The one bundle unpacked into `folder`, checked to be a Zorvane bundle with the item's version and
// the same identifier as the installed one. Returns its path.
std::filesystem::path checkUnpackedBundle(
    const std::filesystem::path& folder, const AppcastItem& item, const std::string& expectedIdentifier);

// Writes every file and folder under `root`, and `root` itself, through to the disk, so that what
// is swapped in is whole after a power cut.
void flushTree(const std::filesystem::path& root);

// Puts `newBundle` where `installedBundle` is in one atomic exchange, then flushes both folders; the
// old bundle ends up at `newBundle`'s path, so it stays until it is cleaned away at the next start.
// Where the file system cannot exchange, nothing moves and the reason is thrown.
void swapBundles(const std::filesystem::path& newBundle, const std::filesystem::path& installedBundle);

// The points an install passes, in order. A process killed between two of them leaves beside the
// bundle only what the next start removes: before `swapped` the old bundle is in place, after it
// the new one, whole either way.
enum class InstallStep { staged, downloaded, verified, unpacked, checked, flushed, swapped };

// Spanish text for a file-system errno ("no queda espacio en el disco").
std::string fileReason(int errnum);

} // namespace zorvane::linux_platform::UpdateSteps
