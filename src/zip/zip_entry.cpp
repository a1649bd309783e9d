// An entry's fields from its central record, with the zip64 extra block.
#include "zip/zip_entry.h"
#include "zip/zip_format.h"
#include "zip/zip_reader.h"

namespace {

// The fields that a zip64 extra block may carry, in the order it holds them.
struct Zip64Fields {
  uint64_t uncompressed_size;
  uint64_t compressed_size;
  uint64_t local_header_offset;
  bool needs_uncompressed_size;
  bool needs_compressed_size;
  bool needs_local_header_offset;
};

// Finds the zip64 block among the extra field's blocks; false when it is
// missing or the blocks before it are broken.
bool find_zip64_block(const uint8_t* extra, uint64_t extra_size, const uint8_t*& data, uint64_t& data_size) {
  uint64_t position = 0;
  while (is_range_inside(position, zip_field::extra_block_head_size, extra_size)) {
    const uint16_t id = load_u16(extra + position + zip_field::extra_block_id);
    const uint64_t size = load_u16(extra + position + zip_field::extra_block_data_size);
    const uint64_t data_offset = position + zip_field::extra_block_head_size;
    if (!is_range_inside(data_offset, size, extra_size)) return false;
    if (id == zip64_extra_id) {
      data = extra + data_offset;
      data_size = size;
      return true;
    }
    position = data_offset + size;
  }
  return false;
}

// Takes the 64-bit values of the fields whose short field is all ones; false
// when the block is too short for them.
bool read_zip64_fields(const uint8_t* extra, uint64_t extra_size, Zip64Fields& fields) {
  const uint8_t* data = nullptr;
  uint64_t data_size = 0;
  if (!find_zip64_block(extra, extra_size, data, data_size)) return false;
  const uint64_t needed =
      8 * (uint64_t{fields.needs_uncompressed_size} + fields.needs_compressed_size + fields.needs_local_header_offset);
  if (data_size < needed) return false;
  if (fields.needs_uncompressed_size) {
    fields.uncompressed_size = load_u64(data);
    data += 8;
  }
  if (fields.needs_compressed_size) {
    fields.compressed_size = load_u64(data);
    data += 8;
  }
  if (fields.needs_local_header_offset) fields.local_header_offset = load_u64(data);
  return true;
}

// Open checked that the record, name, extra field and comment are inside
// the central directory.
const uint8_t* central_record(const ZipReader& reader, uint32_t index) {
  return reader.central_directory + reader.entries[index].record_offset;
}

// The recorded offset moved by the archive's shift; an offset moved out of
// the 64-bit range becomes one past any archive, so that its entry fails alone.
uint64_t shifted_offset(uint64_t recorded, int64_t shift) {
  if (shift >= 0) {
    const auto forward = static_cast<uint64_t>(shift);
    return recorded <= UINT64_MAX - forward ? recorded + forward : UINT64_MAX;
  }
  const uint64_t back = static_cast<uint64_t>(-(shift + 1)) + 1;
  return recorded >= back ? recorded - back : UINT64_MAX;
}

}  // namespace

uint32_t zip_entry_count(const ZipReader& reader) {
  return reader.entry_count;
}

bool zip_stat_entry(const ZipReader& reader, uint32_t index, ZipEntryStat& stat) {
  if (index >= reader.entry_count) return false;
  const uint8_t* record = central_record(reader, index);
  const uint32_t compressed_size = load_u32(record + zip_field::central_compressed_size);
  const uint32_t uncompressed_size = load_u32(record + zip_field::central_uncompressed_size);
  const uint16_t name_size = load_u16(record + zip_field::central_name_size);
  const uint16_t extra_size = load_u16(record + zip_field::central_extra_size);
  const uint32_t local_header_offset = load_u32(record + zip_field::central_local_header_offset);
  Zip64Fields fields{uncompressed_size,
                     compressed_size,
                     local_header_offset,
                     uncompressed_size == zip64_marker_32,
                     compressed_size == zip64_marker_32,
                     local_header_offset == zip64_marker_32};
  // The disk number that follows these fields is not needed: one disk only.
  if ((fields.needs_uncompressed_size || fields.needs_compressed_size || fields.needs_local_header_offset) &&
      !read_zip64_fields(record + central_record_size + name_size, extra_size, fields)) {
    return false;
  }
  stat.name = reader.names + reader.entries[index].name_offset;
  stat.name_size = name_size;
  stat.compressed_size = fields.compressed_size;
  stat.uncompressed_size = fields.uncompressed_size;
  stat.local_header_offset = shifted_offset(fields.local_header_offset, reader.offset_shift);
  stat.crc32 = load_u32(record + zip_field::central_crc);
  stat.external_attributes = load_u32(record + zip_field::central_external_attributes);
  stat.method = load_u16(record + zip_field::central_method);
  stat.flags = load_u16(record + zip_field::central_flags);
  return true;
}

bool zip_entry_is_directory(const ZipReader& reader, uint32_t index) {
  if (index >= reader.entry_count) return false;
  const uint8_t* record = central_record(reader, index);
  const uint16_t name_size = load_u16(record + zip_field::central_name_size);
  if (name_size > 0 && record[central_record_size + name_size - 1] == '/') return true;
  return (load_u32(record + zip_field::central_external_attributes) & dos_directory_attribute) != 0;
}
