// The safe writing of a set: temporary file, flush, read back, rename, flush
// the folder.
#include "rebuild/set_writing.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include "rebuild/file_output.h"
#include "rebuild/rom_names.h"
#include "rebuild/temp_names.h"
#include "rebuild/torrentzip_writer.h"
#include "rebuild/written_check.h"

namespace {

struct FolderOwner {
  int fd = -1;
  ~FolderOwner() {
    if (fd >= 0) close(fd);
  }
};

// Opens the folder `name` below `parent_fd`, making it (and flushing the
// parent, so that it survives a crash) when it is not there. Links are not
// followed: the output stays inside its folder.
bool open_or_make_folder(int parent_fd, const char* name, FolderOwner& folder, int& error_number) {
  if (mkdirat(parent_fd, name, 0755) == 0) {
    if (!flush_to_disk(parent_fd, error_number)) return false;
  } else if (errno != EEXIST) {
    error_number = errno;
    return false;
  }
  folder.fd = openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder.fd >= 0) return true;
  error_number = errno;
  return false;
}

// Opens the folder that holds `path`'s last component, making those on the
// way; `leaf` is that component.
bool open_leaf_folder(int base_fd, const char* path, FolderOwner& folder, const char*& leaf, int& error_number) {
  folder.fd = openat(base_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder.fd < 0) {
    error_number = errno;
    return false;
  }
  leaf = path;
  for (const char* slash = std::strchr(leaf, '/'); slash != nullptr; slash = std::strchr(leaf, '/')) {
    char component[NAME_MAX + 1];
    const size_t size = static_cast<size_t>(slash - leaf);
    if (size > NAME_MAX) {
      error_number = ENAMETOOLONG;
      return false;
    }
    std::memcpy(component, leaf, size);
    component[size] = 0;
    FolderOwner child;
    if (!open_or_make_folder(folder.fd, component, child, error_number)) return false;
    std::swap(folder.fd, child.fd);
    leaf = slash + 1;
  }
  return true;
}

// A ROM poured into a plain file.
struct PlainWriter {
  int fd;
  uint64_t expected_size;
  uint64_t size;
  uint32_t crc;
  bool too_long;
  int error_number;
};

bool take_plain_bytes(void* context, const uint8_t* bytes, size_t size) {
  auto& writer = *static_cast<PlainWriter*>(context);
  if (size > writer.expected_size - writer.size) {
    writer.too_long = true;
    return false;
  }
  if (!write_all_at(writer.fd, writer.size, bytes, size, writer.error_number)) return false;
  writer.size += size;
  writer.crc = libdeflate_crc32(writer.crc, bytes, size);
  return true;
}

bool pour_plain(int fd, const RebuildRom& rom, uint32_t index, RebuildError& error) {
  PlainWriter writer{fd, rom.size, 0, 0, false, 0};
  const bool poured = rom.source.pour(rom.source.context, RomSink{&writer, take_plain_bytes});
  if (writer.error_number != 0) return fail_rebuild(error, RebuildFailure::WriteFailed, writer.error_number, index);
  if (writer.too_long) return fail_rebuild(error, RebuildFailure::SourceChanged, 0, index);
  if (!poured) return fail_rebuild(error, RebuildFailure::SourceUnreadable, 0, index);
  if (writer.size != rom.size || writer.crc != rom.crc) {
    return fail_rebuild(error, RebuildFailure::SourceChanged, 0, index);
  }
  return true;
}

bool write_plain_rom(int set_folder_fd, const RebuildRom& rom, uint32_t index, RebuildError& error) {
  FolderOwner folder;
  const char* leaf = nullptr;
  int error_number = 0;
  if (!open_leaf_folder(set_folder_fd, rom.name, folder, leaf, error_number)) {
    return fail_rebuild(error, RebuildFailure::WriteFailed, error_number, index);
  }
  TempFile temp;
  if (!create_rebuild_temp_file(folder.fd, temp, error_number)) {
    return fail_rebuild(error, RebuildFailure::WriteFailed, error_number, index);
  }
  if (!pour_plain(temp.fd, rom, index, error)) return false;
  if (!flush_to_disk(temp.fd, error_number)) {
    return fail_rebuild(error, RebuildFailure::WriteFailed, error_number, index);
  }
  if (!check_written_file(folder.fd, temp.name.c_str(), rom, index, error)) return false;
  if (!commit_temp_file(temp, leaf, error_number)) {
    return fail_rebuild(error, RebuildFailure::WriteFailed, error_number, index);
  }
  return true;
}

}  // namespace

bool write_torrentzip_file(int folder_fd, const char* file_name, const RebuildRom* roms, uint32_t rom_count,
                           RebuildError& error) {
  error = RebuildError{};
  if (!is_safe_relative_name(file_name, false)) return fail_rebuild(error, RebuildFailure::UnsafeName);
  TempFile temp;
  int error_number = 0;
  if (!create_rebuild_temp_file(folder_fd, temp, error_number)) {
    return fail_rebuild(error, RebuildFailure::WriteFailed, error_number);
  }
  if (!write_torrentzip(temp.fd, roms, rom_count, error)) return false;
  if (!flush_to_disk(temp.fd, error_number)) return fail_rebuild(error, RebuildFailure::WriteFailed, error_number);
  if (!check_written_zip(folder_fd, temp.name.c_str(), roms, rom_count, error)) return false;
  if (!commit_temp_file(temp, file_name, error_number)) {
    return fail_rebuild(error, RebuildFailure::WriteFailed, error_number);
  }
  return true;
}

bool write_rom_folder(int folder_fd, const char* set_name, const RebuildRom* roms, uint32_t rom_count,
                      RebuildError& error) {
  error = RebuildError{};
  if (!is_safe_relative_name(set_name, false)) return fail_rebuild(error, RebuildFailure::UnsafeName);
  for (uint32_t k = 0; k < rom_count; ++k) {
    if (!is_safe_relative_name(roms[k].name, true)) return fail_rebuild(error, RebuildFailure::UnsafeName, 0, k);
  }
  FolderOwner set_folder;
  int error_number = 0;
  if (!open_or_make_folder(folder_fd, set_name, set_folder, error_number)) {
    return fail_rebuild(error, RebuildFailure::WriteFailed, error_number);
  }
  for (uint32_t k = 0; k < rom_count; ++k) {
    if (!write_plain_rom(set_folder.fd, roms[k], k, error)) return false;
  }
  return true;
}
