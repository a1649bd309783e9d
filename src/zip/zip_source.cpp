// The byte source of a reader and the one read-at-offset function over it.
#include "zip/zip_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "zip/zip_format.h"

namespace {

// pread takes at most SSIZE_MAX; stay far below it.
constexpr uint64_t max_read_chunk = uint64_t{1} << 30;

bool pread_exactly(int fd, uint64_t offset, uint8_t* out, uint64_t size) {
  while (size > 0) {
    const size_t chunk = static_cast<size_t>(size < max_read_chunk ? size : max_read_chunk);
    const ssize_t got = pread(fd, out, chunk, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;  // an error, or the file shrank under us
    const uint64_t done = static_cast<uint64_t>(got);
    out += done;
    offset += done;
    size -= done;
  }
  return true;
}

}  // namespace

bool zip_source_open_file(ZipReader& reader, const char* path) {
  // Without blocking, so that a named pipe called x.zip fails at the seek
  // below instead of waiting for a writer.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  return zip_source_use_descriptor(reader, fd);
}

bool zip_source_use_descriptor(ZipReader& reader, int fd) {
  struct stat status {};
  const off_t end = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) ? lseek(fd, 0, SEEK_END) : -1;
  if (end < 0) {
    close(fd);
    return false;
  }
  reader.source_kind = ZipSourceKind::File;
  reader.fd = fd;
  reader.archive_size = static_cast<uint64_t>(end);
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
      return pread_exactly(reader.fd, offset, static_cast<uint8_t*>(out), size);
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
