// The TorrentZip form's fixed choices and its records, built byte for byte:
// one home for the writer and for the check of an existing archive, so that
// both agree on every field.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint16_t torrentzip_time = 48128;  // 23:32:00
inline constexpr uint16_t torrentzip_date = 8600;   // 1996-12-24
inline constexpr uint16_t torrentzip_flags = 2;     // deflate at its best compression
inline constexpr uint16_t torrentzip_utf8_flag = 0x800;
inline constexpr uint16_t torrentzip_version = 20;
inline constexpr uint16_t torrentzip_zip64_version = 45;
inline constexpr int torrentzip_level = 9;
inline constexpr int torrentzip_window_bits = -15;  // raw deflate
inline constexpr int torrentzip_mem_level = 8;
inline constexpr char torrentzip_comment_prefix[] = "TORRENTZIPPED-";
inline constexpr size_t torrentzip_comment_size = sizeof torrentzip_comment_prefix - 1 + 8;

// The largest each record can be past its fixed part and name.
inline constexpr size_t max_local_zip64_extra = 4 + 16;
inline constexpr size_t max_central_zip64_extra = 4 + 24;
inline constexpr size_t max_end_records_size = 56 + 20 + 22 + torrentzip_comment_size;

// True when `a` sorts before `b`: bytes compared with ASCII A-Z lower-cased,
// ties (names that differ only in case) broken by the plain bytes.
bool torrentzip_name_less(const char* a, const char* b);

// What one entry's records hold besides the fixed fields.
struct TorrentZipFields {
  const char* name;
  uint32_t name_size;
  uint64_t size;
  uint64_t compressed_size;
  uint32_t crc;
  uint64_t local_header_offset;
};

// The bytes of each record, written to `out`, which has room for the fixed
// part, the name and the largest zip64 extra. Values at or past a field's
// marker go to a zip64 extra field (only those), the field holding the marker.
size_t local_header_length(const TorrentZipFields& fields);
size_t put_local_header(const TorrentZipFields& fields, uint8_t* out);
size_t put_central_record(const TorrentZipFields& fields, uint8_t* out);

// The end records after a central directory of `entry_count` records at
// `directory_offset`, `directory_size` bytes long, whose CRC-32 is
// `directory_crc`: with a zip64 end record and locator when a count or an
// offset reaches its marker. `out` holds max_end_records_size bytes.
size_t put_end_records(uint64_t entry_count, uint64_t directory_offset, uint64_t directory_size, uint32_t directory_crc,
                       uint8_t* out);

// Test seam: sizes and offsets from `threshold` on take the zip64 path
// (their fields then hold the marker, so readers still agree). The default
// is the marker, 0xFFFFFFFF.
void set_zip64_threshold_for_tests(uint64_t threshold);
