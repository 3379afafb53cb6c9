#include "app/platform/linux/desktop/UpdateSteps.h"

#include "app/platform/linux/LinuxBundle.h"

#include <archive.h>
#include <archive_entry.h>
#include <sodium.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorvane::linux_platform::UpdateSteps {
namespace {

constexpr std::uint64_t maxUnpackedBytes = 2ull << 30;
constexpr std::size_t maxEntries = 200000;

// A path inside the archive, made relative and normal; none when it would leave the folder.
std::optional<std::filesystem::path> insidePath(const std::string& name)
{
    if (name.empty() || name[0] == '/') return std::nullopt;
    const std::filesystem::path path = std::filesystem::path(name).lexically_normal();
    for (const auto& part : path)
        if (part == "..") return std::nullopt;
    if (path.empty() || path == ".") return std::nullopt;
    return path;
}

// A link's target, relative to the link's folder, must stay inside the archive's folder.
bool linkStaysInside(const std::filesystem::path& link, const std::string& target)
{
    if (target.empty() || target[0] == '/') return false;
    const std::filesystem::path resolved = (link.parent_path() / target).lexically_normal();
    for (const auto& part : resolved)
        if (part == "..") return false;
    return true;
}

struct ArchiveReader {
    archive* handle = archive_read_new();
    ~ArchiveReader() { archive_read_free(handle); }
};
struct ArchiveWriter {
    archive* handle = archive_write_disk_new();
    ~ArchiveWriter() { archive_write_free(handle); }
};

[[noreturn]] void failWriting(archive* writer, const ArchiveTexts& texts)
{
    const int errnum = archive_errno(writer);
    if (errnum == ENOSPC || errnum == EDQUOT || errnum == EROFS || errnum == EACCES || errnum == EPERM)
        throw UpdateError(fileReason(errnum) + ".");
    throw UpdateError(texts.damaged);
}

} // namespace

std::string fileReason(int errnum)
{
    switch (errnum) {
    case ENOSPC:
    case EDQUOT: return "no queda espacio en el disco";
    case EACCES:
    case EPERM: return "no hay permiso para escribir en la carpeta de Zorvane";
    case EROFS: return "la carpeta de Zorvane está en un disco de solo lectura";
    default: return "no se pudo escribir en el disco (error " + std::to_string(errnum) + ")";
    }
}

void verifySignature(const std::filesystem::path& file, const std::string& signatureBase64, const std::string& publicKeyBase64)
{
    if (sodium_init() < 0) throw UpdateError("no se pudo comprobar la firma de la actualización.");
    unsigned char key[crypto_sign_PUBLICKEYBYTES];
    std::size_t keyLength = 0;
    if (sodium_base642bin(key, sizeof key, publicKeyBase64.data(), publicKeyBase64.size(), " \n\r\t", &keyLength, nullptr,
            sodium_base64_VARIANT_ORIGINAL)
            != 0
        || keyLength != sizeof key)
        throw UpdateError("la clave pública de las actualizaciones de esta copia no es válida.");
    if (signatureBase64.empty()) throw UpdateError("la actualización no está firmada.");
    unsigned char signature[crypto_sign_BYTES];
    std::size_t signatureLength = 0;
    if (sodium_base642bin(signature, sizeof signature, signatureBase64.data(), signatureBase64.size(), " \n\r\t",
            &signatureLength, nullptr, sodium_base64_VARIANT_ORIGINAL)
            != 0
        || signatureLength != sizeof signature)
        throw UpdateError("la firma de la actualización no es válida.");

    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw UpdateError("la descarga está incompleta.");
    struct stat info {};
    ::fstat(fd, &info);
    const auto size = static_cast<std::size_t>(info.st_size);
    void* data = size > 0 ? ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0) : nullptr;
    ::close(fd);
    if (size > 0 && data == MAP_FAILED) throw UpdateError("no se pudo leer la descarga.");
    static const unsigned char empty = 0;
    const bool valid = crypto_sign_verify_detached(
                           signature, data ? static_cast<const unsigned char*>(data) : &empty, size, key)
        == 0;
    if (data) ::munmap(data, size);
    if (!valid) throw UpdateError("la firma de la actualización no es válida.");
}

void unpackArchive(const std::filesystem::path& archivePath, const std::filesystem::path& folder, const std::atomic<bool>& cancelled,
    const ArchiveTexts& texts)
{
    const UpdateError escapes(texts.escapes);
    const UpdateError damaged(texts.damaged);
    // First pass: read every header and refuse the archive before a byte reaches the disk.
    {
        ArchiveReader reader;
        archive_read_support_filter_all(reader.handle);
        archive_read_support_format_tar(reader.handle);
        archive_read_support_format_gnutar(reader.handle);
        archive_read_support_format_zip(reader.handle);
        if (archive_read_open_filename(reader.handle, archivePath.c_str(), 1 << 16) != ARCHIVE_OK) throw damaged;
        archive_entry* entry = nullptr;
        std::size_t count = 0;
        std::uint64_t total = 0;
        int status = ARCHIVE_OK;
        while ((status = archive_read_next_header(reader.handle, &entry)) == ARCHIVE_OK) {
            if (cancelled) throw UpdateError(texts.cancelled);
            const char* name = archive_entry_pathname(entry);
            const auto path = insidePath(name ? name : "");
            if (!path) throw escapes;
            const mode_t type = archive_entry_filetype(entry);
            if (const char* hardlink = archive_entry_hardlink(entry)) {
                if (!insidePath(hardlink)) throw escapes;
            } else if (type == AE_IFLNK) {
                const char* target = archive_entry_symlink(entry);
                if (!linkStaysInside(*path, target ? target : "")) throw escapes;
            } else if (type != AE_IFREG && type != AE_IFDIR) {
                throw UpdateError(texts.special);
            }
            total += static_cast<std::uint64_t>(std::max<la_int64_t>(archive_entry_size(entry), 0));
            if (++count > maxEntries || total > maxUnpackedBytes) throw UpdateError(texts.tooLarge);
        }
        if (status != ARCHIVE_EOF || count == 0) throw damaged;
    }

    // Second pass: write, with libarchive's own guards on as well (its guard against absolute paths
    // stays off: every path is made absolute below the folder here, after the check above).
    ArchiveReader reader;
    archive_read_support_filter_all(reader.handle);
    archive_read_support_format_tar(reader.handle);
    archive_read_support_format_gnutar(reader.handle);
    archive_read_support_format_zip(reader.handle);
    ArchiveWriter writer;
    archive_write_disk_set_options(writer.handle,
        ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT
            | ARCHIVE_EXTRACT_NO_OVERWRITE);
    if (archive_read_open_filename(reader.handle, archivePath.c_str(), 1 << 16) != ARCHIVE_OK) throw damaged;
    archive_entry* entry = nullptr;
    int status = ARCHIVE_OK;
    while ((status = archive_read_next_header(reader.handle, &entry)) == ARCHIVE_OK) {
        if (cancelled) throw UpdateError(texts.cancelled);
        const auto path = insidePath(archive_entry_pathname(entry));
        if (!path) throw escapes;
        archive_entry_set_pathname(entry, (folder / *path).c_str());
        if (const char* hardlink = archive_entry_hardlink(entry)) {
            const auto target = insidePath(hardlink);
            if (!target) throw escapes;
            archive_entry_set_hardlink(entry, (folder / *target).c_str());
        }
        if (archive_write_header(writer.handle, entry) != ARCHIVE_OK) failWriting(writer.handle, texts);
        const void* block = nullptr;
        std::size_t size = 0;
        la_int64_t offset = 0;
        int read = ARCHIVE_OK;
        while ((read = archive_read_data_block(reader.handle, &block, &size, &offset)) == ARCHIVE_OK) {
            if (archive_write_data_block(writer.handle, block, size, offset) != ARCHIVE_OK) failWriting(writer.handle, texts);
        }
        if (read != ARCHIVE_EOF) throw damaged;
        if (archive_write_finish_entry(writer.handle) != ARCHIVE_OK) failWriting(writer.handle, texts);
    }
    if (status != ARCHIVE_EOF) throw damaged;
    if (archive_write_close(writer.handle) != ARCHIVE_OK) failWriting(writer.handle, texts);
}

std::filesystem::path checkUnpackedBundle(
    const std::filesystem::path& folder, const AppcastItem& item, const std::string& expectedIdentifier)
{
    const UpdateError notZorvane("el archivo descargado no contiene una copia válida de Zorvane.");
    std::optional<std::filesystem::path> bundle;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (bundle || !entry.is_directory() || entry.is_symlink() || entry.path().extension() != ".app") throw notZorvane;
        bundle = entry.path();
    }
    if (ec || !bundle) throw notZorvane;
    const LinuxBundle candidate(*bundle);
    const auto identifier = candidate.infoValue("CFBundleIdentifier");
    const auto executable = candidate.infoValue("CFBundleExecutable");
    if (!identifier || *identifier != expectedIdentifier || !executable || executable->empty()
        || executable->find('/') != std::string::npos)
        throw notZorvane;
    const std::filesystem::path program = candidate.executablesPath() / *executable;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(program, ec)) || ::access(program.c_str(), X_OK) != 0)
        throw notZorvane;

    const auto build = candidate.infoValue("CFBundleVersion");
    const auto shortVersion = candidate.infoValue("CFBundleShortVersionString");
    const bool sameVersion = item.version && build ? compareVersions(*item.version, *build) == 0
                                                   : shortVersion && compareVersions(item.displayVersion(), *shortVersion) == 0;
    if (!sameVersion) throw UpdateError("la versión del archivo descargado no coincide con la anunciada.");
    return *bundle;
}

void swapBundles(const std::filesystem::path& newBundle, const std::filesystem::path& installedBundle)
{
    if (::renameat2(AT_FDCWD, newBundle.c_str(), AT_FDCWD, installedBundle.c_str(), RENAME_EXCHANGE) == 0) return;
    if (errno != EINVAL && errno != ENOSYS) throw UpdateError(fileReason(errno) + ".");
    // A file system without atomic exchange: two renames, undone if the second one fails.
    const std::filesystem::path aside = newBundle.parent_path() / ("previous-" + newBundle.filename().string());
    if (::rename(installedBundle.c_str(), aside.c_str()) != 0) throw UpdateError(fileReason(errno) + ".");
    if (::rename(newBundle.c_str(), installedBundle.c_str()) != 0) {
        const int errnum = errno;
        ::rename(aside.c_str(), installedBundle.c_str());
        throw UpdateError(fileReason(errnum) + ".");
    }
}

} // namespace zorvane::linux_platform::UpdateSteps
