#include "fakes/CodexSandbox.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zorvane::fakes {

namespace fs = std::filesystem;

namespace {

std::string quoted(const fs::path& path)
{
    return "'" + path.string() + "'";
}

} // namespace

CodexSandbox::CodexSandbox()
{
    std::string pattern = (fs::temp_directory_path() / "zorvane-codex-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    base_ = pattern;
    fs::create_directories(root() / fs::path(homePath).relative_path());
    fs::create_directories(temporaryDirectory());
}

CodexSandbox::~CodexSandbox()
{
    std::error_code ignored;
    fs::permissions(base_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(base_, ignored);
}

fs::path CodexSandbox::systemCodex() const
{
    return root() / "usr/bin/codex";
}

fs::path CodexSandbox::homeCodex() const
{
    return root() / fs::path(homePath).relative_path() / ".local/bin/codex";
}

fs::path CodexSandbox::writeScript(const fs::path& where, const std::string& body) const
{
    fs::create_directories(where.parent_path());
    {
        std::ofstream out(where, std::ios::binary | std::ios::trunc);
        out << "#!/bin/sh\n" << body << "\n";
        if (!out) throw std::runtime_error("cannot write " + where.string());
    }
    fs::permissions(where, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
    return where;
}

fs::path CodexSandbox::installFakeCodex(const std::string& statusBody, const std::string& execBody) const
{
    std::ostringstream script;
    script << "echo \"$1\" >> " << quoted(file("calls")) << "\n"
           << "if [ \"$1\" = login ]; then\n"
           << statusBody << "\n"
           << "exit 0\n"
           << "fi\n"
           << "printf '%s\\n' \"$@\" > " << quoted(file("args")) << "\n"
           << "pwd > " << quoted(file("cwd")) << "\n"
           << "answer=''; prev=''\n"
           << "for a in \"$@\"; do\n"
           << "  if [ \"$prev\" = --output-last-message ]; then answer=\"$a\"; fi\n"
           << "  case \"$a\" in --image=*) cp \"${a#--image=}\" " << quoted(file("image"))
           << "; stat -c %a \"${a#--image=}\" > " << quoted(file("image-mode")) << ";; esac\n"
           << "  prev=\"$a\"\n"
           << "done\n"
           << "cat > " << quoted(file("prompt")) << "\n"
           << execBody;
    return writeScript(systemCodex(), script.str());
}

Environment CodexSandbox::environment() const
{
    return {
        {"PATH", "/usr/bin:/bin"},
        {"HOME", (root() / fs::path(homePath).relative_path()).string()},
        {"LANG", "C.UTF-8"},
    };
}

CodexServiceOptions CodexSandbox::options() const
{
    CodexServiceOptions options;
    options.root = root();
    options.environment = environment();
    options.home = homePath;
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

std::string CodexSandbox::read(const fs::path& path) const
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> CodexSandbox::lines(const fs::path& path) const
{
    std::vector<std::string> result;
    std::istringstream in(read(path));
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

} // namespace zorvane::fakes
