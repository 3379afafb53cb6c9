#pragma once

#include "app/codex/CodexService.h"

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zorvane::fakes {

// A throw-away file system for the Codex service, removed at the end: root() holds the executable
// candidates and the home, temporaryDirectory() the transport files, file() scratch files.
class CodexSandbox {
public:
    CodexSandbox();
    ~CodexSandbox();
    CodexSandbox(const CodexSandbox&) = delete;
    CodexSandbox& operator=(const CodexSandbox&) = delete;

    const std::filesystem::path& base() const { return base_; }
    std::filesystem::path root() const { return base_ / "root"; }
    std::filesystem::path home() const { return root() / "home/zorvane"; }
    std::filesystem::path temporaryDirectory() const { return base_ / "tmp"; }
    std::filesystem::path file(const std::string& name) const { return base_ / name; }
    std::filesystem::path systemCodex() const { return root() / "usr/bin/codex"; }
    std::filesystem::path homeCodex() const { return home() / ".local/bin/codex"; }

    // An executable `#!/bin/sh` script at `where`.
    static std::filesystem::path writeScript(const std::filesystem::path& where, const std::string& body);

    // A fake tool at `where` (systemCodex() unless given). `login` runs `statusBody`. `exec` writes its arguments one per line
    // to file("args"), its working directory to file("cwd"), a copy of its `--image=` file to
    // file("image") and that file's mode to file("image-mode"), its input to file("prompt") unless
    // told not to read it, then runs `execBody` with $answer and $image set. Every call appends its
    // first argument to file("calls").
    std::filesystem::path installFakeCodex(const std::string& statusBody, const std::string& execBody,
                                           bool readsInput = true, std::filesystem::path where = {}) const;
    static std::string signedInStatus() { return "echo 'Logged in using ChatGPT' >&2"; }
    // An `exec` body that never ends, as the real tool offline: it creates the answer file empty
    // (as the real tool does), starts a helper process, writes its own and the helper's process
    // ids to file("pids"); with ignoresTerm it shrugs off SIGTERM.
    std::string hangingExecBody(bool ignoresTerm = false) const;
    // The ids hangingExecBody wrote, once it has (waits up to 10 s; empty if it never did).
    std::vector<pid_t> hangingProcesses() const;
    // Whether the process ends within 5 s (a zombie left to another parent counts as ended).
    static bool processEnds(pid_t pid);

    CodexServiceOptions options() const;
    std::vector<std::string> temporaryEntries() const; // sorted names
    static std::string read(const std::filesystem::path& path); // empty when missing
    static std::vector<std::string> lines(const std::filesystem::path& path);

private:
    std::filesystem::path base_;
};

} // namespace zorvane::fakes
