#include "app/platform/linux/desktop/UpdateSteps.h"

#include "app/platform/linux/LinuxBundle.h"

#include <archive.h>
#include <archive_entry.h>
#include <sodium.h>

#include <cerrno>
#include <cstdio>
#include <deque>
#include <map>
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

std::vector<std::string> partsOf(const std::filesystem::path& path)
{
    std::vector<std::string> parts;
    for (const auto& part : path)
        if (!part.empty()) parts.push_back(part.string());
    return parts;
}

std::string keyOf(const std::vector<std::string>& parts)
{
    std::string key;
    for (const auto& part : parts) key += (key.empty() ? "" : "/") + part;
    return key;
}

// The archive's symbolic links, by their normal path inside the folder, with their targets.
using Links = std::map<std::string, std::string>;

// Follows `path` (inside the folder) the way the kernel will once the tree is on disk: every link on
// the way is replaced by its target, so "a/.." after a link to elsewhere climbs from elsewhere.
// False when the walk leaves the folder, meets an absolute target or goes round in circles.
bool resolvesInside(const std::filesystem::path& path, const Links& links)
{
    std::vector<std::string> where;
    std::deque<std::string> pending;
    for (auto& part : partsOf(path)) pending.push_back(std::move(part));
    int hops = 0;
    while (!pending.empty()) {
        std::string part = std::move(pending.front());
        pending.pop_front();
        if (part == ".") continue;
        if (part == "..") {
            if (where.empty()) return false;
            where.pop_back();
            continue;
        }
        where.push_back(std::move(part));
        const auto link = links.find(keyOf(where));
        if (link == links.end()) continue;
        if (++hops > 40 || link->second.empty() || link->second[0] == '/') return false; // 40: the kernel's own limit
        where.pop_back();
        const auto target = partsOf(link->second);
        pending.insert(pending.begin(), target.begin(), target.end());
    }
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
        Links links;
        std::vector<std::filesystem::path> hardlinks;
        while ((status = archive_read_next_header(reader.handle, &entry)) == ARCHIVE_OK) {
            if (cancelled) throw UpdateError(texts.cancelled);
            const char* name = archive_entry_pathname(entry);
            const auto path = insidePath(name ? name : "");
            if (!path) throw escapes;
            const mode_t type = archive_entry_filetype(entry);
            if (const char* hardlink = archive_entry_hardlink(entry)) {
                const auto target = insidePath(hardlink);
                if (!target) throw escapes;
                hardlinks.push_back(*target);
            } else if (type == AE_IFLNK) {
                const char* target = archive_entry_symlink(entry);
                links[keyOf(partsOf(*path))] = target ? target : "";
            } else if (type != AE_IFREG && type != AE_IFDIR) {
                throw UpdateError(texts.special);
            }
            total += static_cast<std::uint64_t>(std::max<la_int64_t>(archive_entry_size(entry), 0));
            if (++count > maxEntries || total > maxUnpackedBytes) throw UpdateError(texts.tooLarge);
        }
        if (status != ARCHIVE_EOF || count == 0) throw damaged;
        // Links are judged against the whole tree, not their text: a link through another link can
        // climb out where each text alone looks harmless.
        for (const auto& link : links)
            if (!resolvesInside(link.first, links)) throw escapes;
        for (const auto& target : hardlinks)
            if (!resolvesInside(target, links)) throw escapes;
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
    // The executable is only a launcher: without the program proper beside it the new copy would
    // install and then fail at its first start.
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(candidate.frameworksPath() / "libzorvane-desktop.so", ec)))
        throw notZorvane;

    const auto build = candidate.infoValue("CFBundleVersion");
    const auto shortVersion = candidate.infoValue("CFBundleShortVersionString");
    const bool sameVersion = item.version && build ? compareVersions(*item.version, *build) == 0
                                                   : shortVersion && compareVersions(item.displayVersion(), *shortVersion) == 0;
    if (!sameVersion) throw UpdateError("la versión del archivo descargado no coincide con la anunciada.");
    return *bundle;
}

void flushTree(const std::filesystem::path& root)
{
    // Files before the folders that name them; links are not followed (nothing outside is ours).
    const auto flush = [](const std::filesystem::path& path, int flags) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | flags);
        if (fd < 0 || ::fsync(fd) != 0) {
            const int errnum = errno;
            if (fd >= 0) ::close(fd);
            throw UpdateError(fileReason(errnum) + ".");
        }
        ::close(fd);
    };
    std::error_code ec;
    std::vector<std::filesystem::path> folders {root};
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec); !ec && it != std::filesystem::end(it); it.increment(ec)) {
        const auto type = it->symlink_status(ec).type();
        if (type == std::filesystem::file_type::regular) flush(it->path(), 0);
        if (type == std::filesystem::file_type::directory) folders.push_back(it->path());
    }
    if (ec) throw UpdateError(fileReason(ec.value()) + ".");
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) flush(*folder, O_DIRECTORY);
}

void swapBundles(const std::filesystem::path& newBundle, const std::filesystem::path& installedBundle)
{
    // Only an atomic exchange: two renames would leave a moment, and after a crash a state, with no
    // Zorvane at its place, and nothing left to start that could put it back.
    if (::renameat2(AT_FDCWD, newBundle.c_str(), AT_FDCWD, installedBundle.c_str(), RENAME_EXCHANGE) != 0) {
        if (errno == EINVAL || errno == ENOSYS)
            throw UpdateError("el disco donde está Zorvane no permite cambiar la copia de una vez; instala la versión "
                              "nueva a mano.");
        throw UpdateError(fileReason(errno) + ".");
    }
    // The exchange is done; a folder that cannot be flushed now only makes it less certain to
    // survive a power cut, and either bundle that survives is whole.
    for (const auto& folder : {installedBundle.parent_path(), newBundle.parent_path()}) {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) continue;
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace zorvane::linux_platform::UpdateSteps
