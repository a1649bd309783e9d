// A test-only zip writer that writes raw records and can be told to lie:
// sizes, CRC, flags, methods, names, comment lengths, zip64 records, shared
// local headers, bytes before and after the archive. Tests build fixtures
// with it, nested archives included (an archive's bytes as an entry's
// content), and patch single fields through the offsets it reports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/test_bytes.h"
#include "zip/zip_format.h"

struct ZipEntryPlan {
  std::string name;
  std::string content;  // the bytes the entry holds once unpacked
  // 0: content stored; 8: content deflated here; any other: content written
  // as the data, unchanged.
  uint16_t method = 0;
  uint16_t flags = 0;  // general purpose flags, in both headers
  uint32_t external_attributes = 0;
  uint16_t version_made_by = 0x031E;  // Unix, zip 3.0

  // Lies, written in both headers unless the data descriptor hides them
  // from the local one; left empty, the true value is written.
  std::optional<uint32_t> crc32;
  std::optional<uint64_t> compressed_size;
  std::optional<uint64_t> uncompressed_size;
  std::optional<std::string> data;  // written as the entry's data instead of the packed content

  // Sizes and local header offset as 0xFFFFFFFF with a zip64 extra block
  // (both headers); zip64_extra_size cuts the central block's data short.
  bool zip64 = false;
  std::optional<uint16_t> zip64_extra_size;
  // Flag bit 3: zero CRC and sizes in the local header, a signed data
  // descriptor after the data.
  bool data_descriptor = false;
  std::string central_extra;  // more raw extra blocks
  std::string local_extra;
  std::optional<std::string> local_name;  // the local header's name, when it differs
  std::string entry_comment;
  // Writes no local header or data: the central record points at the local
  // header of the entry with this index (which must come earlier).
  std::optional<size_t> shares_local_header_of;
};

struct ZipPlan {
  std::vector<ZipEntryPlan> entries;
  std::string comment;
  std::optional<uint16_t> comment_size;  // the length the end record states, when it lies
  bool zip64 = false;                    // zip64 end record and locator; the end record says 0xFFFF...
  std::string prefix;                    // bytes before the first local header
  // False: offsets count from the end of the prefix, as when bytes are
  // prepended to a finished archive.
  bool offsets_count_prefix = true;
  std::string suffix;  // bytes after the comment
};

// The archive and where its records are, from the start of `bytes`.
struct ZipLayout {
  std::string bytes;
  std::vector<uint64_t> local_header_offsets;  // per entry; shared ones repeat
  std::vector<uint64_t> data_offsets;
  std::vector<uint64_t> central_record_offsets;
  uint64_t central_directory_offset = 0;
  uint64_t central_directory_size = 0;
  std::optional<uint64_t> zip64_end_record_offset;
  std::optional<uint64_t> zip64_locator_offset;
  uint64_t end_record_offset = 0;
};

// Plain entries and archives, for tests to adjust field by field.
ZipEntryPlan stored_entry(std::string name, std::string content);
ZipEntryPlan deflated_entry(std::string name, std::string content);
ZipPlan zip_of(std::vector<ZipEntryPlan> entries);

ZipLayout build_zip_layout(const ZipPlan& plan);
std::string build_zip(const ZipPlan& plan);

// An end record alone: no entries, or whatever the fields say.
std::string bare_end_record(uint16_t entries = 0, uint32_t directory_size = 0, uint32_t directory_offset = 0,
                            uint16_t comment_size = 0);

// Raw deflate (no wrapper) at level 6.
std::string deflate_bytes(const std::string& raw);

// Little-endian writes into existing bytes, for patching one field.
void put_u16(std::string& bytes, uint64_t offset, uint16_t value);
void put_u32(std::string& bytes, uint64_t offset, uint32_t value);
void put_u64(std::string& bytes, uint64_t offset, uint64_t value);

// The records' field offsets, for patching, are zip_field's in zip_format.h.
