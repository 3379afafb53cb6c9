#include "app/platform/linux/desktop/UpdateSteps.h"

#include "app/platform/linux/DownloadOptions.h"

#include <curl/curl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace zorvane::linux_platform::UpdateSteps {
namespace {

std::vector<std::string> components(const std::string& version)
{
    std::vector<std::string> parts;
    std::string current;
    for (char c : version) {
        if (c == '.' || c == '-' || c == '_' || c == '+') {
            parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    parts.push_back(current);
    return parts;
}

bool isNumber(const std::string& text)
{
    if (text.empty()) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

int compareNumbers(std::string a, std::string b)
{
    a.erase(0, std::min(a.find_first_not_of('0'), a.size()));
    b.erase(0, std::min(b.find_first_not_of('0'), b.size()));
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

std::string propertyText(xmlNodePtr node, const char* localName)
{
    for (xmlAttrPtr attribute = node->properties; attribute; attribute = attribute->next) {
        if (xmlStrcmp(attribute->name, reinterpret_cast<const xmlChar*>(localName)) != 0) continue;
        std::unique_ptr<xmlChar, void (*)(void*)> value(xmlNodeListGetString(node->doc, attribute->children, 1), xmlFree);
        return value ? reinterpret_cast<const char*>(value.get()) : "";
    }
    return {};
}

bool hasProperty(xmlNodePtr node, const char* localName)
{
    for (xmlAttrPtr attribute = node->properties; attribute; attribute = attribute->next)
        if (xmlStrcmp(attribute->name, reinterpret_cast<const xmlChar*>(localName)) == 0) return true;
    return false;
}

std::string trimmed(std::string text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string elementText(xmlNodePtr node)
{
    std::unique_ptr<xmlChar, void (*)(void*)> value(xmlNodeGetContent(node), xmlFree);
    return trimmed(value ? reinterpret_cast<const char*>(value.get()) : "");
}

bool named(xmlNodePtr node, const char* localName)
{
    return node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, reinterpret_cast<const xmlChar*>(localName)) == 0;
}

std::optional<std::string> nonEmpty(std::string text)
{
    text = trimmed(std::move(text));
    if (text.empty()) return std::nullopt;
    return text;
}

void quietParserErrors(void*, const char*, ...) {}

struct Transfer {
    std::string* memory = nullptr;
    std::FILE* file = nullptr;
    std::uint64_t received = 0;
    std::uint64_t maxBytes = 0;
    std::optional<std::string> failure;
    const std::atomic<bool>* cancelled = nullptr;
};

std::size_t receive(char* data, std::size_t size, std::size_t count, void* context)
{
    auto& transfer = *static_cast<Transfer*>(context);
    const std::size_t bytes = size * count;
    if (transfer.received + bytes > transfer.maxBytes) {
        transfer.failure = "la descarga es más grande de lo anunciado.";
        return 0;
    }
    transfer.received += bytes;
    if (transfer.memory) {
        transfer.memory->append(data, bytes);
    } else if (std::fwrite(data, 1, bytes, transfer.file) != bytes) {
        transfer.failure = fileReason(errno) + ".";
        return 0;
    }
    return bytes;
}

int progress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Transfer*>(context)->cancelled->load() ? 1 : 0;
}

void perform(const std::string& url, Transfer& transfer)
{
    if (!isAllowedURL(url)) throw UpdateError("la dirección de las actualizaciones no es segura (hace falta HTTPS).");
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) throw UpdateError("no se pudo preparar la descarga.");
    CURL* handle = curl.get();
    setDownloadOptions(handle, url);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, receive);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, progress);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    const CURLcode result = curl_easy_perform(handle);
    if (result == CURLE_OK) return;
    if (transfer.failure) throw UpdateError(*transfer.failure);
    switch (result) {
    case CURLE_ABORTED_BY_CALLBACK: throw UpdateError("se canceló la descarga.");
    case CURLE_HTTP_RETURNED_ERROR: {
        long code = 0;
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &code);
        throw UpdateError("el servidor de actualizaciones respondió con el error " + std::to_string(code) + ".");
    }
    case CURLE_PARTIAL_FILE: throw UpdateError("la descarga está incompleta.");
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING: throw UpdateError("no hay conexión con el servidor de actualizaciones.");
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE: throw UpdateError("no se pudo comprobar la identidad del servidor de actualizaciones.");
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_TOO_MANY_REDIRECTS: throw UpdateError("la dirección de las actualizaciones no es segura (hace falta HTTPS).");
    default: throw UpdateError(std::string("falló la descarga (") + curl_easy_strerror(result) + ").");
    }
}

} // namespace

int compareVersions(const std::string& a, const std::string& b)
{
    const auto left = components(a);
    const auto right = components(b);
    for (std::size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
        const std::string l = i < left.size() ? left[i] : "0";
        const std::string r = i < right.size() ? right[i] : "0";
        int order = 0;
        if (isNumber(l) && isNumber(r)) {
            order = compareNumbers(l, r);
        } else if (isNumber(l) != isNumber(r)) {
            // "1.0" is newer than "1.0-beta": a release beats a suffix.
            order = isNumber(l) ? 1 : -1;
        } else {
            order = l.compare(r) < 0 ? -1 : (l == r ? 0 : 1);
        }
        if (order != 0) return order;
    }
    return 0;
}

bool isNewer(const AppcastItem& item, const BundleVersion& installed)
{
    if (item.version && installed.build) return compareVersions(*item.version, *installed.build) > 0;
    return compareVersions(item.displayVersion(), installed.shortVersion) > 0;
}

std::optional<AppcastItem> newestAbove(const std::vector<AppcastItem>& items, const BundleVersion& installed)
{
    std::optional<AppcastItem> newest;
    for (const auto& item : items) {
        if (!isNewer(item, installed)) continue;
        if (!newest) {
            newest = item;
            continue;
        }
        const int order = item.version && newest->version ? compareVersions(*item.version, *newest->version)
                                                           : compareVersions(item.displayVersion(), newest->displayVersion());
        if (order > 0) newest = item;
    }
    return newest;
}

bool isAllowedURL(const std::string& url)
{
    std::unique_ptr<CURLU, void (*)(CURLU*)> parsed(curl_url(), curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return false;
    char* scheme = nullptr;
    char* host = nullptr;
    curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0);
    curl_url_get(parsed.get(), CURLUPART_HOST, &host, 0);
    const std::string s = scheme ? scheme : "";
    const std::string h = host ? host : "";
    curl_free(scheme);
    curl_free(host);
    if (s == "https") return !h.empty();
    return s == "http" && (h == "127.0.0.1" || h == "[::1]" || h == "localhost");
}

std::vector<AppcastItem> parseAppcast(const std::string& xml)
{
    static const bool quiet = [] {
        xmlInitParser();
        xmlSetGenericErrorFunc(nullptr, quietParserErrors);
        return true;
    }();
    (void)quiet;
    const UpdateError notAFeed("la lista de versiones del servidor no es válida.");
    if (xml.size() > static_cast<std::size_t>(INT32_MAX)) throw notAFeed;
    std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> doc(
        xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "appcast.xml", nullptr,
            XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
        xmlFreeDoc);
    if (!doc) throw notAFeed;
    xmlNodePtr root = xmlDocGetRootElement(doc.get());
    if (!root || !named(root, "rss")) throw notAFeed;
    xmlNodePtr channel = nullptr;
    for (xmlNodePtr node = root->children; node && !channel; node = node->next)
        if (named(node, "channel")) channel = node;
    if (!channel) throw notAFeed;

    std::vector<AppcastItem> items;
    for (xmlNodePtr node = channel->children; node; node = node->next) {
        if (!named(node, "item")) continue;
        AppcastItem item;
        bool hasEnclosure = false;
        bool otherSystem = false;
        for (xmlNodePtr child = node->children; child; child = child->next) {
            if (named(child, "version")) item.version = nonEmpty(elementText(child));
            if (named(child, "shortVersionString")) item.shortVersion = nonEmpty(elementText(child));
            if (!named(child, "enclosure") || hasEnclosure) continue;
            hasEnclosure = true;
            item.url = trimmed(propertyText(child, "url"));
            item.edSignature = trimmed(propertyText(child, "edSignature"));
            if (hasProperty(child, "os") && propertyText(child, "os") != "linux") otherSystem = true;
            if (!item.version) item.version = nonEmpty(propertyText(child, "version"));
            if (!item.shortVersion) item.shortVersion = nonEmpty(propertyText(child, "shortVersionString"));
            const std::string length = trimmed(propertyText(child, "length"));
            std::uint64_t value = 0;
            const auto [end, error] = std::from_chars(length.data(), length.data() + length.size(), value);
            if (error == std::errc() && end == length.data() + length.size() && !length.empty() && value > 0)
                item.length = value;
        }
        if (!hasEnclosure || otherSystem || item.url.empty() || (!item.version && !item.shortVersion)) continue;
        items.push_back(std::move(item));
    }
    return items;
}

std::string download(const std::string& url, std::uint64_t maxBytes, const std::atomic<bool>& cancelled)
{
    std::string body;
    Transfer transfer;
    transfer.memory = &body;
    transfer.maxBytes = maxBytes;
    transfer.cancelled = &cancelled;
    perform(url, transfer);
    return body;
}

void downloadToFile(const std::string& url, const std::filesystem::path& file, std::optional<std::uint64_t> expectedLength,
    std::uint64_t maxBytes, const std::atomic<bool>& cancelled)
{
    if (expectedLength && *expectedLength > maxBytes) throw UpdateError("la actualización es demasiado grande.");
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(file.c_str(), "wbe"), std::fclose);
    if (!out) throw UpdateError(fileReason(errno) + ".");
    Transfer transfer;
    transfer.file = out.get();
    transfer.maxBytes = expectedLength ? *expectedLength : maxBytes;
    transfer.cancelled = &cancelled;
    perform(url, transfer);
    if (std::fflush(out.get()) != 0 || ::fsync(fileno(out.get())) != 0) throw UpdateError(fileReason(errno) + ".");
    if (expectedLength && transfer.received != *expectedLength) throw UpdateError("la descarga está incompleta.");
}

} // namespace zorvane::linux_platform::UpdateSteps
