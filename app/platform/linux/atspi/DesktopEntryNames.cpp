#include "app/platform/linux/atspi/DesktopEntryNames.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace zorvane::DesktopEntryNames {

namespace {

namespace fs = std::filesystem;

std::string resolved(const std::string& path)
{
    std::error_code error;
    const fs::path canonical = fs::canonical(path, error);
    return error ? std::string() : canonical.string();
}

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Programs that run a script named among their arguments.
bool isInterpreter(const std::string& executable)
{
    static constexpr std::array<const char*, 12> names {"python", "perl", "ruby", "node", "nodejs", "gjs", "bash", "sh", "dash",
        "lua", "php", "java"};
    const std::string name = fs::path(executable).filename().string();
    return std::any_of(names.begin(), names.end(), [&](const char* n) {
        const std::string prefix(n);
        // python3, python3.11, lua5.4 …
        return name.rfind(prefix, 0) == 0 && name.find_first_not_of("0123456789.", prefix.size()) == std::string::npos;
    });
}

struct Process {
    std::string executable; // resolved
    bool interpreted = false;
    std::string script; // resolved, when an interpreter runs one
};

std::optional<Process> processOf(ProcessID pid)
{
    const std::string base = "/proc/" + std::to_string(pid);
    Process process;
    process.executable = resolved(base + "/exe");
    if (process.executable.empty()) return std::nullopt;
    process.interpreted = isInterpreter(process.executable);
    if (!process.interpreted) return process;
    std::ifstream file(base + "/cmdline", std::ios::binary);
    std::string argument;
    bool first = true;
    while (std::getline(file, argument, '\0')) {
        if (first || argument.empty() || argument[0] == '-') {
            first = false;
            continue;
        }
        // Code given on the command line (python3 -c …) names no script: nothing to match.
        process.script = resolved(argument);
        break;
    }
    return process;
}

// The entry's command, without field codes (%U, %f …).
std::vector<std::string> commandOf(GAppInfo* info)
{
    const char* line = g_app_info_get_commandline(info);
    std::vector<std::string> words;
    gchar** argv = nullptr;
    if (!line || !g_shell_parse_argv(line, nullptr, &argv, nullptr)) return words;
    for (gchar** word = argv; *word; ++word)
        if (!(std::string(*word).size() == 2 && (*word)[0] == '%')) words.emplace_back(*word);
    g_strfreev(argv);
    return words;
}

std::string programPath(const std::string& word)
{
    gchar* found = g_find_program_in_path(word.c_str());
    std::string path = found ? resolved(found) : std::string();
    g_free(found);
    return path;
}

} // namespace

std::uint64_t processStart(ProcessID pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return 0;
    // The command name is in parentheses and may hold spaces; the fields after it are plain.
    const auto close = line.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    // The start time is field 22 of the whole line: the 20th after the name.
    for (int i = 0; i < 20 && fields >> field; ++i) {
    }
    try {
        return std::stoull(field);
    } catch (const std::exception&) {
        return 0;
    }
}

std::optional<std::string> nameOf(ProcessID pid, const std::string& reportedName)
{
    const auto process = processOf(pid);
    const std::string reported = lowered(reportedName);
    std::optional<std::string> byProgram;
    std::optional<std::string> byName;

    GList* all = g_app_info_get_all();
    for (GList* item = all; item && !byProgram; item = item->next) {
        auto* info = G_APP_INFO(item->data);
        const char* name = g_app_info_get_name(info);
        if (!name || !*name) continue;
        if (process) {
            const std::vector<std::string> command = commandOf(info);
            if (!command.empty()) {
                if (process->interpreted) {
                    // A script: the entry must name it, whatever runs it.
                    for (std::size_t i = 0; i < command.size() && !byProgram; ++i) {
                        const std::string path = i == 0 ? programPath(command[i]) : resolved(command[i]);
                        if (!process->script.empty() && path == process->script) byProgram = name;
                    }
                } else if (programPath(command.front()) == process->executable) {
                    byProgram = name;
                }
            }
        }
        if (byName || reported.empty()) continue;
        // The entry's id ("chromium.desktop") or the window class it declares.
        std::string id = g_app_info_get_id(info) ? g_app_info_get_id(info) : "";
        if (id.size() > 8 && id.ends_with(".desktop")) id.resize(id.size() - 8);
        const char* windowClass = G_IS_DESKTOP_APP_INFO(info) ? g_desktop_app_info_get_startup_wm_class(G_DESKTOP_APP_INFO(info)) : nullptr;
        if (lowered(id) == reported || (windowClass && lowered(windowClass) == reported)) byName = name;
    }
    g_list_free_full(all, g_object_unref);
    return byProgram ? byProgram : byName;
}

} // namespace zorvane::DesktopEntryNames
