#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

// Small helpers shared by the desktop-entry writers: XDG folders, Exec quoting, atomic writes and
// errors whose text is Spanish from end to end.
namespace zorvane::linux_platform::DesktopEntryFile {

// $XDG_CONFIG_HOME and $XDG_DATA_HOME when absolute, else ~/.config and ~/.local/share.
std::filesystem::path configHome();
std::filesystem::path dataHome();

// $XDG_DATA_DIRS (its absolute folders), else /usr/local/share and /usr/share: where installed
// software keeps its launcher entries.
std::vector<std::filesystem::path> dataDirs();

// One argument of an Exec line, quoted so that spaces and special characters survive.
std::string quotedExecArgument(const std::string& argument);
// The program an Exec line starts (its first argument, unquoted); none when the line is malformed.
std::optional<std::string> execProgram(const std::string& execLine);

// The keys of the [Desktop Entry] group; none when the file cannot be read.
std::optional<std::map<std::string, std::string>> readMainGroup(const std::filesystem::path& file);

// The keys by which the user or a desktop turned an entry off (Hidden=true,
// X-GNOME-Autostart-enabled=false and its MATE twin), as "key=value" lines; empty when it is on.
std::vector<std::string> offSwitches(const std::map<std::string, std::string>& keys);
// The program the entry's Exec line starts, looked up in PATH when it is a bare name; none when
// there is no such executable file (any more).
std::optional<std::filesystem::path> existingProgram(const std::map<std::string, std::string>& keys);
// The same file (through links and merged folders), or the same path when either is missing.
bool sameProgram(const std::filesystem::path& a, const std::filesystem::path& b);

// Writes through a temporary file in the same folder, fsync and rename, creating missing folders;
// readers see the old or the new content, never a mix. Throws std::system_error whose what() is
// `failureText` followed by the Spanish reason.
void writeAtomically(const std::filesystem::path& file, const std::string& content, const std::string& failureText);
// Removes the file (absent is fine). Throws like writeAtomically.
void remove(const std::filesystem::path& file, const std::string& failureText);

// An error category whose messages are Spanish; conditions compare equal to the generic ones.
const std::error_category& spanishErrorCategory();
std::system_error errorFromErrno(int errnum, const std::string& text);

} // namespace zorvane::linux_platform::DesktopEntryFile
