// Zip record signatures, sizes and the little-endian field loaders.
#pragma once

#include <cstdint>

inline constexpr uint32_t end_record_signature = 0x06054B50;
inline constexpr uint32_t zip64_locator_signature = 0x07064B50;
inline constexpr uint32_t zip64_end_record_signature = 0x06064B50;
inline constexpr uint32_t central_record_signature = 0x02014B50;
inline constexpr uint32_t local_header_signature = 0x04034B50;

inline constexpr uint64_t end_record_size = 22;
inline constexpr uint64_t max_comment_size = 65535;
inline constexpr uint64_t zip64_locator_size = 20;
inline constexpr uint64_t zip64_end_record_size = 56;       // without its extensible data
inline constexpr uint64_t zip64_end_record_lead_size = 12;  // signature and size field
inline constexpr uint64_t central_record_size = 46;         // without name, extra, comment
inline constexpr uint64_t local_header_size = 30;           // without name and extra

inline constexpr uint16_t zip64_extra_id = 0x0001;
inline constexpr uint32_t zip64_marker_32 = 0xFFFFFFFF;

inline constexpr uint16_t method_stored = 0;
inline constexpr uint16_t method_deflate = 8;
inline constexpr uint32_t dos_directory_attribute = 0x10;

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
