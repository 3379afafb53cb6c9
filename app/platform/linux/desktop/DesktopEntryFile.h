#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <system_error>

// Small helpers shared by the desktop-entry writers: XDG folders, Exec quoting, atomic writes and
// errors whose text is Spanish from end to end.
namespace zorvane::linux_platform::DesktopEntryFile {

// $XDG_CONFIG_HOME and $XDG_DATA_HOME when absolute, else ~/.config and ~/.local/share.
std::filesystem::path configHome();
std::filesystem::path dataHome();

// One argument of an Exec line, quoted so that spaces and special characters survive.
std::string quotedExecArgument(const std::string& argument);
// The program an Exec line starts (its first argument, unquoted); none when the line is malformed.
std::optional<std::string> execProgram(const std::string& execLine);

// The keys of the [Desktop Entry] group; none when the file cannot be read.
std::optional<std::map<std::string, std::string>> readMainGroup(const std::filesystem::path& file);

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
