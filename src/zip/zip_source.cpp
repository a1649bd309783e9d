// The byte source of a reader and the one read-at-offset function over it.
#include "zip/zip_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "base/opened_file.h"
#include "zip/zip_format.h"

bool zip_source_open_file(ZipReader& reader, const char* path) {
  OpenedFile file{};
  if (!open_and_size(AT_FDCWD, path, file)) return false;
  return zip_source_use_file(reader, file);
}

bool zip_source_use_file(ZipReader& reader, const OpenedFile& file) {
  if (file.kind != FileKind::Regular) {
    close(file.fd);
    return false;
  }
  reader.source_kind = ZipSourceKind::File;
  reader.fd = file.fd;
  reader.archive_size = file.size;
  return true;
}

void zip_source_use_memory(ZipReader& reader, const void* block, uint64_t size) {
  reader.source_kind = ZipSourceKind::Memory;
  reader.memory = static_cast<const uint8_t*>(block);
  reader.archive_size = size;
}

bool zip_read_at(const ZipReader& reader, uint64_t offset, void* out, uint64_t size) {
  if (!is_range_inside(offset, size, reader.archive_size)) return false;
  if (size == 0) return true;
  switch (reader.source_kind) {
    case ZipSourceKind::Memory:
      std::memcpy(out, reader.memory + offset, static_cast<size_t>(size));
      return true;
    case ZipSourceKind::File:
      return read_exactly(reader.fd, offset, static_cast<uint8_t*>(out), size);
    case ZipSourceKind::None:
      break;
  }
  return false;
}

const uint8_t* zip_view_at(const ZipReader& reader, uint64_t offset, uint64_t size, MallocBlock& owned) {
  if (!is_range_inside(offset, size, reader.archive_size)) return nullptr;
  if (reader.source_kind == ZipSourceKind::Memory) return reader.memory + offset;
  owned.reset(static_cast<uint8_t*>(std::malloc(size > 0 ? static_cast<size_t>(size) : 1)));
  if (!owned || !zip_read_at(reader, offset, owned.get(), size)) return nullptr;
  return owned.get();
}

void zip_source_close(ZipReader& reader) {
  if (reader.source_kind == ZipSourceKind::File) close(reader.fd);
  reader.source_kind = ZipSourceKind::None;
  reader.fd = 0;
  reader.memory = nullptr;
  reader.archive_size = 0;
}
