#include "app/platform/linux/speech/SpeechModelDownloads.h"

#include "app/platform/linux/desktop/UpdateSteps.h"
#include "app/platform/linux/speech/VoskRecognizer.h"

#include "app/platform/linux/DownloadOptions.h"

#include <curl/curl.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

namespace zorvane::linux_platform {

namespace fs = std::filesystem;
using UpdateSteps::fileReason;

namespace {

const char* const cancelledText = "se canceló la descarga.";
const char* const notSecure = "la dirección del modelo de voz no es segura (hace falta HTTPS).";
const char* const wrongSize = "el archivo descargado no tiene el tamaño que anuncia su publicador.";

std::string lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

struct Transfer {
    CURL* handle = nullptr;
    std::FILE* file = nullptr;
    std::uint64_t offset = 0;   // what the file held when this transfer began
    std::uint64_t received = 0; // what this transfer wrote
    std::uint64_t expected = 0;
    std::optional<std::uint64_t> rangeStart; // where a partial answer's bytes start
    bool started = false;
    std::optional<std::string> failure;
    const std::atomic<bool>* cancelled = nullptr;
    const SpeechModelDownloads::ProgressHandler* progress = nullptr;
    std::chrono::steady_clock::time_point lastReport {};

    void report(bool always)
    {
        const auto now = std::chrono::steady_clock::now();
        if (!*progress || (!always && now - lastReport < std::chrono::milliseconds(100))) return;
        lastReport = now;
        (*progress)({offset + received, expected, false});
    }
};

std::size_t header(char* data, std::size_t size, std::size_t count, void* context)
{
    auto& transfer = *static_cast<Transfer*>(context);
    const std::string line = lowercase(std::string(data, size * count));
    // Every answer of a chain of redirects starts with its status line.
    if (line.rfind("http/", 0) == 0) transfer.rangeStart.reset();
    static constexpr std::string_view name = "content-range:";
    if (line.rfind(name, 0) == 0) {
        // "Content-Range: bytes 100-199/200"
        const std::size_t at = line.find_first_of("0123456789", name.size());
        std::uint64_t start = 0;
        if (at != std::string::npos && std::from_chars(line.data() + at, line.data() + line.size(), start).ec == std::errc())
            transfer.rangeStart = start;
    }
    return size * count;
}

std::size_t receive(char* data, std::size_t size, std::size_t count, void* context)
{
    auto& transfer = *static_cast<Transfer*>(context);
    const std::size_t bytes = size * count;
    if (!transfer.started) {
        transfer.started = true;
        long code = 0;
        curl_easy_getinfo(transfer.handle, CURLINFO_RESPONSE_CODE, &code);
        if (transfer.offset > 0 && code != 206) {
            // The server sends the whole file instead of the rest: start over.
            if (::ftruncate(::fileno(transfer.file), 0) != 0 || std::fseek(transfer.file, 0, SEEK_SET) != 0) {
                transfer.failure = fileReason(errno) + ".";
                return 0;
            }
            transfer.offset = 0;
        } else if (transfer.offset > 0 && transfer.rangeStart != transfer.offset) {
            transfer.failure = "el servidor de modelos no continuó la descarga donde se había quedado.";
            return 0;
        }
        curl_off_t length = -1;
        curl_easy_getinfo(transfer.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (length >= 0 && transfer.offset + static_cast<std::uint64_t>(length) != transfer.expected) {
            transfer.failure = wrongSize;
            return 0;
        }
    }
    if (transfer.offset + transfer.received + bytes > transfer.expected) {
        transfer.failure = wrongSize;
        return 0;
    }
    if (std::fwrite(data, 1, bytes, transfer.file) != bytes) {
        transfer.failure = fileReason(errno) + ".";
        return 0;
    }
    transfer.received += bytes;
    transfer.report(false);
    return bytes;
}

int onProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto& transfer = *static_cast<Transfer*>(context);
    if (transfer.cancelled->load()) return 1;
    // Also called while nothing arrives: the last bytes of a burst are reported here.
    transfer.report(false);
    return 0;
}

std::string hexDigest(const fs::path& file, const std::string& name, const std::atomic<bool>& cancelled)
{
    const EVP_MD* md = EVP_get_digestbyname(name.c_str());
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!md || !context || EVP_DigestInit_ex(context.get(), md, nullptr) != 1)
        throw SpeechModelError("no se pudo comprobar el archivo descargado.");
    std::ifstream in(file, std::ios::binary);
    std::vector<char> buffer(1 << 16);
    while (in && !cancelled) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (cancelled) throw SpeechModelError(cancelledText);
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), value, &length);
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) hex += {digits[value[i] >> 4], digits[value[i] & 15]};
    return hex;
}

[[noreturn]] void failTransfer(CURLcode result, CURL* handle)
{
    switch (result) {
    case CURLE_HTTP_RETURNED_ERROR: {
        long code = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &code);
        throw SpeechModelError("el servidor de modelos respondió con el error " + std::to_string(code) + ".");
    }
    // Cut off on the way: what arrived is kept for the next try.
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_GOT_NOTHING: throw SpeechModelError("la conexión con el servidor de modelos se cortó.", true);
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT: throw SpeechModelError("no hay conexión con el servidor de modelos.", true);
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE: throw SpeechModelError("no se pudo comprobar la identidad del servidor de modelos.");
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_TOO_MANY_REDIRECTS: throw SpeechModelError(notSecure);
    default: throw SpeechModelError(std::string("falló la descarga (") + curl_easy_strerror(result) + ").");
    }
}

} // namespace

SpeechModelDownloads::SpeechModelDownloads(fs::path modelsFolder, bool allowPlainHttpToLoopback)
    : modelsFolder_(std::move(modelsFolder))
    , allowPlainHttpToLoopback_(allowPlainHttpToLoopback)
{
}

bool SpeechModelDownloads::isAllowedURL(const std::string& url) const
{
    std::unique_ptr<CURLU, void (*)(CURLU*)> parsed(curl_url(), curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return false;
    char* scheme = nullptr;
    curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0);
    const bool https = scheme && std::string(scheme) == "https";
    curl_free(scheme);
    // The updater's rule lets plain HTTP reach this machine only; here a test must ask for it too.
    return UpdateSteps::isAllowedURL(url) && (https || allowPlainHttpToLoopback_);
}

fs::path SpeechModelDownloads::partialFile(const SpeechModelEntry& entry) const
{
    return modelsFolder_ / ".downloads" / (entry.name + ".part");
}

std::uint64_t SpeechModelDownloads::partialBytes(const SpeechModelEntry& entry) const
{
    std::error_code error;
    const auto size = fs::file_size(partialFile(entry), error);
    return error ? 0 : size;
}

void SpeechModelDownloads::install(const SpeechModelEntry& entry, const std::atomic<bool>& cancelled, const ProgressHandler& progress,
    const std::atomic<bool>* keepOnCancel) const
{
    try {
        fetch(entry, cancelled, progress);
        if (progress) progress({entry.bytes, entry.bytes, true});
        check(entry, cancelled);
        unpackAndPlace(entry, cancelled);
    } catch (const SpeechModelError& error) {
        if (cancelled) {
            if (keepOnCancel && *keepOnCancel) fs::remove_all(modelsFolder_ / (".staging-" + entry.language));
            else discard(entry);
            throw SpeechModelError(cancelledText);
        }
        if (!error.resumable() || partialBytes(entry) == 0) discard(entry);
        throw;
    } catch (const fs::filesystem_error& error) {
        discard(entry);
        throw SpeechModelError(fileReason(error.code().value()) + ".");
    }
    discard(entry); // the archive, now unpacked
}

void SpeechModelDownloads::fetch(const SpeechModelEntry& entry, const std::atomic<bool>& cancelled, const ProgressHandler& progress) const
{
    if (!isAllowedURL(entry.url)) throw SpeechModelError(notSecure);
    const fs::path part = partialFile(entry);
    fs::create_directories(part.parent_path());
    std::uint64_t offset = partialBytes(entry);
    if (offset == entry.bytes) return; // complete already; the checks decide whether it is good
    if (offset > entry.bytes) offset = 0;

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(part.c_str(), offset > 0 ? "ab" : "wb"), std::fclose);
    if (!file) throw SpeechModelError(fileReason(errno) + ".");
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) throw SpeechModelError("no se pudo preparar la descarga.");
    CURL* handle = curl.get();
    Transfer transfer;
    transfer.handle = handle;
    transfer.file = file.get();
    transfer.offset = offset;
    transfer.expected = entry.bytes;
    transfer.cancelled = &cancelled;
    transfer.progress = &progress;
    // What came before a stall is kept for a resume.
    setDownloadOptions(handle, entry.url);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, header);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, receive);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    const std::string range = std::to_string(offset) + "-";
    if (offset > 0) curl_easy_setopt(handle, CURLOPT_RANGE, range.c_str());
    transfer.report(true);
    const CURLcode result = curl_easy_perform(handle);
    const bool written = std::fflush(file.get()) == 0;
    const int writeError = errno;
    file.reset();

    if (cancelled) throw SpeechModelError(cancelledText);
    if (transfer.failure) throw SpeechModelError(*transfer.failure);
    if (result == CURLE_HTTP_RETURNED_ERROR && offset > 0) {
        long code = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &code);
        if (code == 416) { // the server has no such range: what was kept is not of this file
            fs::remove(part);
            fetch(entry, cancelled, progress);
            return;
        }
    }
    if (result != CURLE_OK) failTransfer(result, handle);
    if (!written) throw SpeechModelError(fileReason(writeError) + ".");
    transfer.report(true);
}

void SpeechModelDownloads::check(const SpeechModelEntry& entry, const std::atomic<bool>& cancelled) const
{
    const std::uint64_t size = partialBytes(entry);
    // A server that does not say the length can end early without an error: the rest comes next time.
    if (size < entry.bytes) throw SpeechModelError("la conexión con el servidor de modelos se cortó.", true);
    if (size != entry.bytes) throw SpeechModelError(wrongSize);
    if (!entry.digest.empty() && hexDigest(partialFile(entry), entry.digest, cancelled) != lowercase(entry.digestHex))
        throw SpeechModelError("el archivo descargado no es el que se publicó (su suma de comprobación no coincide).");
}

void SpeechModelDownloads::unpackAndPlace(const SpeechModelEntry& entry, const std::atomic<bool>& cancelled) const
{
    const fs::path staging = modelsFolder_ / (".staging-" + entry.language);
    fs::remove_all(staging);
    fs::create_directories(staging / "unpacked");
    UpdateSteps::ArchiveTexts texts;
    texts.escapes = "el archivo del modelo de voz contiene rutas que salen de su carpeta.";
    texts.damaged = "el archivo del modelo de voz está dañado o incompleto.";
    texts.special = "el archivo del modelo de voz contiene archivos especiales.";
    texts.tooLarge = "el modelo de voz es demasiado grande.";
    texts.cancelled = cancelledText;
    try {
        UpdateSteps::unpackArchive(partialFile(entry), staging / "unpacked", cancelled, texts);
    } catch (const UpdateSteps::UpdateError& error) {
        throw SpeechModelError(error.localizedDescription());
    }

    const Vosk::ModelLookup lookup = Vosk::findModel(staging / "unpacked");
    bool complete = lookup.model.has_value();
    for (const std::string& file : entry.files) complete = complete && fs::is_regular_file(*lookup.model / file);
    if (!complete) throw SpeechModelError("el archivo descargado no contiene un modelo de voz válido.");
    if (cancelled) throw SpeechModelError(cancelledText);

    // Into place with renames, the old folder going last: a model is never half there.
    fs::create_directory(staging / "language");
    fs::rename(*lookup.model, staging / "language" / entry.name);
    const fs::path target = modelsFolder_ / entry.language;
    if (fs::exists(fs::symlink_status(target))) fs::rename(target, staging / "previous");
    fs::rename(staging / "language", target);
}

void SpeechModelDownloads::discard(const SpeechModelEntry& entry) const
{
    std::error_code error;
    fs::remove(partialFile(entry), error);
    fs::remove(partialFile(entry).parent_path(), error); // only when empty
    fs::remove_all(modelsFolder_ / (".staging-" + entry.language), error);
}

void SpeechModelDownloads::remove(const std::string& language, const SpeechModelEntry* entry) const
{
    std::error_code error;
    fs::remove_all(modelsFolder_ / language, error);
    if (entry) discard(*entry);
    if (error) throw SpeechModelError(fileReason(error.value()) + ".");
}

} // namespace zorvane::linux_platform
