// Temporary files: O_EXCL names made of the process id and a counter, so
// that threads and concurrent runs never share one.
#include "rebuild/temp_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::atomic<unsigned> g_temp_counter{0};

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

TempFile::~TempFile() {
  discard_temp_file(*this);
}

bool create_temp_file(int folder_fd, TempFile& temp, int& error_number) {
  discard_temp_file(temp);
  for (;;) {
    const unsigned serial = g_temp_counter.fetch_add(1, std::memory_order_relaxed);
    std::snprintf(temp.name, sizeof temp.name, "%s%ld-%u", rebuild_temp_prefix, static_cast<long>(getpid()), serial);
    const int fd = openat(folder_fd, temp.name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd >= 0) {
      temp.folder_fd = folder_fd;
      temp.fd = fd;
      return true;
    }
    if (errno == EEXIST) continue;  // an earlier run's of the same process id
    error_number = errno;
    temp.name[0] = 0;
    return false;
  }
}

bool commit_temp_file(TempFile& temp, const char* final_name, int& error_number) {
  bool committed = fsync(temp.fd) == 0 && renameat(temp.folder_fd, temp.name, temp.folder_fd, final_name) == 0;
  if (!committed) {
    error_number = errno;
    discard_temp_file(temp);
    return false;
  }
  close(temp.fd);
  temp.fd = -1;
  temp.name[0] = 0;
  // The rename is done; a failed flush of the folder is still a failure to
  // report, but the file in place is whole.
  if (fsync(temp.folder_fd) != 0) {
    error_number = errno;
    return false;
  }
  return true;
}

void discard_temp_file(TempFile& temp) {
  if (temp.fd >= 0) close(temp.fd);
  if (temp.name[0] != 0) unlinkat(temp.folder_fd, temp.name, 0);
  temp.fd = -1;
  temp.name[0] = 0;
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
