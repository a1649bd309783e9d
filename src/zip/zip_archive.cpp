// Opening an archive from a path or a memory block, and capturing its comment.
#include "zip/zip_archive.h"

#include <cassert>
#include <cstring>

#include "zip/zip_format.h"
#include "zip/zip_reader_open.h"
#include "zip/zip_source.h"

namespace {

bool finish_open(ZipArchive& archive, ZipFailure* failure) {
  if (zip_reader_read_directory(archive.reader) && read_archive_comment(archive)) return true;
  uint64_t end_record_offset = 0;
  const bool has_end_record = find_end_record(archive.reader, end_record_offset);
  set_zip_failure(failure, has_end_record ? ZipFailure::DamagedArchive : ZipFailure::NotAnArchive);
  zip_close(archive.reader);
  std::memset(&archive, 0, sizeof archive);
  return false;
}

}  // namespace

bool zip_open_file(ZipArchive& archive, const char* path) {
  assert(archive.reader.source_kind == ZipSourceKind::None);
  if (!zip_source_open_file(archive.reader, path)) return false;
  return finish_open(archive, nullptr);
}

bool zip_open_opened_file(ZipArchive& archive, const OpenedFile& file, ZipFailure* failure) {
  assert(archive.reader.source_kind == ZipSourceKind::None);
  if (!zip_source_use_file(archive.reader, file)) {
    set_zip_failure(failure, ZipFailure::NotARegularFile);
    return false;
  }
  return finish_open(archive, failure);
}

bool zip_open_memory(ZipArchive& archive, const void* block, uint64_t size, ZipFailure* failure) {
  assert(archive.reader.source_kind == ZipSourceKind::None);
  if (block == nullptr) {
    set_zip_failure(failure, ZipFailure::OutOfMemory);
    return false;
  }
  zip_source_use_memory(archive.reader, block, size);
  return finish_open(archive, failure);
}

bool read_archive_comment(ZipArchive& archive) {
  uint64_t offset = 0;
  if (!find_end_record(archive.reader, offset)) return false;
  uint8_t record[end_record_size];
  if (!zip_read_at(archive.reader, offset, record, end_record_size)) return false;
  archive.comment_size = load_u16(record + zip_field::end_comment_size);
  if (archive.comment_size == 0) return true;
  // Only the kept bytes need be there; the rest of a longer comment is never read.
  const uint64_t kept_size =
      archive.comment_size < max_kept_comment_size ? archive.comment_size : max_kept_comment_size;
  if (!zip_read_at(archive.reader, offset + end_record_size, archive.comment, kept_size)) return false;
  archive.comment[kept_size] = '\0';
  return true;
}
