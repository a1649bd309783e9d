// The path walker: a directory is walked depth-first, a name with an
// archive's suffix is an archive, and anything else is read as one image; a
// regular file the cache knows is replayed instead of read.
#include "walk/path_walker.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_kind.h"
#include "base/opened_file.h"
#include "catalogue/audit_digests.h"
#include "catalogue/rom_entry.h"
#include "catalogue/run_mode.h"
#include "walk/archive_walker.h"
#include "walk/directory_stack.h"
#include "walk/exclusion.h"
#include "walk/open_archive.h"
#include "walk/path_names.h"
#include "walk/stream_archive_walker.h"
#include "walk/test_seams.h"
#include "walk/walk_output.h"
#include "zip/zip_archive.h"

namespace {

struct FileDescriptor {
  int fd;
  explicit FileDescriptor(int descriptor) : fd(descriptor) {}
  ~FileDescriptor() {
    if (fd >= 0) close(fd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
};

// Where a path is opened from: a directory being walked and the entry's own
// name in it, so that the kernel need not walk the whole path again; or, for
// a path from the command line, the path itself.
struct OpenFrom {
  int directory_fd;  // AT_FDCWD for a command-line path
  const char* name;
  const uint64_t* directory_device;  // the walked directory's; null for a command-line path
};

// A path that could not be opened has no identity to record.
void report_open_error(const char* path, int error) {
  const Provenance origin = provenance_of_name(path);
  g_walk_output.failure(failure_at(WalkMessage::ErrorOpening, reason_of_errno(error), origin));
}

// Every name in the directory but "." and "..", in the order the file system
// gives them. The names are read whole before any is walked, so that no
// directory stays open only to be read on. An enumeration error ends the
// directory like its last entry.
std::vector<DirectoryEntry> read_directory_entries(int directory_fd) {
  std::vector<DirectoryEntry> entries;
  alignas(dirent64) char buffer[32768];
  for (;;) {
    const ssize_t got = getdents64(directory_fd, buffer, sizeof buffer);
    if (got <= 0) return entries;
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      if (is_excluded_name(entry->d_name)) continue;
      entries.push_back({entry->d_name, entry->d_type == DT_REG});
    }
  }
}

// Takes `fd` over. The directory's entries are walked by walk_directories.
void enter_unless_loop(const char* path, int fd, const char* name, DirectoryId id, DirectoryStack& stack) {
  if (is_on_stack(stack, id)) {
    close(fd);
    const Provenance origin{make_source_file(path, true, id.device, id.inode), {}};
    g_walk_output.failure(failure_at(WalkMessage::DirectoryLoop, FailureReason::Loop, origin));
    return;
  }
  enter_directory(stack, fd, id, name, path, read_directory_entries(fd));
}

void scan_archive_file(const Provenance& origin, FileDescriptor& file, const OpenedFile& opened) {
  const auto archive = std::make_shared<OpenArchive>();
  file.fd = -1;  // the archive owns it now, and closes it on failure
  ZipFailure failure = ZipFailure::None;
  if (!zip_open_opened_file(archive->archive, opened, &failure)) {
    g_walk_output.failure(failure_at(WalkMessage::ErrorOpening, reason_of_zip_failure(failure), origin));
    return;
  }
  scan_archive(origin, archive);
}

// Any other kind of archive is walked in order by a worker, which reads it
// from the descriptor.
void scan_stream_archive_file(const Provenance& origin, FileDescriptor& file, const OpenedFile& opened,
                              ArchiveKind kind) {
  if (opened.kind != FileKind::Regular) {
    g_walk_output.failure(failure_at(WalkMessage::ErrorOpening, FailureReason::NotARegularFile, origin));
    return;
  }
  g_walk_output.ordered_walk(origin, file.fd, opened.size, kind, walk_stream_archive_file);
  file.fd = -1;
}

// With the cache, `unit` is the file's; the job records its result.
void read_plain_file(const Provenance& origin, FileDescriptor& file, const OpenedFile& opened, CacheUnitHandle unit) {
  if (opened.kind != FileKind::Regular) {
    g_walk_output.failure(failure_at(WalkMessage::SeekError, FailureReason::NotARegularFile, origin));
    return;
  }
  // The job reads it and closes it.
  g_walk_output.file_image(origin, file.fd, opened.size, std::move(unit));
  file.fd = -1;
}

bool is_cache_on() {
  return g_walk_cache.is_on != nullptr && g_walk_cache.is_on();
}

// An archive's row holds what one run's --exclude left of it: with
// patterns, archives are read, never replayed nor kept. A row keeps no
// CHD header either: while the audit looks for disks, a file named as a
// CHD is read.
bool is_cacheable(const char* path, ArchiveKind archive_kind) {
  if (archive_kind != ArchiveKind::None) return !has_excluded_patterns();
  if (!g_walk_output.plan.digests.chd) return true;
  const size_t size = std::strlen(path);
  return size < 4 || strcasecmp(path + size - 4, ".chd") != 0;
}

// An archive's results are many jobs (or one walked in order), recorded
// between two marks in the output; a loose image's one job carries its unit.
void read_regular_file(const char* path, FileDescriptor& file, const OpenedFile& opened, ArchiveKind archive_kind,
                       CacheUnitHandle looked_up) {
  const bool cached = is_cache_on() && opened.kind == FileKind::Regular && is_cacheable(path, archive_kind);
  CacheUnitHandle unit = cached ? g_walk_cache.unit_of_opened(std::move(looked_up), opened) : CacheUnitHandle{};
  // Every image found in the file shares this record of it.
  const Provenance origin{make_source_file(path, true, opened.device, opened.inode), {}};
  if (archive_kind == ArchiveKind::None) {
    read_plain_file(origin, file, opened, std::move(unit));
    return;
  }
  if (cached) g_walk_output.file_start(origin, std::move(unit));
  if (archive_kind == ArchiveKind::Zip) {
    scan_archive_file(origin, file, opened);
  } else {
    scan_stream_archive_file(origin, file, opened, archive_kind);
  }
  if (cached) g_walk_output.file_end();
}

// A directory is entered on the stack, for walk_directories to go through.
void scan_path_below(const char* path, OpenFrom from, DirectoryStack& stack, bool is_plain_file) {
  const ArchiveKind archive_kind = archive_kind_of(path);
  const bool named_archive = archive_kind != ArchiveKind::None;
  // Outside the archives, -pzc has nothing to read.
  const bool reads_plain_files = g_walk_output.plan.mode != RunMode::Pzc;
  if (!reads_plain_files && !named_archive && is_plain_file) return;
  if (g_before_opening_path != nullptr) g_before_opening_path(path);
  // A plain file (not a link) lies on its directory's device.
  const uint64_t* directory_device = is_plain_file ? from.directory_device : nullptr;
  CacheUnitHandle looked_up;
  if (is_cache_on() && (reads_plain_files || named_archive) && is_cacheable(path, archive_kind) &&
      g_walk_cache.replay_if_cached(from.directory_fd, from.name, directory_device, path, looked_up)) {
    return;
  }
  // A named pipe cannot hang the run: it is refused below instead.
  OpenedFile opened{};
  if (!open_and_size(from.directory_fd, from.name, opened)) {
    if (reads_plain_files || named_archive) report_open_error(path, errno);
    return;
  }
  FileDescriptor file(opened.fd);
  if (opened.kind != FileKind::Directory) ++g_files_opened;
  if (opened.kind == FileKind::Directory) {
    file.fd = -1;  // the walk owns it now
    enter_unless_loop(path, opened.fd, from.name, DirectoryId{opened.device, opened.inode}, stack);
    return;
  }
  if (named_archive || reads_plain_files) read_regular_file(path, file, opened, archive_kind, std::move(looked_up));
}

// Depth-first, each directory's next entry from the innermost level, until
// every level has been walked and left.
void walk_directories(DirectoryStack& stack) {
  while (!stack.levels.empty()) {
    DirectoryLevel& level = stack.levels.back();
    if (level.next_entry == level.entries.size()) {
      leave_directory(stack);
      continue;
    }
    const DirectoryEntry& entry = level.entries[level.next_entry++];
    const int directory_fd = innermost_directory_fd(stack);
    if (directory_fd < 0) {
      report_open_error(level.path.c_str(), errno);
      level.next_entry = level.entries.size();
      continue;
    }
    const std::unique_ptr<char[]> entry_path = join_path(level.path.c_str(), '/', entry.name.c_str());
    const uint64_t directory_device = level.id.device;
    // May push a level: `level` and `entry` are not used after this.
    scan_path_below(entry_path.get(), OpenFrom{directory_fd, entry.name.c_str(), &directory_device}, stack,
                    entry.is_plain_file);
  }
}

}  // namespace

void scan_path(const char* path) {
  DirectoryStack stack;
  scan_path_below(path, OpenFrom{AT_FDCWD, path, nullptr}, stack, false);
  walk_directories(stack);
}
