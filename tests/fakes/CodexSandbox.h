#pragma once

#include "app/codex/CodexService.h"

#include <filesystem>
#include <string>
#include <vector>

namespace zorvane::fakes {

// A throw-away file system for the Codex service: a root that holds the executable candidates, a
// home inside it and a temporary directory, all under one fresh directory removed at the end.
// Fake `codex` programs are shell scripts written into it.
class CodexSandbox {
public:
    CodexSandbox();
    ~CodexSandbox();
    CodexSandbox(const CodexSandbox&) = delete;
    CodexSandbox& operator=(const CodexSandbox&) = delete;

    static constexpr const char* homePath = "/home/zorvane"; // as the service sees it, under root()

    const std::filesystem::path& base() const { return base_; }
    std::filesystem::path root() const { return base_ / "root"; }
    std::filesystem::path temporaryDirectory() const { return base_ / "tmp"; }
    std::filesystem::path file(const std::string& name) const { return base_ / name; } // scratch files

    // The candidate `/usr/bin/codex` under root(), and the home's `.local/bin/codex`.
    std::filesystem::path systemCodex() const;
    std::filesystem::path homeCodex() const;

    // Writes `body` after a `#!/bin/sh` line as an executable file at `where` (a real path).
    std::filesystem::path writeScript(const std::filesystem::path& where, const std::string& body) const;

    // A fake tool at /usr/bin/codex. `login status` runs `statusBody`; `exec` records its
    // arguments (one per line in file("args")), its standard input (file("prompt")), its working
    // directory (file("cwd")) and, when given `--image=PATH`, a copy of the image (file("image"))
    // with its permission bits (file("image-mode")), then runs `execBody` with $answer set to the
    // answer file's path. Every call appends its first argument to file("calls").
    std::filesystem::path installFakeCodex(const std::string& statusBody, const std::string& execBody) const;

    // A sign-in text the service accepts.
    static std::string signedInStatus() { return "echo 'Logged in using ChatGPT' >&2"; }

    Environment environment() const; // PATH, HOME (the real home directory), LANG
    CodexServiceOptions options() const;

    std::vector<std::string> temporaryEntries() const; // names in temporaryDirectory(), sorted
    std::string read(const std::filesystem::path& path) const; // empty when missing
    std::vector<std::string> lines(const std::filesystem::path& path) const;

private:
    std::filesystem::path base_;
};

} // namespace zorvane::fakes
