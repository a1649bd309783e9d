// Zip record signatures, sizes, field offsets, method ids and flag bits,
// each named once, and the little-endian field loaders.
#pragma once

#include <cstdint>

inline constexpr uint32_t end_record_signature = 0x06054B50;
inline constexpr uint32_t zip64_locator_signature = 0x07064B50;
inline constexpr uint32_t zip64_end_record_signature = 0x06064B50;
inline constexpr uint32_t central_record_signature = 0x02014B50;
inline constexpr uint32_t local_header_signature = 0x04034B50;
inline constexpr uint32_t data_descriptor_signature = 0x08074B50;

inline constexpr uint64_t end_record_size = 22;
inline constexpr uint64_t max_comment_size = 65535;
inline constexpr uint64_t zip64_locator_size = 20;
inline constexpr uint64_t zip64_end_record_size = 56;       // without its extensible data
inline constexpr uint64_t zip64_end_record_lead_size = 12;  // signature and size field
inline constexpr uint64_t central_record_size = 46;         // without name, extra, comment
inline constexpr uint64_t local_header_size = 30;           // without name and extra

inline constexpr uint16_t zip64_extra_id = 0x0001;
inline constexpr uint16_t zip64_marker_16 = 0xFFFF;
inline constexpr uint32_t zip64_marker_32 = 0xFFFFFFFF;

inline constexpr uint16_t method_stored = 0;
inline constexpr uint16_t method_deflate = 8;
inline constexpr uint16_t method_deflate64 = 9;
inline constexpr uint16_t method_bzip2 = 12;
inline constexpr uint16_t method_lzma = 14;
inline constexpr uint16_t method_zstd = 93;
inline constexpr uint16_t method_xz = 95;

// General purpose flag bits.
inline constexpr uint16_t flag_encrypted = 0x0001;
inline constexpr uint16_t flag_data_descriptor = 0x0008;
inline constexpr uint16_t flag_patch_data = 0x0020;
inline constexpr uint16_t flag_strong_encryption = 0x0040;
// Entries with any of these cannot be unpacked by a reader without keys or
// the patched file.
inline constexpr uint16_t refused_flags = flag_encrypted | flag_patch_data | flag_strong_encryption;

inline constexpr uint32_t dos_directory_attribute = 0x10;

// Field offsets from the start of each record, after its signature's 4 bytes.
namespace zip_field {
inline constexpr uint64_t end_this_disk = 4;
inline constexpr uint64_t end_directory_disk = 6;
inline constexpr uint64_t end_entries_on_disk = 8;
inline constexpr uint64_t end_entries = 10;
inline constexpr uint64_t end_directory_size = 12;
inline constexpr uint64_t end_directory_offset = 16;
inline constexpr uint64_t end_comment_size = 20;
inline constexpr uint64_t locator_record_disk = 4;
inline constexpr uint64_t locator_record_offset = 8;
inline constexpr uint64_t locator_total_disks = 16;
inline constexpr uint64_t zip64_rest_size = 4;
inline constexpr uint64_t zip64_this_disk = 16;
inline constexpr uint64_t zip64_directory_disk = 20;
inline constexpr uint64_t zip64_entries_on_disk = 24;
inline constexpr uint64_t zip64_entries = 32;
inline constexpr uint64_t zip64_directory_size = 40;
inline constexpr uint64_t zip64_directory_offset = 48;
inline constexpr uint64_t central_flags = 8;
inline constexpr uint64_t central_method = 10;
inline constexpr uint64_t central_crc = 16;
inline constexpr uint64_t central_compressed_size = 20;
inline constexpr uint64_t central_uncompressed_size = 24;
inline constexpr uint64_t central_name_size = 28;
inline constexpr uint64_t central_extra_size = 30;
inline constexpr uint64_t central_comment_size = 32;
inline constexpr uint64_t central_external_attributes = 38;
inline constexpr uint64_t central_local_header_offset = 42;
inline constexpr uint64_t local_name_size = 26;
inline constexpr uint64_t local_extra_size = 28;
// An extra field's blocks: id, data size, data.
inline constexpr uint64_t extra_block_id = 0;
inline constexpr uint64_t extra_block_data_size = 2;
inline constexpr uint64_t extra_block_head_size = 4;
}  // namespace zip_field

// The caller has checked that the bytes are there.
inline uint16_t load_u16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t load_u32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t load_u64(const uint8_t* p) {
  return uint64_t(load_u32(p)) | uint64_t(load_u32(p + 4)) << 32;
}

// True when [offset, offset + size) lies within [0, limit), without overflow.
inline bool is_range_inside(uint64_t offset, uint64_t size, uint64_t limit) {
  return offset <= limit && size <= limit - offset;
}
