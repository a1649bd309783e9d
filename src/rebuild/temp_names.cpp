// The rebuild's temporary names, and clearing those a killed run left.
#include "rebuild/temp_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// How deep remove_rebuild_leftovers goes: sets' folders and the folders
// their ROMs' names hold; deeper trees are nothing the rebuild made.
constexpr int max_leftover_depth = 32;

bool starts_with_prefix(const char* name) {
  return std::strncmp(name, rebuild_temp_prefix, sizeof rebuild_temp_prefix - 1) == 0;
}

bool remove_leftovers_below(int folder_fd, int depth, int& error_number);

// One entry of a folder: a leftover removed, a folder gone through.
bool clear_entry(int folder_fd, const char* name, int depth, int& error_number) {
  struct stat status {};
  if (fstatat(folder_fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (S_ISREG(status.st_mode) && starts_with_prefix(name)) {
    if (unlinkat(folder_fd, name, 0) == 0 || errno == ENOENT) return true;
    error_number = errno;
    return false;
  }
  if (!S_ISDIR(status.st_mode) || depth >= max_leftover_depth) return true;
  const int child = openat(folder_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (child < 0) {
    if (errno == ENOENT) return true;
    error_number = errno;
    return false;
  }
  return remove_leftovers_below(child, depth + 1, error_number);  // takes `child` over
}

// Takes `folder_fd` over and closes it.
bool remove_leftovers_below(int folder_fd, int depth, int& error_number) {
  DIR* folder = fdopendir(folder_fd);
  if (folder == nullptr) {
    error_number = errno;
    close(folder_fd);
    return false;
  }
  bool cleared = true;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(folder);
    if (entry == nullptr) {
      if (errno != 0) {
        error_number = errno;
        cleared = false;
      }
      break;
    }
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    if (!clear_entry(dirfd(folder), entry->d_name, depth, error_number)) {
      cleared = false;
      break;
    }
  }
  closedir(folder);
  return cleared;
}

}  // namespace

bool create_rebuild_temp_file(int folder_fd, TempFile& temp, int& error_number) {
  return create_temp_file(folder_fd, rebuild_temp_prefix, "", 0644, temp, error_number);
}

bool remove_rebuild_leftovers(int folder_fd, int& error_number) {
  // A descriptor of its own, so that the listing leaves the caller's alone.
  const int own = openat(folder_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (own < 0) {
    error_number = errno;
    return false;
  }
  return remove_leftovers_below(own, 0, error_number);
}
