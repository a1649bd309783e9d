// The TorrentZip records: every field fixed but the name, sizes, CRC-32 and
// offsets; no extra field but zip64's, and that only when a value needs it.
#include "rebuild/torrentzip_format.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "zip/zip_format.h"

namespace {

uint8_t* put_u16(uint8_t* out, uint16_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
  return out + 2;
}

uint8_t* put_u32(uint8_t* out, uint32_t value) {
  for (int k = 0; k < 4; ++k) out[k] = static_cast<uint8_t>(value >> (8 * k));
  return out + 4;
}

uint8_t* put_u64(uint8_t* out, uint64_t value) {
  return put_u32(put_u32(out, static_cast<uint32_t>(value)), static_cast<uint32_t>(value >> 32));
}

uint8_t* put_bytes(uint8_t* out, const void* bytes, size_t size) {
  if (size != 0) std::memcpy(out, bytes, size);
  return out + size;
}

// The marker, but for tests that make small values take the zip64 path.
std::atomic<uint64_t> g_zip64_threshold{zip64_marker_32};

bool needs_zip64(uint64_t value) {
  return value >= g_zip64_threshold.load(std::memory_order_relaxed);
}

uint32_t field_or_marker(uint64_t value) {
  return needs_zip64(value) ? zip64_marker_32 : static_cast<uint32_t>(value);
}

bool is_ascii(const char* name, uint32_t size) {
  for (uint32_t k = 0; k < size; ++k) {
    if (static_cast<unsigned char>(name[k]) >= 0x80) return false;
  }
  return true;
}

uint16_t flags_of(const TorrentZipFields& fields) {
  return is_ascii(fields.name, fields.name_size) ? torrentzip_flags : torrentzip_flags | torrentzip_utf8_flag;
}

// The zip64 extra field's data size: eight bytes per value that needs it.
uint16_t zip64_data_size(const TorrentZipFields& fields, bool central) {
  int values = int{needs_zip64(fields.size)} + int{needs_zip64(fields.compressed_size)};
  if (central) values += int{needs_zip64(fields.local_header_offset)};
  return static_cast<uint16_t>(8 * values);
}

uint8_t* put_zip64_extra(const TorrentZipFields& fields, bool central, uint8_t* out) {
  const uint16_t data_size = zip64_data_size(fields, central);
  if (data_size == 0) return out;
  out = put_u16(put_u16(out, zip64_extra_id), data_size);
  if (needs_zip64(fields.size)) out = put_u64(out, fields.size);
  if (needs_zip64(fields.compressed_size)) out = put_u64(out, fields.compressed_size);
  if (central && needs_zip64(fields.local_header_offset)) out = put_u64(out, fields.local_header_offset);
  return out;
}

uint16_t extra_size(const TorrentZipFields& fields, bool central) {
  const uint16_t data_size = zip64_data_size(fields, central);
  return data_size == 0 ? 0 : static_cast<uint16_t>(4 + data_size);
}

// From the version needed to the extra field's size: the same in both records.
uint8_t* put_common_fields(const TorrentZipFields& fields, bool central, uint8_t* out) {
  const uint16_t extra = extra_size(fields, central);
  out = put_u16(out, extra == 0 ? torrentzip_version : torrentzip_zip64_version);
  out = put_u16(out, flags_of(fields));
  out = put_u16(out, method_deflate);
  out = put_u16(out, torrentzip_time);
  out = put_u16(out, torrentzip_date);
  out = put_u32(out, fields.crc);
  out = put_u32(out, field_or_marker(fields.compressed_size));
  out = put_u32(out, field_or_marker(fields.size));
  out = put_u16(out, static_cast<uint16_t>(fields.name_size));
  return put_u16(out, extra);
}

}  // namespace

void set_zip64_threshold_for_tests(uint64_t threshold) {
  g_zip64_threshold.store(threshold, std::memory_order_relaxed);
}

bool torrentzip_name_less(const char* a, const char* b) {
  const auto folded = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : int{c}; };
  const auto* left = reinterpret_cast<const unsigned char*>(a);
  const auto* right = reinterpret_cast<const unsigned char*>(b);
  size_t k = 0;
  while (left[k] != 0 && folded(left[k]) == folded(right[k])) ++k;
  if (folded(left[k]) != folded(right[k])) return folded(left[k]) < folded(right[k]);
  return std::strcmp(a, b) < 0;
}

size_t local_header_length(const TorrentZipFields& fields) {
  return local_header_size + fields.name_size + extra_size(fields, false);
}

size_t put_local_header(const TorrentZipFields& fields, uint8_t* out) {
  uint8_t* at = put_u32(out, local_header_signature);
  at = put_common_fields(fields, false, at);
  at = put_bytes(at, fields.name, fields.name_size);
  return static_cast<size_t>(put_zip64_extra(fields, false, at) - out);
}

size_t put_central_record(const TorrentZipFields& fields, uint8_t* out) {
  uint8_t* at = put_u32(out, central_record_signature);
  at = put_u16(at, 0);  // version made by
  at = put_common_fields(fields, true, at);
  at = put_u16(at, 0);  // comment size
  at = put_u16(at, 0);  // disk
  at = put_u16(at, 0);  // internal attributes
  at = put_u32(at, 0);  // external attributes
  at = put_u32(at, field_or_marker(fields.local_header_offset));
  at = put_bytes(at, fields.name, fields.name_size);
  return static_cast<size_t>(put_zip64_extra(fields, true, at) - out);
}

size_t put_end_records(uint64_t entry_count, uint64_t directory_offset, uint64_t directory_size, uint32_t directory_crc,
                       uint8_t* out) {
  const bool count_overflows = entry_count >= zip64_marker_16;
  const bool zip64 = count_overflows || needs_zip64(directory_offset) || needs_zip64(directory_size);
  uint8_t* at = out;
  if (zip64) {
    const uint64_t zip64_end_offset = directory_offset + directory_size;
    at = put_u32(at, zip64_end_record_signature);
    at = put_u64(at, zip64_end_record_size - zip64_end_record_lead_size);
    at = put_u16(put_u16(at, torrentzip_zip64_version), torrentzip_zip64_version);
    at = put_u32(put_u32(at, 0), 0);  // this disk, the directory's disk
    at = put_u64(put_u64(at, entry_count), entry_count);
    at = put_u64(put_u64(at, directory_size), directory_offset);
    at = put_u32(put_u32(at, zip64_locator_signature), 0);
    at = put_u32(put_u64(at, zip64_end_offset), 1);  // one disk in all
  }
  const uint16_t count = count_overflows ? zip64_marker_16 : static_cast<uint16_t>(entry_count);
  at = put_u32(at, end_record_signature);
  at = put_u16(put_u16(at, 0), 0);
  at = put_u16(put_u16(at, count), count);
  at = put_u32(put_u32(at, field_or_marker(directory_size)), field_or_marker(directory_offset));
  at = put_u16(at, static_cast<uint16_t>(torrentzip_comment_size));
  char comment[torrentzip_comment_size + 1];
  std::snprintf(comment, sizeof comment, "%s%08X", torrentzip_comment_prefix, static_cast<unsigned>(directory_crc));
  at = put_bytes(at, comment, torrentzip_comment_size);
  return static_cast<size_t>(at - out);
}
