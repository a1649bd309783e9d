// A new file beside the old one, synced, then renamed over it: rename
// replaces a name in one step, so a reader, or a run cut short, finds the
// old file or the new one, never a part of either. Temporary names carry
// the process id and a serial number shared by every thread, so that
// threads and concurrent runs never share one.
#include "base/file_replacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

std::atomic<unsigned> g_temp_serial{0};

// Names taken by files of earlier runs of the same process id are passed
// over; this many in a row is no coincidence.
constexpr int max_name_attempts = 10000;

// Nothing can be replaced in a pipe, a terminal or a device.
bool is_written_in_place(const struct stat& status) {
  return !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
}

// The folder holding `target`, for creating and renaming in. A folder that
// cannot be listed can still be written in: then a descriptor for paths only.
int open_folder_of(const std::string& target) {
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return fd >= 0 ? fd : open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

std::string leaf_of(const std::string& target) {
  const size_t slash = target.rfind('/');
  return slash == std::string::npos ? target : target.substr(slash + 1);
}

void close_folder(FileReplacement& replacement) {
  if (replacement.folder_fd >= 0) close(replacement.folder_fd);
  replacement.folder_fd = -1;
}

}  // namespace

TempFile::~TempFile() {
  discard_temp_file(*this);
}

bool create_temp_file(int folder_fd, std::string_view name_start, const char* name_end, mode_t mode, TempFile& temp,
                      int& error_number) {
  discard_temp_file(temp);
  temp.renamed = false;
  for (int attempt = 0; attempt < max_name_attempts; ++attempt) {
    const unsigned serial = g_temp_serial.fetch_add(1, std::memory_order_relaxed);
    std::string name(name_start);
    name += std::to_string(getpid());
    name += '-';
    name += std::to_string(serial);
    name += name_end;
    const int fd = openat(folder_fd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd >= 0) {
      temp.folder_fd = folder_fd;
      temp.fd = fd;
      temp.name = std::move(name);
      return true;
    }
    if (errno != EEXIST) break;
  }
  error_number = errno;
  return false;
}

bool commit_temp_file(TempFile& temp, const char* final_name, int& error_number) {
  const bool committed =
      fsync(temp.fd) == 0 && renameat(temp.folder_fd, temp.name.c_str(), temp.folder_fd, final_name) == 0;
  if (!committed) {
    error_number = errno;
    discard_temp_file(temp);
    return false;
  }
  close(temp.fd);
  temp.fd = -1;
  temp.name.clear();
  temp.renamed = true;
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
  if (!temp.name.empty()) unlinkat(temp.folder_fd, temp.name.c_str(), 0);
  temp.fd = -1;
  temp.name.clear();
}

bool begin_file_replacement(const char* path, FileReplacement& replacement) {
  abandon_file_replacement(replacement);
  replacement.target = path;
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
  replacement.folder_fd = open_folder_of(replacement.target);
  if (replacement.folder_fd < 0) return false;
  std::string name_start = ".";
  name_start += leaf_of(replacement.target);
  name_start += '.';
  int error_number = 0;
  if (!create_temp_file(replacement.folder_fd, name_start, ".tmp", 0666, replacement.temp, error_number)) {
    close_folder(replacement);
    errno = error_number;
    return false;
  }
  // The stream has a descriptor of its own: the file's stays for the rename.
  const int stream_fd = dup(replacement.temp.fd);
  if ((exists && fchmod(replacement.temp.fd, status.st_mode & 07777) != 0) || stream_fd < 0 ||
      (replacement.out = fdopen(stream_fd, "wb")) == nullptr) {
    const int error = errno;
    if (stream_fd >= 0) close(stream_fd);
    abandon_file_replacement(replacement);
    errno = error;
    return false;
  }
  return true;
}

bool finish_file_replacement(FileReplacement& replacement) {
  if (replacement.out == nullptr) return false;
  bool written = std::fflush(replacement.out) == 0 && std::ferror(replacement.out) == 0;
  written = std::fclose(replacement.out) == 0 && written;
  replacement.out = nullptr;
  if (replacement.folder_fd < 0) return written;
  int error_number = 0;
  if (written) commit_temp_file(replacement.temp, leaf_of(replacement.target).c_str(), error_number);
  discard_temp_file(replacement.temp);
  close_folder(replacement);
  // A folder not flushed is no failure here: the file in place is whole.
  return replacement.temp.renamed;
}

void abandon_file_replacement(FileReplacement& replacement) {
  if (replacement.out != nullptr) std::fclose(replacement.out);
  replacement.out = nullptr;
  discard_temp_file(replacement.temp);
  close_folder(replacement);
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
