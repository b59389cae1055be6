#include "base/paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include <algorithm>
#include <cstdio>
#include <strings.h>

#include "base/format.h"
#include "base/limits.h"

namespace vexa::base {

namespace {

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool is_regular(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Names in a directory, sorted in byte order (deterministic on every file system).
std::vector<std::string> directory_names(const std::string& directory) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
  if (dir == nullptr) return names;
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

std::string to_slashes(std::string_view name) {
  std::string result(name);
  std::replace(result.begin(), result.end(), '\\', '/');
  return result;
}

std::string current_directory() {
  std::string dir(4096, '\0');
  if (::getcwd(dir.data(), dir.size()) == nullptr) return "./";
  dir.resize(dir.find('\0'));
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

std::string normalise_path(const std::string& path) {
  bool absolute = !path.empty() && path[0] == '/';
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..")
        parts.pop_back();
      else if (!absolute)
        parts.push_back(part);
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string result = absolute ? "/" : "";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) result += '/';
    result += parts[i];
  }
  // A name that ended in a separator names a directory and keeps it.
  if (!path.empty() && path.back() == '/' && !parts.empty()) result += '/';
  return result;
}

std::string full_path(const std::string& name, const std::string& base) {
  std::string n = to_slashes(name);
  if (n.find(':') != std::string::npos) return n;
  if (!n.empty() && n[0] == '/') return normalise_path(n);
  return normalise_path(to_slashes(base) + n);
}

std::string confined_path(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  std::string full = full_path(name, folder);
  return full.compare(0, folder.size(), folder) == 0 ? full : std::string();
}

std::string directory_of(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string file_name_of(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string existing_path(const std::string& path) {
  if (path.empty() || exists(path)) return path;
  std::string resolved = path[0] == '/' ? "/" : "";
  std::size_t start = path[0] == '/' ? 1 : 0;
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    bool last = end == std::string::npos;
    if (last) end = path.size();
    std::string part = path.substr(start, end - start);
    std::string candidate = resolved + part;
    if (!part.empty() && !exists(candidate)) {
      bool found = false;
      for (const std::string& name : directory_names(resolved)) {
        if (::strcasecmp(name.c_str(), part.c_str()) == 0) {
          candidate = resolved + name;
          found = true;
          break;
        }
      }
      if (!found) return path;
    }
    resolved = candidate;
    if (!last) resolved += '/';
    start = end + 1;
  }
  return resolved;
}

bool read_whole_file(const std::string& path, std::string& bytes) {
  std::string name = existing_path(path);
  struct stat st;
  if (::stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::FILE* file = std::fopen(name.c_str(), "rb");
  if (file == nullptr) return false;
  // Read in one piece when the size is known; a file that grows meanwhile is
  // read on to its end.
  bytes.clear();
  bytes.resize(static_cast<std::size_t>(st.st_size));
  std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
  bytes.resize(got);
  char chunk[65536];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
  bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

std::vector<std::string> find_matches(const std::string& pattern, int max) {
  std::vector<std::string> found;
  std::string directory = directory_of(pattern);
  std::string mask = file_name_of(pattern);
  std::string real_directory = directory.empty() ? directory : existing_path(directory);
  for (const std::string& name : directory_names(real_directory)) {
    if (static_cast<int>(found.size()) >= max) break;
    if (::fnmatch(mask.c_str(), name.c_str(), FNM_CASEFOLD) != 0) continue;
    if (!is_regular(real_directory + name)) continue;
    found.push_back(name);
  }
  return found;
}

namespace {

// The file a name finally stands for: symbolic links on the last component
// are followed (at most 40 of them, as the kernel does), so that a link stays
// a link and the file it points at is what gets replaced.
std::string link_target(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::string target(4096, '\0');
    ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return current;
    target.resize(static_cast<std::size_t>(n));
    current = target[0] == '/' ? target : directory_of(current) + target;
  }
  return current;
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// A device, a FIFO or a socket named as output is written into as it is: it
// cannot be replaced by a file, and must not be. A FIFO nobody reads fails at
// once instead of blocking the run.
bool write_into(const std::string& path, std::string_view bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  bool ok = write_all(fd, bytes);
  return ::close(fd) == 0 && ok;
}

// Temporary files are named ".vx<hash of the target's name>.<process id>":
// short, so that a target name near the file system's limit still has room,
// and telling which output and which run they belong to, so that the next
// run writing the same output can remove what a killed run left behind.
std::string temporary_prefix(const std::string& target_name) {
  std::uint32_t hash = 2166136261u;
  for (unsigned char c : target_name) hash = (hash ^ c) * 16777619u;
  return base::format(".vx%08x.", hash);
}

void remove_stale_temporaries(const std::string& folder, const std::string& prefix) {
  for (const std::string& name : directory_names(folder)) {
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    std::string digits = name.substr(prefix.size());
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
    pid_t owner = static_cast<pid_t>(std::stol(digits));
    if (owner != ::getpid() && ::kill(owner, 0) != 0 && errno == ESRCH) ::unlink((folder + name).c_str());
  }
}

}  // namespace

std::string temporary_name(const std::string& target, int process) {
  return directory_of(target) + temporary_prefix(file_name_of(target)) + std::to_string(process);
}

// Where a file named path is written: as written where that folder exists,
// else in the folder of that name in other letter cases (as names read are
// found), so that "OUT/NAME.bin" lands in an existing "out/".
std::string output_path(const std::string& path) {
  const std::string found = existing_path(path);
  if (found != path || exists(path)) return found;
  const std::string folder = directory_of(path);
  if (folder.size() < 2) return path;
  const std::string existing_folder = existing_path(folder.substr(0, folder.size() - 1));
  return existing_folder + "/" + file_name_of(path);
}

bool write_file_atomically(const std::string& path, std::string_view bytes) {
  const std::string target = link_target(output_path(path));
  struct stat st;
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return false;
  if (exists && !S_ISREG(st.st_mode)) return write_into(target, bytes);

  const std::string folder = directory_of(target);
  remove_stale_temporaries(folder, temporary_prefix(file_name_of(target)));
  const std::string temporary = temporary_name(target, ::getpid());
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) {
    // A folder that takes no new file may still hold a writable file of
    // that name: it is written in place, as the only way to write it.
    if (!exists || errno != EACCES) return false;
    fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    const bool written = write_all(fd, bytes);
    return ::close(fd) == 0 && written;
  }
  // A file that is replaced keeps its permissions; a new one gets the
  // process's default ones, as any newly created file.
  if (exists) ::fchmod(fd, st.st_mode & 07777);
  bool ok = write_all(fd, bytes);
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = std::rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}

std::string executable_directory() {
  std::string target(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", target.data(), target.size() - 1);
  if (n <= 0) return current_directory();
  target.resize(static_cast<std::size_t>(n));
  return directory_of(target);
}

}  // namespace vexa::base
