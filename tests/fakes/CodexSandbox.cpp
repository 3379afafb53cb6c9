#include "fakes/CodexSandbox.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace zorvane::fakes {

namespace fs = std::filesystem;

CodexSandbox::CodexSandbox()
{
    std::string pattern = (fs::temp_directory_path() / "zorvane-codex-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    base_ = pattern;
    fs::create_directories(home());
    fs::create_directories(temporaryDirectory());
}

CodexSandbox::~CodexSandbox()
{
    std::error_code ignored;
    fs::remove_all(base_, ignored);
}

fs::path CodexSandbox::writeScript(const fs::path& where, const std::string& body)
{
    fs::create_directories(where.parent_path());
    std::ofstream(where, std::ios::binary | std::ios::trunc) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(where, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
    return where;
}

fs::path CodexSandbox::installFakeCodex(const std::string& statusBody, const std::string& execBody, bool readsInput,
                                        fs::path where) const
{
    auto at = [&](const char* name) { return " '" + file(name).string() + "'"; };
    return writeScript(where.empty() ? systemCodex() : where,
                       "echo \"$1\" >>" + at("calls") + "\n"
                       "if [ \"$1\" = login ]; then\n" + statusBody + "\nexit 0\nfi\n"
                       "printf '%s\\n' \"$@\" >" + at("args") + "\n"
                       "pwd >" + at("cwd") + "\n"
                       "for a in \"$@\"; do\n"
                       "  [ \"$prev\" = --output-last-message ] && answer=\"$a\"\n"
                       "  case \"$a\" in --image=*) image=\"${a#--image=}\"; cp \"$image\"" + at("image") +
                       "; stat -c %a \"$image\" >" + at("image-mode") + ";; esac\n"
                       "  prev=\"$a\"\n"
                       "done\n"
                       + (readsInput ? "cat >" + at("prompt") + "\n" : "") + execBody);
}

CodexServiceOptions CodexSandbox::options() const
{
    CodexServiceOptions options;
    options.root = root();
    options.environment = Environment {{"PATH", "/usr/bin:/bin"}, {"HOME", home().string()}, {"LANG", "C.UTF-8"}};
    options.home = "/home/zorvane";
    options.temporaryDirectory = temporaryDirectory();
    return options;
}

std::vector<std::string> CodexSandbox::temporaryEntries() const
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(temporaryDirectory())) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string CodexSandbox::read(const fs::path& path)
{
    std::ostringstream content;
    content << std::ifstream(path, std::ios::binary).rdbuf();
    return content.str();
}

std::vector<std::string> CodexSandbox::lines(const fs::path& path)
{
    std::vector<std::string> result;
    std::istringstream in(read(path));
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

std::string CodexSandbox::hangingExecBody(bool ignoresTerm) const
{
    const std::string pids = file("pids").string();
    return std::string(": > \"$answer\"\nsleep 1000 &\nhelper=$!\n") + (ignoresTerm ? "trap '' TERM\n" : "") +
           "echo \"$$ $helper\" > '" + pids + ".partial'\nmv '" + pids + ".partial' '" + pids + "'\n" +
           "while :; do sleep 0.05; done\n";
}

std::vector<pid_t> CodexSandbox::hangingProcesses() const
{
    for (int i = 0; i < 1000; ++i) {
        pid_t tool = 0, helper = 0;
        if (std::ifstream(file("pids")) >> tool >> helper) return {tool, helper};
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
}

bool CodexSandbox::processEnds(pid_t pid)
{
    for (int i = 0; i < 500; ++i) {
        if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
        std::string stat;
        std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat);
        const auto close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z') return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace zorvane::fakes
