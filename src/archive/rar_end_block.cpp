// Follows a RAR archive's chain of blocks by their sizes alone, from the
// signature to the end block or the end of the bytes, reading only headers.
// RAR 5: each header is its CRC-32, its size (a variable length integer of
// 7 bits a byte, low first), then type, flags, an extra area size and a
// data area size when the flags say so; the data area follows the header.
// RAR 4: each block is a 16-bit CRC, type, flags and a 16-bit header size,
// with a 32-bit data size after them when flag 0x8000 is set (and its high
// half further on in a large file header).
#include "archive/rar_end_block.h"

#include <libdeflate.h>

#include <cstring>

namespace {

// How the chain goes on after a block: to the next one, or not.
enum class Ending : uint8_t { Next, EndBlock, AtBlockBoundary, CutShort, Unknown };

constexpr uint8_t rar4_marker[] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
constexpr uint8_t rar5_signature[] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};

constexpr uint64_t rar5_largest_header = uint64_t{2} << 20;  // the format's bound
constexpr uint64_t rar5_end_header = 5;
constexpr uint64_t rar5_encryption_header = 4;
constexpr uint64_t rar5_has_extra_area = 0x0001;
constexpr uint64_t rar5_has_data_area = 0x0002;
constexpr size_t rar5_crc_size = 4;
constexpr size_t largest_vint_size = 10;

constexpr uint8_t rar4_file_block = 0x74;
constexpr uint8_t rar4_subblock = 0x7A;
constexpr uint8_t rar4_end_block = 0x7B;
constexpr uint16_t rar4_has_data_size = 0x8000;
constexpr uint16_t rar4_large_file = 0x0100;
constexpr size_t rar4_block_start_size = 7;    // CRC, type, flags, header size
constexpr size_t rar4_data_size_end = 11;      // the 32-bit data size after them
constexpr size_t rar4_high_data_size_at = 32;  // in a large file header
constexpr size_t rar4_large_file_start_size = 36;

uint32_t load_u16(const uint8_t* bytes) {
  return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8;
}

uint32_t load_u32(const uint8_t* bytes) {
  return load_u16(bytes) | load_u16(bytes + 2) << 16;
}

// A variable length integer at bytes[at] in [0, size); false when it runs
// past them or past 64 bits.
bool read_vint(const uint8_t* bytes, size_t size, size_t& at, uint64_t& value) {
  value = 0;
  for (unsigned shift = 0; at < size && shift < 64; shift += 7) {
    const uint8_t byte = bytes[at++];
    value |= uint64_t{byte & 0x7Fu} << shift;
    if ((byte & 0x80) == 0) return true;
  }
  return false;
}

bool starts_with(const ArchiveSource& source, const uint8_t* signature, size_t size) {
  uint8_t bytes[8];
  return archive_source_read_at(source, 0, bytes, size) && std::memcmp(bytes, signature, size) == 0;
}

// The CRC-32 of `size` bytes at `offset`, read a small piece at a time.
bool crc32_at(const ArchiveSource& source, uint64_t offset, uint64_t size, uint32_t& crc) {
  uint8_t piece[4096];
  crc = 0;
  while (size != 0) {
    const size_t wanted = size < sizeof piece ? static_cast<size_t>(size) : sizeof piece;
    if (!archive_source_read_at(source, offset, piece, wanted)) return false;
    crc = libdeflate_crc32(crc, piece, wanted);
    offset += wanted;
    size -= wanted;
  }
  return true;
}

// The RAR 5 header at `position`, before the end of the bytes: Next with
// `position` moved to the next one, or how the chain ends.
Ending follow_rar5_header(const ArchiveSource& source, uint64_t& position) {
  const uint64_t left = source.size - position;
  uint8_t head[rar5_crc_size + 4 * largest_vint_size];  // CRC-32, size, type, flags, extra size, data size
  const size_t got = left < sizeof head ? static_cast<size_t>(left) : sizeof head;
  if (!archive_source_read_at(source, position, head, got)) return Ending::Unknown;
  size_t at = rar5_crc_size;
  uint64_t header_size = 0;
  if (!read_vint(head, got, at, header_size)) return got < sizeof head ? Ending::CutShort : Ending::Unknown;
  if (header_size == 0 || header_size > rar5_largest_header) return Ending::Unknown;
  const uint64_t header_start = position + at;
  if (header_size > source.size - header_start) return Ending::CutShort;
  uint32_t crc = 0;
  if (!crc32_at(source, position + rar5_crc_size, at - rar5_crc_size + header_size, crc) || crc != load_u32(head)) {
    return Ending::Unknown;
  }
  const size_t fields_end = at + header_size < got ? static_cast<size_t>(at + header_size) : got;
  uint64_t type = 0;
  uint64_t flags = 0;
  uint64_t extra_size = 0;
  uint64_t data_size = 0;
  if (!read_vint(head, fields_end, at, type) || !read_vint(head, fields_end, at, flags)) return Ending::Unknown;
  if (type == rar5_end_header) return Ending::EndBlock;
  if (type == rar5_encryption_header) return Ending::Unknown;
  if ((flags & rar5_has_extra_area) != 0 && !read_vint(head, fields_end, at, extra_size)) return Ending::Unknown;
  if ((flags & rar5_has_data_area) != 0 && !read_vint(head, fields_end, at, data_size)) return Ending::Unknown;
  const uint64_t data_start = header_start + header_size;
  if (data_size > source.size - data_start) return Ending::CutShort;
  position = data_start + data_size;
  return source.size == position ? Ending::AtBlockBoundary : Ending::Next;
}

Ending follow_rar5(const ArchiveSource& source) {
  uint64_t position = sizeof rar5_signature;
  if (position == source.size) return Ending::AtBlockBoundary;
  for (;;) {
    const Ending ending = follow_rar5_header(source, position);
    if (ending != Ending::Next) return ending;
  }
}

// The RAR 4 block at `position`, which has bytes after it, likewise.
Ending follow_rar4_block(const ArchiveSource& source, uint64_t& position) {
  const uint64_t left = source.size - position;
  uint8_t head[rar4_large_file_start_size];
  const size_t got = left < sizeof head ? static_cast<size_t>(left) : sizeof head;
  if (!archive_source_read_at(source, position, head, got)) return Ending::Unknown;
  if (got < rar4_block_start_size) return Ending::CutShort;
  const uint8_t type = head[2];
  const uint32_t flags = load_u16(head + 3);
  const uint32_t header_size = load_u16(head + 5);
  if (type == rar4_end_block) return Ending::EndBlock;
  if (header_size < rar4_block_start_size) return Ending::Unknown;
  uint64_t data_size = 0;
  if ((flags & rar4_has_data_size) != 0) {
    if (header_size < rar4_data_size_end) return Ending::Unknown;
    if (got < rar4_data_size_end) return Ending::CutShort;
    data_size = load_u32(head + rar4_block_start_size);
  }
  if ((type == rar4_file_block || type == rar4_subblock) && (flags & rar4_large_file) != 0) {
    if (header_size < rar4_large_file_start_size) return Ending::Unknown;
    if (got < rar4_large_file_start_size) return Ending::CutShort;
    data_size |= uint64_t{load_u32(head + rar4_high_data_size_at)} << 32;
  }
  if (header_size > left || data_size > left - header_size) return Ending::CutShort;
  position += header_size + data_size;
  return source.size == position ? Ending::AtBlockBoundary : Ending::Next;
}

Ending follow_rar4(const ArchiveSource& source) {
  uint64_t position = sizeof rar4_marker;
  if (position == source.size) return Ending::AtBlockBoundary;
  for (;;) {
    const Ending ending = follow_rar4_block(source, position);
    if (ending != Ending::Next) return ending;
  }
}

}  // namespace

bool rar_is_cut_short(const ArchiveSource& source) {
  if (starts_with(source, rar5_signature, sizeof rar5_signature)) {
    const Ending ending = follow_rar5(source);
    return ending == Ending::AtBlockBoundary || ending == Ending::CutShort;
  }
  if (starts_with(source, rar4_marker, sizeof rar4_marker)) return follow_rar4(source) == Ending::CutShort;
  return false;
}
