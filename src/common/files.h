#pragma once
// Whole-file reads and the two safe ways the program writes files that may
// hold patient data: replacing a file atomically, and creating a new private
// file. Contents are bytes (on POSIX the workstation's code page is UTF-8).
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kvt::files {

// The whole content, or nothing when the file cannot be opened or read.
std::optional<std::string> readAll(const std::filesystem::path& path);

// Writes the content to a temporary file in the same folder and renames it
// over the target, so that no reader ever sees half a file. An existing file
// keeps its permission bits; a new one is readable and writable by its owner
// only (0600). A symbolic link is followed: its target is replaced. Raises
// kvt::Error with a readable reason on failure; the target is then unchanged.
void writeAtomically(const std::filesystem::path& path, std::string_view content);

// Creates a file that must not exist yet (an existing file or link makes it
// fail), readable and writable by its owner only, and writes the content.
// False on any failure; a partly written file is removed.
bool writeNewPrivate(const std::filesystem::path& path, std::string_view content);

// Removes from the folder (not its subfolders) the temporary files that a
// process killed inside `writeAtomically` left behind: they hold part of a
// file and were never renamed into place. Only for folders whose writers are
// all stopped (the caller holds their lock). Gives how many were removed.
int removeInterruptedWrites(const std::filesystem::path& folder);

// True when the name is one `writeAtomically` gives its temporary files.
bool isInterruptedWriteName(std::string_view name);

}  // namespace kvt::files
