// The end record search and the records that locate the central directory.
//
// The end record is 22 bytes plus a comment of up to 65,535 bytes that may
// itself hold the signature, so the search runs backwards from the end in
// 4,096-byte blocks that overlap by 3 bytes (a signature may straddle two),
// and the last signature with 22 bytes after it wins. The search stops after
// a block at offset 0 or once it reaches 65,557 bytes back; a last block
// that would start before the archive is moved to start at offset 0, so a
// small archive with a long comment is still found.
#include "zip/zip_end_records.h"

#include "zip/zip_archive.h"
#include "zip/zip_format.h"

namespace {

constexpr uint64_t search_block_size = 4096;
constexpr uint64_t search_block_step = search_block_size - 3;
constexpr uint64_t search_reach = max_comment_size + end_record_size;

bool read_zip64_end_record(const ZipReader& reader, uint64_t end_record_offset, ZipDirectoryPlace& place) {
  uint8_t locator[zip64_locator_size];
  const uint64_t locator_offset = end_record_offset - zip64_locator_size;
  if (!zip_read_at(reader, locator_offset, locator, zip64_locator_size)) return false;
  const uint64_t record_offset = load_u64(locator + 8);
  const uint32_t total_disks = load_u32(locator + 16);
  // Some writers put 0 in the disk total; both 0 and 1 mean one disk.
  if (load_u32(locator + 4) != 0 || total_disks > 1) return false;
  if (!is_range_inside(record_offset, zip64_end_record_size, locator_offset)) return false;

  uint8_t record[zip64_end_record_size];
  if (!zip_read_at(reader, record_offset, record, zip64_end_record_size)) return false;
  if (load_u32(record) != zip64_end_record_signature) return false;
  const uint64_t rest_size = load_u64(record + 4);
  if (rest_size < zip64_end_record_size - zip64_end_record_lead_size ||
      !is_range_inside(record_offset + zip64_end_record_lead_size, rest_size, locator_offset)) {
    return false;
  }
  if (load_u32(record + 16) != 0 || load_u32(record + 20) != 0) return false;  // several disks
  const uint64_t entries_on_disk = load_u64(record + 24);
  const uint64_t entries = load_u64(record + 32);
  if (entries != entries_on_disk || entries > UINT32_MAX) return false;
  place.entry_count = static_cast<uint32_t>(entries);
  place.size = load_u64(record + 40);
  place.offset = load_u64(record + 48);
  place.end_records_offset = record_offset;
  return true;
}

bool has_zip64_locator(const ZipReader& reader, uint64_t end_record_offset) {
  uint8_t signature[4];
  return end_record_offset >= zip64_locator_size &&
         zip_read_at(reader, end_record_offset - zip64_locator_size, signature, sizeof signature) &&
         load_u32(signature) == zip64_locator_signature;
}

}  // namespace

bool find_end_record(const ZipReader& reader, uint64_t& offset) {
  const uint64_t size = reader.archive_size;
  if (size < end_record_size) return false;
  uint64_t block_start = size > search_block_size ? size - search_block_size : 0;
  uint8_t block[search_block_size];
  for (;;) {
    const uint64_t block_size = size - block_start < search_block_size ? size - block_start : search_block_size;
    if (!zip_read_at(reader, block_start, block, block_size)) return false;
    for (uint64_t i = block_size - 4 + 1; i-- > 0;) {
      if (load_u32(block + i) == end_record_signature && size - (block_start + i) >= end_record_size) {
        offset = block_start + i;
        return true;
      }
    }
    if (block_start == 0 || size - block_start >= search_reach) return false;
    block_start = block_start > search_block_step ? block_start - search_block_step : 0;
  }
}

bool locate_central_directory(const ZipReader& reader, ZipDirectoryPlace& place) {
  uint64_t end_record_offset = 0;
  if (!find_end_record(reader, end_record_offset)) return false;
  uint8_t record[end_record_size];
  if (!zip_read_at(reader, end_record_offset, record, end_record_size)) return false;
  place.end_record_offset = end_record_offset;

  if (has_zip64_locator(reader, end_record_offset)) {
    if (!read_zip64_end_record(reader, end_record_offset, place)) return false;
  } else {
    if (load_u16(record + 4) != 0 || load_u16(record + 6) != 0) return false;  // several disks
    if (load_u16(record + 8) != load_u16(record + 10)) return false;
    place.entry_count = load_u16(record + 10);
    place.size = load_u32(record + 12);
    place.offset = load_u32(record + 16);
    place.end_records_offset = end_record_offset;
  }
  if (!is_range_inside(place.offset, place.size, place.end_records_offset)) return false;
  return place.size / central_record_size >= place.entry_count;
}
