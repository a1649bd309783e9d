// A new file beside the old one, synced, then renamed over it: rename
// replaces a name in one step, so a reader, or a run cut short, finds the
// old file or the new one, never a part of either.
#include "base/file_replacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

constexpr int max_name_attempts = 100;

// Nothing can be replaced in a pipe, a terminal or a device.
bool is_written_in_place(const struct stat& status) {
  return !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
}

// A new file in the target's folder, named after it and this process.
int create_beside(const std::string& target, std::string& temporary) {
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  for (int attempt = 0; attempt < max_name_attempts; ++attempt) {
    temporary = folder;
    temporary += '.';
    temporary += name;
    temporary += '.';
    temporary += std::to_string(getpid());
    temporary += '-';
    temporary += std::to_string(attempt);
    temporary += ".tmp";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// The rename is in the folder: synced too, so that it lasts a crash.
void sync_folder_of(const std::string& target) {
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

bool begin_file_replacement(const char* path, FileReplacement& replacement) {
  replacement = FileReplacement{nullptr, path, ""};
  struct stat status {};
  const bool exists = stat(path, &status) == 0;
  if (exists && is_written_in_place(status)) {
    replacement.out = std::fopen(path, "wb");
    return replacement.out != nullptr;
  }
  struct stat link_status {};
  if (exists && lstat(path, &link_status) == 0 && S_ISLNK(link_status.st_mode)) {
    char* resolved = realpath(path, nullptr);
    if (resolved == nullptr) return false;
    replacement.target = resolved;
    std::free(resolved);
  }
  const int fd = create_beside(replacement.target, replacement.temporary);
  if (fd < 0) return false;
  if ((exists && fchmod(fd, status.st_mode & 07777) != 0) || (replacement.out = fdopen(fd, "wb")) == nullptr) {
    const int error = errno;
    close(fd);
    unlink(replacement.temporary.c_str());
    errno = error;
    return false;
  }
  return true;
}

bool finish_file_replacement(FileReplacement& replacement) {
  if (replacement.out == nullptr) return false;
  bool written = std::fflush(replacement.out) == 0 && std::ferror(replacement.out) == 0;
  if (!replacement.temporary.empty()) written = written && fsync(fileno(replacement.out)) == 0;
  written = std::fclose(replacement.out) == 0 && written;
  replacement.out = nullptr;
  if (replacement.temporary.empty()) return written;
  if (written && rename(replacement.temporary.c_str(), replacement.target.c_str()) == 0) {
    sync_folder_of(replacement.target);
    replacement.temporary.clear();
    return true;
  }
  unlink(replacement.temporary.c_str());
  replacement.temporary.clear();
  return false;
}

void abandon_file_replacement(FileReplacement& replacement) {
  if (replacement.out != nullptr) std::fclose(replacement.out);
  replacement.out = nullptr;
  if (!replacement.temporary.empty()) unlink(replacement.temporary.c_str());
  replacement.temporary.clear();
}

bool replace_file_atomically(const char* path, bool (*write)(std::FILE* out, const void* context),
                             const void* context) {
  FileReplacement replacement{};
  if (!begin_file_replacement(path, replacement)) return false;
  if (!write(replacement.out, context)) {
    abandon_file_replacement(replacement);
    return false;
  }
  return finish_file_replacement(replacement);
}
