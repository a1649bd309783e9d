// The row encoding. Version 2:
//   row    = version:u8 item*
//   item   = kind:u8 count:varint level* body
//   level  = archive_kind:u8 flags:u8 index:varint name:text
//   text   = length:varint bytes
//   Image   body = count:u8 (tag:u8 length:u8 bytes)*, numbers little-endian;
//                  the segment sums and the shift-register checksum only
//                  where taken and where the size has them
//   Failure body = message:u8 reason:u8 entry_index:varint
//   Comment body = text
// Every length is checked against the bytes left before it is used: a cache
// file is input like any other, and may have been written by anyone.
#include "cache/cached_results.h"

#include <cstring>

#include "catalogue/sums.h"

namespace {

// Version 1 kept display names relative to the file's: its rows are read
// again.
constexpr uint8_t format_version = 2;
constexpr uint8_t level_named_by_container = 1;
// No walk nests deeper; a row that claims more is not trusted.
constexpr uint64_t most_levels = 64;

enum FieldTag : uint8_t {
  tag_size = 1,
  tag_crc32 = 2,
  tag_sum16 = 3,
  tag_segment_sums = 4,
  tag_shift16 = 5,
  tag_sha256 = 6,
  tag_sha1 = 7,
  tag_md5 = 8,
  tag_headerless = 9,  // applies, size, CRC-32, SHA-1 of the block, the rules' id
};

constexpr uint8_t headerless_field_size = 1 + 8 + 4 + sha1_size + 8;

constexpr uint32_t required_fields = 1u << tag_size | 1u << tag_crc32 | 1u << tag_sum16;

void put_varint(std::string& out, uint64_t value) {
  while (value >= 0x80) {
    out += static_cast<char>((value & 0x7F) | 0x80);
    value >>= 7;
  }
  out += static_cast<char>(value);
}

void put_text(std::string& out, const std::string& text) {
  put_varint(out, text.size());
  out += text;
}

void put_field(std::string& out, uint8_t tag, uint64_t value, uint8_t length) {
  out += static_cast<char>(tag);
  out += static_cast<char>(length);
  for (uint8_t k = 0; k < length; ++k) out += static_cast<char>(value >> (8 * k) & 0xFF);
}

void put_bytes(std::string& out, uint8_t tag, const uint8_t* bytes, uint8_t size) {
  out += static_cast<char>(tag);
  out += static_cast<char>(size);
  out.append(reinterpret_cast<const char*>(bytes), size);
}

void put_le(std::string& out, uint64_t value, int size) {
  for (int k = 0; k < size; ++k) out += static_cast<char>(value >> (8 * k) & 0xFF);
}

void put_headerless(std::string& out, const CachedImage& image) {
  const HeaderlessSummary& block = image.audit.headerless;
  out += static_cast<char>(tag_headerless);
  out += static_cast<char>(headerless_field_size);
  out += static_cast<char>((image.audit.taken & taken_headerless) != 0 ? 1 : 0);
  put_le(out, block.size, 8);
  put_le(out, block.crc, 4);
  out.append(reinterpret_cast<const char*>(block.sha1), sha1_size);
  put_le(out, image.header_rules_id, 8);
}

int bit_count(uint32_t bits) {
  int count = 0;
  for (; bits != 0; bits &= bits - 1) ++count;
  return count;
}

void put_image(std::string& out, const CachedImage& image) {
  constexpr uint32_t known =
      digest_sha256 | digest_sha1 | digest_md5 | digest_headerless | digest_segment_sums | digest_shift16;
  const uint32_t held = image.digests & known & ~mode_sums_held_by_size(image.summary.size);
  out += static_cast<char>(3 + bit_count(held));
  put_field(out, tag_size, image.summary.size, 8);
  put_field(out, tag_crc32, image.summary.crc, 4);
  put_field(out, tag_sum16, image.summary.sum, 2);
  if ((held & digest_segment_sums) != 0) {
    out += static_cast<char>(tag_segment_sums);
    out += static_cast<char>(8);
    for (const uint16_t sum : image.segment_sums) {
      out += static_cast<char>(sum & 0xFF);
      out += static_cast<char>(sum >> 8);
    }
  }
  if ((held & digest_shift16) != 0) put_field(out, tag_shift16, image.shift16, 2);
  if ((held & digest_sha256) != 0) put_bytes(out, tag_sha256, image.summary.sha256, sha256_size);
  if ((held & digest_sha1) != 0) put_bytes(out, tag_sha1, image.audit.sha1, sha1_size);
  if ((held & digest_md5) != 0) put_bytes(out, tag_md5, image.audit.md5, md5_size);
  if ((held & digest_headerless) != 0) put_headerless(out, image);
}

struct Cursor {
  const uint8_t* pos;
  const uint8_t* end;
};

bool take_byte(Cursor& in, uint8_t& out) {
  if (in.pos == in.end) return false;
  out = *in.pos++;
  return true;
}

bool take_varint(Cursor& in, uint64_t& out) {
  out = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    uint8_t byte = 0;
    if (!take_byte(in, byte)) return false;
    out |= uint64_t{byte & 0x7Fu} << shift;
    if ((byte & 0x80) == 0) return true;
  }
  return false;  // longer than any number written
}

bool take_text(Cursor& in, std::string& out) {
  uint64_t length = 0;
  if (!take_varint(in, length)) return false;
  if (length > static_cast<uint64_t>(in.end - in.pos)) return false;
  out.assign(reinterpret_cast<const char*>(in.pos), static_cast<size_t>(length));
  in.pos += length;
  return true;
}

uint64_t little_endian(const uint8_t* bytes, uint8_t length) {
  uint64_t value = 0;
  for (uint8_t k = 0; k < length; ++k) value |= uint64_t{bytes[k]} << (8 * k);
  return value;
}

bool read_headerless(const uint8_t* bytes, uint8_t length, CachedImage& image) {
  if (length != headerless_field_size || bytes[0] > 1) return false;
  HeaderlessSummary& block = image.audit.headerless;
  if (bytes[0] == 1) image.audit.taken |= taken_headerless;
  block.size = little_endian(bytes + 1, 8);
  block.crc = static_cast<uint32_t>(little_endian(bytes + 9, 4));
  std::memcpy(block.sha1, bytes + 13, sha1_size);
  image.header_rules_id = little_endian(bytes + 13 + sha1_size, 8);
  image.digests |= digest_headerless;
  return true;
}

// A known tag of the wrong length is damage, not a newer field.
bool read_field(uint8_t tag, const uint8_t* bytes, uint8_t length, CachedImage& image) {
  switch (tag) {
    case tag_size:
      if (length != 8) return false;
      image.summary.size = little_endian(bytes, length);
      return true;
    case tag_crc32:
      if (length != 4) return false;
      image.summary.crc = static_cast<uint32_t>(little_endian(bytes, length));
      return true;
    case tag_sum16:
      if (length != 2) return false;
      image.summary.sum = static_cast<uint16_t>(little_endian(bytes, length));
      return true;
    case tag_segment_sums:
      if (length != 8) return false;
      for (size_t k = 0; k < 4; ++k) image.segment_sums[k] = static_cast<uint16_t>(little_endian(bytes + 2 * k, 2));
      image.digests |= digest_segment_sums;
      return true;
    case tag_shift16:
      if (length != 2) return false;
      image.shift16 = static_cast<uint16_t>(little_endian(bytes, length));
      image.digests |= digest_shift16;
      return true;
    case tag_sha256:
      if (length != sha256_size) return false;
      std::memcpy(image.summary.sha256, bytes, sha256_size);
      image.digests |= digest_sha256;
      return true;
    case tag_sha1:
      if (length != sha1_size) return false;
      std::memcpy(image.audit.sha1, bytes, sha1_size);
      image.audit.taken |= taken_sha1;
      image.digests |= digest_sha1;
      return true;
    case tag_md5:
      if (length != md5_size) return false;
      std::memcpy(image.audit.md5, bytes, md5_size);
      image.audit.taken |= taken_md5;
      image.digests |= digest_md5;
      return true;
    case tag_headerless:
      return read_headerless(bytes, length, image);
    default:
      return true;  // written by a later version: skipped
  }
}

bool take_image(Cursor& in, CachedImage& image) {
  image = CachedImage{};
  uint8_t count = 0;
  if (!take_byte(in, count)) return false;
  uint32_t seen = 0;
  for (uint8_t k = 0; k < count; ++k) {
    uint8_t tag = 0;
    uint8_t length = 0;
    if (!take_byte(in, tag) || !take_byte(in, length)) return false;
    if (length > in.end - in.pos) return false;
    if (!read_field(tag, in.pos, length, image)) return false;
    if (tag < 32) seen |= 1u << tag;
    in.pos += length;
  }
  if ((seen & required_fields) != required_fields) return false;
  // Sums the size has not are zero, and held.
  const uint32_t not_kept = mode_sums_held_by_size(image.summary.size);
  if ((not_kept & digest_segment_sums) != 0) std::memset(image.segment_sums, 0, sizeof image.segment_sums);
  if ((not_kept & digest_shift16) != 0) image.shift16 = 0;
  image.digests |= not_kept;
  return true;
}

bool take_failure(Cursor& in, CachedItem& item) {
  uint64_t index = 0;
  if (!take_byte(in, item.message) || !take_byte(in, item.reason) || !take_varint(in, index)) return false;
  if (index > UINT32_MAX) return false;
  item.entry_index = static_cast<uint32_t>(index);
  return true;
}

bool take_level(Cursor& in, CachedLevel& level) {
  uint8_t flags = 0;
  uint64_t index = 0;
  if (!take_byte(in, level.archive_kind) || !take_byte(in, flags) || !take_varint(in, index) ||
      !take_text(in, level.name)) {
    return false;
  }
  if (index > UINT32_MAX || (flags & ~level_named_by_container) != 0) return false;
  level.index = static_cast<uint32_t>(index);
  level.named_by_container = (flags & level_named_by_container) != 0;
  return true;
}

bool take_item(Cursor& in, CachedItem& item) {
  uint8_t kind = 0;
  uint64_t count = 0;
  if (!take_byte(in, kind) || !take_varint(in, count) || count > most_levels) return false;
  item.levels.resize(static_cast<size_t>(count));
  for (CachedLevel& level : item.levels) {
    if (!take_level(in, level)) return false;
  }
  item.kind = static_cast<CachedItemKind>(kind);
  switch (item.kind) {
    case CachedItemKind::Image:
      return take_image(in, item.image);
    case CachedItemKind::Failure:
      return take_failure(in, item);
    case CachedItemKind::Comment:
      return take_text(in, item.comment);
  }
  return false;  // an unknown kind cannot be skipped: its length is unknown
}

bool same_images(const CachedImage& a, const CachedImage& b) {
  if (a.summary.size != b.summary.size || a.summary.crc != b.summary.crc || a.summary.sum != b.summary.sum) {
    return false;
  }
  const uint32_t both = a.digests & b.digests;
  if ((both & digest_shift16) != 0 && a.shift16 != b.shift16) return false;
  if ((both & digest_segment_sums) != 0 && std::memcmp(a.segment_sums, b.segment_sums, sizeof a.segment_sums) != 0) {
    return false;
  }
  if ((both & digest_sha256) != 0 && std::memcmp(a.summary.sha256, b.summary.sha256, sha256_size) != 0) return false;
  if ((both & digest_sha1) != 0 && std::memcmp(a.audit.sha1, b.audit.sha1, sha1_size) != 0) return false;
  if ((both & digest_md5) != 0 && std::memcmp(a.audit.md5, b.audit.md5, md5_size) != 0) return false;
  if ((both & digest_headerless) == 0 || a.header_rules_id != b.header_rules_id) return true;
  const HeaderlessSummary& x = a.audit.headerless;
  const HeaderlessSummary& y = b.audit.headerless;
  return (a.audit.taken & taken_headerless) == (b.audit.taken & taken_headerless) && x.size == y.size &&
         x.crc == y.crc && std::memcmp(x.sha1, y.sha1, sha1_size) == 0;
}

bool same_items(const CachedItem& a, const CachedItem& b) {
  if (a.kind != b.kind || a.levels != b.levels) return false;
  switch (a.kind) {
    case CachedItemKind::Image:
      return same_images(a.image, b.image);
    case CachedItemKind::Failure:
      return a.message == b.message && a.reason == b.reason && a.entry_index == b.entry_index;
    case CachedItemKind::Comment:
      return a.comment == b.comment;
  }
  return false;
}

}  // namespace

uint32_t mode_sums_held_by_size(uint64_t size) {
  uint32_t bits = 0;
  if (m1_layout_of(size) == nullptr) bits |= digest_segment_sums;
  if (size != m2_image_size) bits |= digest_shift16;
  return bits;
}

std::string encode_cached_results(const CachedResults& results) {
  std::string out(1, static_cast<char>(format_version));
  for (const CachedItem& item : results.items) {
    out += static_cast<char>(item.kind);
    put_varint(out, item.levels.size());
    for (const CachedLevel& level : item.levels) {
      out += static_cast<char>(level.archive_kind);
      out += static_cast<char>(level.named_by_container ? level_named_by_container : 0);
      put_varint(out, level.index);
      put_text(out, level.name);
    }
    switch (item.kind) {
      case CachedItemKind::Image:
        put_image(out, item.image);
        break;
      case CachedItemKind::Failure:
        out += static_cast<char>(item.message);
        out += static_cast<char>(item.reason);
        put_varint(out, item.entry_index);
        break;
      case CachedItemKind::Comment:
        put_text(out, item.comment);
        break;
    }
  }
  return out;
}

bool decode_cached_results(const uint8_t* bytes, size_t size, CachedResults& results) {
  results.items.clear();
  Cursor in{bytes, bytes + size};
  uint8_t version = 0;
  if (!take_byte(in, version) || version != format_version) return false;
  while (in.pos != in.end) {
    CachedItem item{};
    if (!take_item(in, item)) return false;
    results.items.push_back(std::move(item));
  }
  return true;
}

bool same_cached_results(const CachedResults& a, const CachedResults& b) {
  if (a.items.size() != b.items.size()) return false;
  for (size_t k = 0; k < a.items.size(); ++k) {
    if (!same_items(a.items[k], b.items[k])) return false;
  }
  return true;
}

uint32_t digests_of_every_image(const CachedResults& results) {
  uint32_t digests = ~uint32_t{0};
  for (const CachedItem& item : results.items) {
    if (item.kind == CachedItemKind::Image) digests &= item.image.digests;
  }
  return digests;
}

void add_kept_digests(const CachedResults& kept, CachedResults& fresh) {
  for (size_t k = 0; k < kept.items.size() && k < fresh.items.size(); ++k) {
    const CachedImage& from = kept.items[k].image;
    CachedImage& to = fresh.items[k].image;
    if (kept.items[k].kind != CachedItemKind::Image || fresh.items[k].kind != CachedItemKind::Image) continue;
    const uint32_t missing = from.digests & ~to.digests;
    if ((missing & digest_sha256) != 0) std::memcpy(to.summary.sha256, from.summary.sha256, sha256_size);
    if ((missing & digest_segment_sums) != 0) std::memcpy(to.segment_sums, from.segment_sums, sizeof to.segment_sums);
    if ((missing & digest_shift16) != 0) to.shift16 = from.shift16;
    if ((missing & digest_sha1) != 0) std::memcpy(to.audit.sha1, from.audit.sha1, sha1_size);
    if ((missing & digest_md5) != 0) std::memcpy(to.audit.md5, from.audit.md5, md5_size);
    if ((missing & digest_headerless) != 0) {
      to.audit.headerless = from.audit.headerless;
      to.header_rules_id = from.header_rules_id;
    }
    to.audit.taken |=
        from.audit.taken & ((missing & digest_sha1 ? taken_sha1 : 0) | (missing & digest_md5 ? taken_md5 : 0) |
                            (missing & digest_headerless ? taken_headerless : 0));
    to.digests |= missing;
  }
}
