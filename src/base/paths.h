// File names on this platform. Macro files written on Windows use '\'; both
// separators are accepted and names are converted to '/'. Windows names are
// case-insensitive, so a name that does not exist as written is looked up
// again component by component without regard to case.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexa::base {

std::string to_slashes(std::string_view name);
// The process's current directory, ending in '/'.
std::string current_directory();
// Lexical normalisation: '.' and '..' steps and repeated '/' removed; the
// file system is not consulted.
std::string normalise_path(const std::string& path);
// name made complete against base (a directory ending in '/'): a name with
// ':' (a drive letter) is taken as complete, an absolute name is normalised,
// any other is appended to base.
std::string full_path(const std::string& name, const std::string& base);
// The name a run confined to folder (a full, normalised path ending in '/')
// uses for name: a relative name is taken inside folder, a full one must
// lie inside it, '.' and '..' steps resolved first. Empty when the name
// leads outside the folder. An empty folder confines nothing: the name is
// returned as it is.
std::string confined_path(const std::string& folder, const std::string& name);
// The part up to and including the last '/', or empty.
std::string directory_of(const std::string& path);
// The part after the last '/'.
std::string file_name_of(const std::string& path);
// The path as it exists on disk: unchanged when it exists, otherwise every
// component matched without regard to case (first match in sorted order).
// Returns the name unchanged when no such file exists.
std::string existing_path(const std::string& path);
// Reads the whole file (after existing_path). False when it cannot be read.
bool read_whole_file(const std::string& path, std::string& bytes);
// Files of pattern's directory whose names match pattern's last component
// ('?' and '*', without regard to case), sorted in byte order, at most max.
std::vector<std::string> find_matches(const std::string& pattern, int max);
// Writes a whole file under a temporary name beside it and renames it into
// place, so that a failed or interrupted run never leaves a half-written file
// (an older file of that name stays as it was). A symbolic link is followed
// and stays a link; a device or FIFO is written into directly, and so is a
// writable file in a folder that takes no new file. A folder that does not
// exist as written is looked for without regard to case. False when it
// cannot be written.
bool write_file_atomically(const std::string& path, std::string_view bytes);
// The name under which process writes target before renaming it into place:
// in target's folder, short, and the same for every write of that target by
// that process.
std::string temporary_name(const std::string& target, int process);
// The directory of the running program, ending in '/'.
std::string executable_directory();

}  // namespace vexa::base
