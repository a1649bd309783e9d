// The path walker: a directory is walked depth-first, a name with an
// archive's suffix is an archive, and anything else is read as one image.
#include "walk/path_walker.h"

#include <dirent.h>
#include <fcntl.h>
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
#include "walk/path_names.h"
#include "walk/stream_archive_walker.h"
#include "walk/test_seams.h"
#include "zip/opened_file.h"
#include "zip/zip_archive.h"

namespace {

// The directories on the way from the argument down to the current one, so
// that a link back to one of them is not followed into an endless walk.
struct DirectoryId {
  uint64_t device;
  uint64_t inode;
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

void report_open_error(const char* path, int error) {
  report_failure(WalkFailure{WalkMessage::ErrorOpening, reason_of_errno(error), path, 0});
}

void scan_directory(const char* path, DIR* directory, const DirectoryId& id, WalkPath& walk_path) {
  if (std::find(walk_path.begin(), walk_path.end(), id) != walk_path.end()) {
    report_failure(WalkFailure{WalkMessage::DirectoryLoop, FailureReason::Loop, path, 0});
    return;
  }
  walk_path.push_back(id);
  // An enumeration error ends the directory like its last entry.
  while (const dirent* entry = readdir(directory)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    const std::unique_ptr<char[]> entry_path = join_path(path, '/', entry->d_name);
    scan_path_below(entry_path.get(), OpenFrom{dirfd(directory), entry->d_name}, walk_path,
                    entry->d_type == DT_REG ? EntryKind::PlainFile : EntryKind::Unknown);
  }
  walk_path.pop_back();
}

void scan_archive_file(const char* path, FileDescriptor& file, const OpenedFile& opened) {
  const auto archive = std::make_shared<OpenArchive>();
  file.fd = -1;  // the archive owns it now, and closes it on failure
  ZipFailure failure = ZipFailure::None;
  if (!zip_open_opened_file(archive->archive, opened, &failure)) {
    report_failure(WalkFailure{WalkMessage::ErrorOpening, reason_of_zip_failure(failure), path, 0});
    return;
  }
  scan_archive(path, archive);
}

// Any other kind of archive is walked in order by a worker, which reads it
// from the descriptor.
void scan_stream_archive_file(const char* path, FileDescriptor& file, const OpenedFile& opened, ArchiveKind kind) {
  if (opened.kind != FileKind::Regular) {
    report_failure(WalkFailure{WalkMessage::ErrorOpening, FailureReason::NotARegularFile, path, 0});
    return;
  }
  submit_ordered_walk(path, file.fd, opened.size, kind, walk_stream_archive_file);
  file.fd = -1;
}

void read_plain_file(const char* path, FileDescriptor& file, const OpenedFile& opened) {
  if (opened.kind != FileKind::Regular) {
    report_failure(WalkFailure{WalkMessage::SeekError, FailureReason::NotARegularFile, path, 0});
    return;
  }
  // The job reads it and closes it.
  submit_file_image(path, file.fd, opened.size);
  file.fd = -1;
}

void scan_path_below(const char* path, OpenFrom from, WalkPath& walk_path, EntryKind kind) {
  const ArchiveKind archive_kind = archive_kind_of(path);
  const bool named_archive = archive_kind != ArchiveKind::None;
  // Outside the archives, -pzc has nothing to read.
  const bool reads_plain_files = g_mode != RunMode::Pzc;
  if (!reads_plain_files && !named_archive && kind == EntryKind::PlainFile) return;
  if (g_before_opening_path != nullptr) g_before_opening_path(path);
  // A named pipe cannot hang the run: it is refused below instead.
  OpenedFile opened{};
  if (!open_and_size(from.directory_fd, from.name, opened)) {
    if (reads_plain_files || named_archive) report_open_error(path, errno);
    return;
  }
  FileDescriptor file(opened.fd);
  if (opened.kind == FileKind::Directory) {
    const DirectoryStream directory{fdopendir(file.fd)};
    if (!directory) {
      if (reads_plain_files || named_archive) report_open_error(path, errno);
      return;
    }
    file.fd = -1;  // the directory stream owns it now
    scan_directory(path, directory.get(), DirectoryId{opened.device, opened.inode}, walk_path);
    return;
  }
  if (archive_kind == ArchiveKind::Zip) {
    scan_archive_file(path, file, opened);
    return;
  }
  if (named_archive) {
    scan_stream_archive_file(path, file, opened, archive_kind);
    return;
  }
  if (reads_plain_files) read_plain_file(path, file, opened);
}

}  // namespace

void scan_path(const char* path) {
  WalkPath walk_path;
  scan_path_below(path, OpenFrom{AT_FDCWD, path}, walk_path, EntryKind::Unknown);
}
