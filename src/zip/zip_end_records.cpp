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
#include "zip/zip_source.h"

namespace {

constexpr uint64_t search_block_size = 4096;
constexpr uint64_t search_block_step = search_block_size - 3;
constexpr uint64_t search_reach = max_comment_size + end_record_size;

// A zip64 end record at `offset` that ends before the locator.
bool is_zip64_end_record_at(const ZipReader& reader, uint64_t offset, uint64_t locator_offset, uint8_t* record) {
  if (!is_range_inside(offset, zip64_end_record_size, locator_offset)) return false;
  if (!zip_read_at(reader, offset, record, zip64_end_record_size)) return false;
  if (load_u32(record) != zip64_end_record_signature) return false;
  const uint64_t rest_size = load_u64(record + zip_field::zip64_rest_size);
  return rest_size >= zip64_end_record_size - zip64_end_record_lead_size &&
         is_range_inside(offset + zip64_end_record_lead_size, rest_size, locator_offset);
}

bool read_zip64_end_record(const ZipReader& reader, uint64_t end_record_offset, ZipDirectoryPlace& place) {
  uint8_t locator[zip64_locator_size];
  const uint64_t locator_offset = end_record_offset - zip64_locator_size;
  if (!zip_read_at(reader, locator_offset, locator, zip64_locator_size)) return false;
  uint64_t record_offset = load_u64(locator + zip_field::locator_record_offset);
  const uint32_t total_disks = load_u32(locator + zip_field::locator_total_disks);
  // Some writers put 0 in the disk total; both 0 and 1 mean one disk.
  if (load_u32(locator + zip_field::locator_record_disk) != 0 || total_disks > 1) return false;

  uint8_t record[zip64_end_record_size];
  if (!is_zip64_end_record_at(reader, record_offset, locator_offset, record)) {
    // Bytes added to or cut from the front move the record away from its
    // recorded offset; without extensible data it sits right before the locator.
    if (locator_offset < zip64_end_record_size) return false;
    record_offset = locator_offset - zip64_end_record_size;
    if (!is_zip64_end_record_at(reader, record_offset, locator_offset, record)) return false;
  }
  // Only this disk's number tells a split set; see locate_central_directory.
  if (load_u32(record + zip_field::zip64_this_disk) != 0) return false;
  place.entries_on_disk = load_u64(record + zip_field::zip64_entries_on_disk);
  place.entries = load_u64(record + zip_field::zip64_entries);
  place.counts_are_16_bit = false;
  place.size = load_u64(record + zip_field::zip64_directory_size);
  place.offset = load_u64(record + zip_field::zip64_directory_offset);
  place.end_records_offset = record_offset;
  return true;
}

bool has_signature_at(const ZipReader& reader, uint64_t offset, uint32_t signature) {
  uint8_t bytes[4];
  return zip_read_at(reader, offset, bytes, sizeof bytes) && load_u32(bytes) == signature;
}

// The directory is where the end records say, unless no central record
// starts there but one starts where the directory must be, right before the
// end records: bytes were then added to or cut from the front of the
// archive, and every recorded offset is off by the same amount. A saturated
// field, or an archive that announces no entries, is never moved.
bool place_directory(const ZipReader& reader, ZipDirectoryPlace& place, bool may_move) {
  const bool recorded_inside = is_range_inside(place.offset, place.size, place.end_records_offset);
  if (!may_move || (place.entries == 0 && place.entries_on_disk == 0) || place.size < central_record_size ||
      place.size > place.end_records_offset ||
      (recorded_inside && has_signature_at(reader, place.offset, central_record_signature))) {
    return recorded_inside;
  }
  const uint64_t actual = place.end_records_offset - place.size;
  if (!has_signature_at(reader, actual, central_record_signature)) return recorded_inside;
  // Both lie within an archive whose size fits a signed 64-bit value, except
  // a recorded offset past it.
  if (place.offset > actual && place.offset - actual > uint64_t{INT64_MAX}) return false;
  place.offset_shift = place.offset > actual ? -static_cast<int64_t>(place.offset - actual)
                                             : static_cast<int64_t>(actual - place.offset);
  place.offset = actual;
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

  bool saturated = false;
  if (has_zip64_locator(reader, end_record_offset)) {
    if (!read_zip64_end_record(reader, end_record_offset, place)) return false;
  } else {
    // The end record is on the last disk, so this disk 0 means one disk: the
    // number of the disk holding the directory can then only be 0 or garbage,
    // and is not read. A split set (this disk past 0) is refused.
    if (load_u16(record + zip_field::end_this_disk) != 0) return false;
    place.entries_on_disk = load_u16(record + zip_field::end_entries_on_disk);
    place.entries = load_u16(record + zip_field::end_entries);
    place.counts_are_16_bit = true;
    place.size = load_u32(record + zip_field::end_directory_size);
    place.offset = load_u32(record + zip_field::end_directory_offset);
    place.end_records_offset = end_record_offset;
    saturated = place.size == zip64_marker_32 || place.offset == zip64_marker_32;
  }
  if (!place_directory(reader, place, !saturated)) return false;
  // The count that is to agree with the records walked must fit the
  // directory; either count may be the one.
  const uint64_t fewer = place.entries < place.entries_on_disk ? place.entries : place.entries_on_disk;
  return place.size / central_record_size >= fewer;
}

namespace {

// A count agrees when it is the number walked or, past 65,535 records, that
// number modulo 65,536; a 16-bit count of 0xFFFF is a promise of zip64
// records, not a wrap.
bool count_agrees(uint64_t announced, uint64_t walked, bool is_16_bit) {
  if (announced == walked) return true;
  if (is_16_bit && announced == zip64_marker_16) return false;
  return walked > 0xFFFF && announced == (walked & 0xFFFF);
}

}  // namespace

// On one disk the two counts repeat each other, and writers get one or the
// other wrong: one that agrees ties the end records to this directory. The
// records walked, never a count, say how many entries there are.
bool directory_counts_agree(const ZipDirectoryPlace& place, uint64_t walked) {
  return walked <= UINT32_MAX && (count_agrees(place.entries, walked, place.counts_are_16_bit) ||
                                  count_agrees(place.entries_on_disk, walked, place.counts_are_16_bit));
}
