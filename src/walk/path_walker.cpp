// The path walker: a directory is walked depth-first, a ".zip" name is an
// archive, and anything else is read as one image.
#include "walk/path_walker.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "archive/archive_kind.h"
#include "catalogue/rom_entry.h"
#include "catalogue/run_mode.h"
#include "walk/archive_walker.h"
#include "walk/image_jobs.h"
#include "walk/messages.h"
#include "walk/path_names.h"
#include "walk/stream_archive_walker.h"
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

// What a directory entry says it is. Only a hint: a path is handled by what
// it is when opened, since it may change in between.
enum class EntryKind { Unknown, PlainFile };

// Where a path is opened from: a directory being walked and the entry's own
// name in it, so that the kernel need not walk the whole path again; or, for
// a path from the command line, the path itself.
struct OpenFrom {
  int directory_fd;  // AT_FDCWD for a command-line path
  const char* name;
};

void scan_path_below(const char* path, OpenFrom from, WalkPath& walk_path, EntryKind kind);

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
    scan_path_below(entry_path.get(), OpenFrom{dirfd(directory), entry->d_name}, walk_path,
                    entry->d_type == DT_REG ? EntryKind::PlainFile : EntryKind::Unknown);
  }
  walk_path.pop_back();
}

void scan_archive_file(const char* path, FileDescriptor& file) {
  const auto archive = std::make_shared<OpenArchive>();
  const int fd = file.fd;
  file.fd = -1;  // the archive owns it now, and closes it on failure
  if (!zip_open_descriptor(archive->archive, fd)) {
    report_failure("imgchk: error opening %s\n", path);
    return;
  }
  scan_archive(path, archive);
}

// Any other kind of archive is walked in order by a worker, which reads it
// from the descriptor.
void scan_stream_archive_file(const char* path, FileDescriptor& file, const struct stat& status, ArchiveKind kind) {
  if (!S_ISREG(status.st_mode)) {
    report_failure("imgchk: error opening %s\n", path);
    return;
  }
  submit_ordered_walk(path, file.fd, static_cast<uint64_t>(status.st_size), kind, walk_stream_archive_file);
  file.fd = -1;
}

void read_plain_file(const char* path, FileDescriptor& file, const struct stat& status) {
  // Only a regular file has a size to read up to: a named pipe or a device
  // could deliver without end.
  // A regular file's size is in its status; some files of the kernel's
  // (under /proc) say 0 there, and seeking tells the truth or fails.
  off_t end = -1;
  if (S_ISREG(status.st_mode)) end = status.st_size > 0 ? status.st_size : lseek(file.fd, 0, SEEK_END);
  if (end < 0) {
    report_failure("imgchk: seek error on %s\n", path);
    return;
  }
  // The job reads it and closes it.
  submit_file_image(path, file.fd, static_cast<uint64_t>(end));
  file.fd = -1;
}

void scan_path_below(const char* path, OpenFrom from, WalkPath& walk_path, EntryKind kind) {
  const ArchiveKind archive_kind = archive_kind_of(path);
  const bool named_archive = archive_kind != ArchiveKind::None;
  // Outside the archives, -pzc has nothing to read.
  const bool reads_plain_files = g_mode != RunMode::Pzc;
  if (!reads_plain_files && !named_archive && kind == EntryKind::PlainFile) return;
  if (g_before_opening_path != nullptr) g_before_opening_path(path);
  // Without blocking, so that a named pipe cannot hang the run: it is
  // refused below instead.
  FileDescriptor file(openat(from.directory_fd, from.name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat status {};
  if (file.fd < 0 || fstat(file.fd, &status) != 0) {
    if (reads_plain_files || named_archive) report_failure("imgchk: error opening %s\n", path);
    return;
  }
  if (S_ISDIR(status.st_mode)) {
    const DirectoryStream directory{fdopendir(file.fd)};
    if (!directory) {
      if (reads_plain_files || named_archive) report_failure("imgchk: error opening %s\n", path);
      return;
    }
    file.fd = -1;  // the directory stream owns it now
    scan_directory(path, directory.get(), walk_path);
    return;
  }
  if (archive_kind == ArchiveKind::Zip) {
    scan_archive_file(path, file);
    return;
  }
  if (named_archive) {
    scan_stream_archive_file(path, file, status, archive_kind);
    return;
  }
  if (reads_plain_files) read_plain_file(path, file, status);
}

}  // namespace

void (*g_before_opening_path)(const char* path) = nullptr;

void scan_path(const char* path) {
  WalkPath walk_path;
  scan_path_below(path, OpenFrom{AT_FDCWD, path}, walk_path, EntryKind::Unknown);
}
