#include "app/platform/linux/desktop/DesktopEntryFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace zorvane::linux_platform::DesktopEntryFile {
namespace {

std::filesystem::path homeFolder()
{
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && home[0] ? home : "/");
}

std::filesystem::path xdgFolder(const char* variable, const std::filesystem::path& fallback)
{
    const char* value = std::getenv(variable);
    if (value && value[0] == '/') return value;
    return homeFolder() / fallback;
}

// A colon-separated list of folders; relative ones are ignored, as XDG asks.
std::vector<std::filesystem::path> absoluteFolders(const std::string& list)
{
    std::vector<std::filesystem::path> folders;
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t end = std::min(list.find(':', start), list.size());
        const std::filesystem::path folder = list.substr(start, end - start);
        if (folder.is_absolute()) folders.push_back(folder);
        start = end + 1;
    }
    return folders;
}

class SpanishCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "zorvane.files"; }
    std::error_condition default_error_condition(int ev) const noexcept override
    {
        return std::generic_category().default_error_condition(ev);
    }
    std::string message(int ev) const override
    {
        switch (ev) {
        case EACCES:
        case EPERM: return "no hay permiso para escribir ahí";
        case EROFS: return "el disco es de solo lectura";
        case ENOSPC:
        case EDQUOT: return "no queda espacio en el disco";
        case ENOENT: return "la carpeta no existe";
        case ENOTDIR: return "una parte de la ruta no es una carpeta";
        case EEXIST: return "ya existe un archivo con ese nombre";
        case EIO: return "error de lectura o escritura en el disco";
        default: return std::string("error del sistema (") + std::strerror(ev) + ")";
        }
    }
};

void writeAll(int fd, const std::string& content)
{
    const char* data = content.data();
    std::size_t size = content.size();
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw errno;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

} // namespace

const std::error_category& spanishErrorCategory()
{
    static const SpanishCategory category;
    return category;
}

std::system_error errorFromErrno(int errnum, const std::string& text)
{
    return std::system_error(errnum, spanishErrorCategory(), text);
}

std::vector<std::filesystem::path> dataDirs()
{
    const char* value = std::getenv("XDG_DATA_DIRS");
    return absoluteFolders(value && value[0] ? value : "/usr/local/share:/usr/share");
}

std::filesystem::path configHome() { return xdgFolder("XDG_CONFIG_HOME", ".config"); }
std::filesystem::path dataHome() { return xdgFolder("XDG_DATA_HOME", std::filesystem::path(".local") / "share"); }

std::string quotedExecArgument(const std::string& argument)
{
    // Inside double quotes the reserved characters take a backslash; the file format then
    // doubles every backslash, and a literal percent sign is written twice.
    std::string quoted = "\"";
    for (char c : argument) {
        switch (c) {
        case '"':
        case '`':
        case '$': quoted += "\\\\"; quoted += c; break;
        case '\\': quoted += "\\\\\\\\"; break;
        case '%': quoted += "%%"; break;
        default: quoted += c;
        }
    }
    return quoted + "\"";
}

std::optional<std::string> execProgram(const std::string& execLine)
{
    // First undo the string escapes of the file format, then the quoting of the Exec key.
    std::string line;
    for (std::size_t i = 0; i < execLine.size(); ++i) {
        if (execLine[i] == '\\' && i + 1 < execLine.size()) {
            const char next = execLine[++i];
            switch (next) {
            case 's': line += ' '; break;
            case 'n': line += '\n'; break;
            case 't': line += '\t'; break;
            case 'r': line += '\r'; break;
            case '\\': line += '\\'; break;
            default: line += '\\'; line += next; // "\\" and the rest: kept for the second pass
            }
        } else {
            line += execLine[i];
        }
    }
    std::size_t i = line.find_first_not_of(' ');
    if (i == std::string::npos) return std::nullopt;
    std::string program;
    if (line[i] == '"') {
        for (++i; i < line.size(); ++i) {
            if (line[i] == '"') return program;
            if (line[i] == '\\' && i + 1 < line.size()) ++i;
            if (line[i] == '%' && i + 1 < line.size() && line[i + 1] == '%') ++i;
            program += line[i];
        }
        return std::nullopt; // no closing quote
    }
    for (; i < line.size() && line[i] != ' '; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        program += line[i];
    }
    return program;
}

std::optional<std::map<std::string, std::string>> readMainGroup(const std::filesystem::path& file)
{
    std::ifstream in(file);
    if (!in) return std::nullopt;
    std::map<std::string, std::string> keys;
    std::string line;
    bool inMain = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inMain = line == "[Desktop Entry]";
            continue;
        }
        if (!inMain) continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string key = line.substr(0, equals);
        while (!key.empty() && key.back() == ' ') key.pop_back();
        std::size_t valueStart = equals + 1;
        while (valueStart < line.size() && line[valueStart] == ' ') ++valueStart;
        keys.emplace(std::move(key), line.substr(valueStart));
    }
    return keys;
}

std::vector<std::string> offSwitches(const std::map<std::string, std::string>& keys)
{
    // Values as GLib reads booleans; trailing blanks are not part of them.
    struct Switch {
        const char* key;
        bool offWhen;
    };
    std::vector<std::string> lines;
    for (const Switch& flag : {Switch {"Hidden", true}, Switch {"X-GNOME-Autostart-enabled", false}, Switch {"X-MATE-Autostart-enabled", false}}) {
        const auto found = keys.find(flag.key);
        if (found == keys.end()) continue;
        std::string value = found->second;
        value.erase(value.find_last_not_of(" \t") + 1);
        if (value == (flag.offWhen ? "true" : "false") || value == (flag.offWhen ? "1" : "0"))
            lines.push_back(std::string(flag.key) + "=" + value);
    }
    return lines;
}

std::optional<std::filesystem::path> existingProgram(const std::map<std::string, std::string>& keys)
{
    const auto exec = keys.find("Exec");
    const auto program = exec == keys.end() ? std::nullopt : execProgram(exec->second);
    if (!program || program->empty()) return std::nullopt;
    const auto runnable = [](const std::filesystem::path& path) {
        std::error_code ec;
        return std::filesystem::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
    };
    if (program->find('/') != std::string::npos) {
        if (runnable(*program)) return std::filesystem::path(*program);
        return std::nullopt;
    }
    const char* path = std::getenv("PATH");
    for (const auto& folder : absoluteFolders(path && path[0] ? path : "/usr/local/bin:/usr/bin:/bin"))
        if (runnable(folder / *program)) return folder / *program;
    return std::nullopt;
}

bool sameProgram(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::error_code ec;
    const bool same = std::filesystem::equivalent(a, b, ec);
    return ec ? a.lexically_normal() == b.lexically_normal() : same;
}

void writeAtomically(const std::filesystem::path& file, const std::string& content, const std::string& failureText)
{
    const std::filesystem::path folder = file.parent_path();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) throw errorFromErrno(ec.value(), failureText);

    std::string temp = (folder / ("." + file.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) throw errorFromErrno(errno, failureText);
    try {
        ::fchmod(fd, 0644);
        writeAll(fd, content);
        if (::fsync(fd) != 0) throw errno;
    } catch (int errnum) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw errorFromErrno(errnum, failureText);
    }
    ::close(fd);
    if (::rename(temp.c_str(), file.c_str()) != 0) {
        const int errnum = errno;
        ::unlink(temp.c_str());
        throw errorFromErrno(errnum, failureText);
    }
}

void remove(const std::filesystem::path& file, const std::string& failureText)
{
    if (::unlink(file.c_str()) != 0 && errno != ENOENT) throw errorFromErrno(errno, failureText);
}

} // namespace zorvane::linux_platform::DesktopEntryFile
