// The path walker: a ".zip" name is an archive, then a directory is walked
// depth-first, then anything else is read whole as one image.
#include "walk/path_walker.h"

#include <dirent.h>
#include <libdeflate.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "catalogue/rom_entry.h"
#include "catalogue/run_mode.h"
#include "walk/archive_walker.h"
#include "walk/image_buffer.h"
#include "walk/messages.h"
#include "walk/path_names.h"
#include "zip/zip_archive.h"

namespace {

// The directories on the way from the argument down to the current one, so
// that a link back to one of them is not followed into an endless walk.
struct DirectoryId {
  dev_t device;
  ino_t inode;
  bool operator==(const DirectoryId&) const = default;
};
using WalkPath = std::vector<DirectoryId>;

struct DirectoryCloser {
  void operator()(DIR* directory) const { closedir(directory); }
};
using DirectoryStream = std::unique_ptr<DIR, DirectoryCloser>;

struct FileDescriptor {
  int fd;
  explicit FileDescriptor(int descriptor) : fd(descriptor) {}
  ~FileDescriptor() {
    if (fd >= 0) close(fd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
};

// What a directory entry says it is; Unknown sends the path down the full
// sequence of tests.
enum class EntryKind { Unknown, PlainFile };

void scan_path_below(const char* path, WalkPath& walk_path, EntryKind kind);

void scan_archive_file(const char* path) {
  ZipArchive archive{};
  if (!zip_open_file(archive, path)) {
    report_failure("imgchk: error opening %s\n", path);
    return;
  }
  scan_archive(path, archive);
}

void scan_directory(const char* path, DIR* directory, WalkPath& walk_path) {
  struct stat status {};
  if (fstat(dirfd(directory), &status) == 0) {
    const DirectoryId id{status.st_dev, status.st_ino};
    if (std::find(walk_path.begin(), walk_path.end(), id) != walk_path.end()) {
      report_failure("imgchk: directory loop at %s\n", path);
      return;
    }
    walk_path.push_back(id);
  } else {
    walk_path.push_back(DirectoryId{});  // keeps push and pop paired
  }
  // An enumeration error ends the directory like its last entry.
  while (const dirent* entry = readdir(directory)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    const std::unique_ptr<char[]> entry_path = join_path(path, '/', entry->d_name);
    scan_path_below(entry_path.get(), walk_path, entry->d_type == DT_REG ? EntryKind::PlainFile : EntryKind::Unknown);
  }
  walk_path.pop_back();
}

// Reads from the start until `size` bytes have come or the file ends early,
// and takes the CRC-32 of each piece while it is still in the cache.
bool read_whole(int fd, uint8_t* buffer, uint64_t size, uint32_t& crc) {
  constexpr uint64_t piece_size = 256 << 10;
  crc = 0;
  uint64_t done = 0;
  while (done < size) {
    const uint64_t wanted = size - done < piece_size ? size - done : piece_size;
    const ssize_t got = pread(fd, buffer + done, wanted, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    crc = libdeflate_crc32(crc, buffer + done, static_cast<size_t>(got));
    done += static_cast<uint64_t>(got);
  }
  return true;
}

void read_plain_file(const char* path) {
  // Without blocking, so that a named pipe cannot hang the run: it fails the
  // seek below instead.
  const FileDescriptor file(open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.fd < 0) {
    report_failure("imgchk: error opening %s\n", path);
    return;
  }
  const off_t end = lseek(file.fd, 0, SEEK_END);
  if (end < 0) {
    report_failure("imgchk: seek error on %s\n", path);
    return;
  }
  // Sizes are 64-bit: files of 2 GiB and more are read like any other.
  ImageBuffer image(static_cast<uint64_t>(end));
  // pread reads from the start without a seek back.
  uint32_t crc = 0;
  if (!read_whole(file.fd, image.bytes, image.size, crc)) {
    report_failure("imgchk: read error on %s\n", path);
    return;
  }
  hand_in_image(path, image, crc);
}

void scan_path_below(const char* path, WalkPath& walk_path, EntryKind kind) {
  if (has_zip_suffix(path)) {
    scan_archive_file(path);
    return;
  }
  // A plain file cannot be opened as a directory: save the attempt.
  if (kind == EntryKind::Unknown) {
    if (const DirectoryStream directory{opendir(path)}) {
      scan_directory(path, directory.get(), walk_path);
      return;
    }
  }
  // Outside the archives, -pzc has nothing to read.
  if (g_mode == RunMode::Pzc) return;
  read_plain_file(path);
}

}  // namespace

void scan_path(const char* path) {
  WalkPath walk_path;
  scan_path_below(path, walk_path, EntryKind::Unknown);
}
