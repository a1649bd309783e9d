// Opening without blocking, sizing by the file's kind, and the pread loop.
#include "base/opened_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// pread takes at most SSIZE_MAX; stay far below it.
constexpr uint64_t max_read_chunk = uint64_t{1} << 30;

}  // namespace

bool open_and_size(int directory_fd, const char* name, OpenedFile& file) {
  file = OpenedFile{
      openat(directory_fd, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC), FileKind::Unsized, 0, 0, 0, 0, 0};
  if (file.fd < 0) return false;
  struct stat status {};
  if (fstat(file.fd, &status) != 0) {
    const int error = errno;  // the caller reports why
    close(file.fd);
    errno = error;
    file.fd = -1;
    return false;
  }
  file.device = status.st_dev;
  file.inode = status.st_ino;
  file.mtime_ns = int64_t{status.st_mtim.tv_sec} * 1'000'000'000 + status.st_mtim.tv_nsec;
  file.ctime_ns = int64_t{status.st_ctim.tv_sec} * 1'000'000'000 + status.st_ctim.tv_nsec;
  if (S_ISDIR(status.st_mode)) {
    file.kind = FileKind::Directory;
    return true;
  }
  // Only a regular file has a size to read up to: a named pipe or a device
  // could deliver without end.
  if (!S_ISREG(status.st_mode)) return true;
  const off_t end = status.st_size > 0 ? status.st_size : lseek(file.fd, 0, SEEK_END);
  if (end < 0) return true;
  file.kind = FileKind::Regular;
  file.size = static_cast<uint64_t>(end);
  return true;
}

bool read_exactly(int fd, uint64_t offset, uint8_t* out, uint64_t size) {
  while (size > 0) {
    const size_t chunk = static_cast<size_t>(size < max_read_chunk ? size : max_read_chunk);
    const ssize_t got = pread(fd, out, chunk, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;  // an error, or the file shrank under us
    const auto done = static_cast<uint64_t>(got);
    out += done;
    offset += done;
    size -= done;
  }
  return true;
}
