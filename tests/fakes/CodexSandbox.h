#pragma once

#include "app/codex/CodexService.h"
#include "fakes/TemporaryDirectory.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace zorvane::fakes {

// A throw-away file system for the Codex service, removed at the end: root() holds the executable
// candidates and the home, temporaryDirectory() the transport files, file() scratch files.
class CodexSandbox {
public:
    CodexSandbox()
    {
        std::filesystem::create_directories(home());
        std::filesystem::create_directories(temporaryDirectory());
    }

    const std::filesystem::path& base() const { return base_.path(); }
    std::filesystem::path root() const { return base_ / "root"; }
    std::filesystem::path home() const { return root() / "home/zorvane"; }
    std::filesystem::path temporaryDirectory() const { return base_ / "tmp"; }
    std::filesystem::path file(const std::string& name) const { return base_ / name; }
    std::filesystem::path systemCodex() const { return root() / "usr/bin/codex"; }
    std::filesystem::path homeCodex() const { return home() / ".local/bin/codex"; }

    CodexServiceOptions options() const
    {
        CodexServiceOptions options;
        options.root = root();
        options.environment = Environment {{"PATH", "/usr/bin:/bin"}, {"HOME", home().string()}, {"LANG", "C.UTF-8"}};
        options.home = "/home/zorvane";
        options.temporaryDirectory = temporaryDirectory();
        return options;
    }

    // An executable `#!/bin/sh` script at `where`.
    static std::filesystem::path writeScript(const std::filesystem::path& where, const std::string& body)
    {
        writeFile(where, "#!/bin/sh\n" + body + "\n");
        std::filesystem::permissions(where, std::filesystem::perms(0755));
        return where;
    }

    // A fake tool at `where` (systemCodex() unless given). `login` runs `statusBody`. `exec` writes
    // its arguments one per line to file("args"), its working directory to file("cwd"), a copy of
    // its `--image=` file to file("image") and that file's mode to file("image-mode"), its input to
    // file("prompt") unless told not to read it, then runs `execBody` with $answer and $image set.
    // Every call appends its first argument to file("calls").
    std::filesystem::path installFakeCodex(const std::string& statusBody, const std::string& execBody,
                                           bool readsInput = true, std::filesystem::path where = {}) const
    {
        auto at = [&](const char* name) { return " '" + file(name).string() + "'"; };
        return writeScript(where.empty() ? systemCodex() : where,
                           "echo \"$1\" >>" + at("calls") + "\nif [ \"$1\" = login ]; then\n" + statusBody + "\nexit 0\nfi\n"
                           "printf '%s\\n' \"$@\" >" + at("args") + "\npwd >" + at("cwd") + "\n"
                           "for a in \"$@\"; do\n"
                           "  [ \"$prev\" = --output-last-message ] && answer=\"$a\"\n"
                           "  case \"$a\" in --image=*) image=\"${a#--image=}\"; cp \"$image\"" + at("image") +
                           "; stat -c %a \"$image\" >" + at("image-mode") + ";; esac\n"
                           "  prev=\"$a\"\ndone\n" + (readsInput ? "cat >" + at("prompt") + "\n" : "") + execBody);
    }
    static std::string signedInStatus() { return "echo 'Logged in using ChatGPT' >&2"; }

    // An `exec` body that never ends, as the real tool offline: it creates the answer file empty
    // (as the real tool does), starts a helper process, writes its own and the helper's process
    // ids to file("pids"); with ignoresTerm it shrugs off SIGTERM.
    std::string hangingExecBody(bool ignoresTerm = false) const
    {
        const std::string pids = file("pids").string();
        return std::string(": > \"$answer\"\nsleep 1000 &\nhelper=$!\n") + (ignoresTerm ? "trap '' TERM\n" : "") +
               "echo \"$$ $helper\" > '" + pids + ".partial'\nmv '" + pids + ".partial' '" + pids + "'\n" +
               "while :; do sleep 0.05; done\n";
    }
    // The ids hangingExecBody wrote, once it has (waits up to 10 s; empty if it never did).
    std::vector<pid_t> hangingProcesses() const
    {
        for (int i = 0; i < 1000; ++i) {
            pid_t tool = 0, helper = 0;
            if (std::ifstream(file("pids")) >> tool >> helper) return {tool, helper};
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return {};
    }
    // Whether the process ends within 5 s (a zombie left to another parent counts as ended).
    static bool processEnds(pid_t pid)
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

    // The questions' files under the transport folders, sorted by name; the folders and their locks aside.
    std::vector<std::string> temporaryEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(temporaryDirectory()))
            if (!entry.is_directory() && entry.path().extension() != ".lock") names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::vector<std::string> lines(const std::filesystem::path& path)
    {
        std::vector<std::string> result;
        std::istringstream in(readFile(path));
        for (std::string line; std::getline(in, line);) result.push_back(line);
        return result;
    }

private:
    TemporaryDirectory base_;
};

} // namespace zorvane::fakes
