// The test-only zip writer.
#include "support/zip_builder.h"

#include <libdeflate.h>

#include <cstdlib>
#include <memory>
#include <utility>

namespace {

void add_u16(std::string& out, uint64_t value) {
  for (int i = 0; i < 2; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}
void add_u32(std::string& out, uint64_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}
void add_u64(std::string& out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// What one entry's records say, lies included.
struct EntryFacts {
  std::string data;
  uint32_t crc;
  uint64_t compressed_size;
  uint64_t uncompressed_size;
};

EntryFacts facts_of(const ZipEntryPlan& entry) {
  EntryFacts facts;
  if (entry.data) {
    facts.data = *entry.data;
  } else if (entry.method == 8) {
    facts.data = deflate_bytes(entry.content);
  } else {
    facts.data = entry.content;
  }
  facts.crc = entry.crc32.value_or(crc32_of(entry.content));
  facts.compressed_size = entry.compressed_size.value_or(facts.data.size());
  facts.uncompressed_size = entry.uncompressed_size.value_or(entry.content.size());
  return facts;
}

uint32_t short_field(bool zip64, uint64_t value) {
  return zip64 ? zip64_marker_32 : static_cast<uint32_t>(value);
}

std::string zip64_block(const std::vector<uint64_t>& fields, std::optional<uint16_t> cut_size) {
  std::string data;
  for (const uint64_t field : fields) add_u64(data, field);
  if (cut_size && *cut_size < data.size()) data.resize(*cut_size);
  std::string block;
  add_u16(block, zip64_extra_id);
  add_u16(block, data.size());
  return block + data;
}

std::string local_header(const ZipEntryPlan& entry, const EntryFacts& facts) {
  const uint16_t flags = entry.flags | (entry.data_descriptor ? flag_data_descriptor : 0);
  const std::string& name = entry.local_name ? *entry.local_name : entry.name;
  std::string extra = entry.local_extra;
  if (entry.zip64) extra = zip64_block({facts.uncompressed_size, facts.compressed_size}, std::nullopt) + extra;
  std::string out;
  add_u32(out, local_header_signature);
  add_u16(out, entry.zip64 ? 45 : 20);
  add_u16(out, flags);
  add_u16(out, entry.method);
  add_u32(out, 0x00210000);  // 1 Jan 1980, midnight
  add_u32(out, entry.data_descriptor ? 0 : facts.crc);
  add_u32(out, entry.data_descriptor ? 0 : short_field(entry.zip64, facts.compressed_size));
  add_u32(out, entry.data_descriptor ? 0 : short_field(entry.zip64, facts.uncompressed_size));
  add_u16(out, name.size());
  add_u16(out, extra.size());
  return out + name + extra;
}

std::string data_descriptor(const ZipEntryPlan& entry, const EntryFacts& facts) {
  std::string out;
  add_u32(out, data_descriptor_signature);
  add_u32(out, facts.crc);
  if (entry.zip64) {
    add_u64(out, facts.compressed_size);
    add_u64(out, facts.uncompressed_size);
  } else {
    add_u32(out, facts.compressed_size);
    add_u32(out, facts.uncompressed_size);
  }
  return out;
}

std::string central_record(const ZipEntryPlan& entry, const EntryFacts& facts, uint64_t local_header_offset) {
  const uint16_t flags = entry.flags | (entry.data_descriptor ? flag_data_descriptor : 0);
  std::string extra = entry.central_extra;
  if (entry.zip64) {
    extra = zip64_block({facts.uncompressed_size, facts.compressed_size, local_header_offset}, entry.zip64_extra_size) +
            extra;
  }
  std::string out;
  add_u32(out, central_record_signature);
  add_u16(out, entry.version_made_by);
  add_u16(out, entry.zip64 ? 45 : 20);
  add_u16(out, flags);
  add_u16(out, entry.method);
  add_u32(out, 0x00210000);
  add_u32(out, facts.crc);
  add_u32(out, short_field(entry.zip64, facts.compressed_size));
  add_u32(out, short_field(entry.zip64, facts.uncompressed_size));
  add_u16(out, entry.name.size());
  add_u16(out, extra.size());
  add_u16(out, entry.entry_comment.size());
  add_u16(out, 0);  // disk
  add_u16(out, 0);  // internal attributes
  add_u32(out, entry.external_attributes);
  add_u32(out, short_field(entry.zip64, local_header_offset));
  return out + entry.name + extra + entry.entry_comment;
}

std::string zip64_end_records(uint64_t entries, uint64_t directory_size, uint64_t directory_offset,
                              uint64_t record_offset) {
  std::string out;
  add_u32(out, zip64_end_record_signature);
  add_u64(out, 44);
  add_u16(out, 45);
  add_u16(out, 45);
  add_u32(out, 0);
  add_u32(out, 0);
  add_u64(out, entries);
  add_u64(out, entries);
  add_u64(out, directory_size);
  add_u64(out, directory_offset);
  add_u32(out, zip64_locator_signature);
  add_u32(out, 0);
  add_u64(out, record_offset);
  add_u32(out, 1);
  return out;
}

}  // namespace

ZipEntryPlan stored_entry(std::string name, std::string content) {
  ZipEntryPlan entry;
  entry.name = std::move(name);
  entry.content = std::move(content);
  return entry;
}

ZipEntryPlan deflated_entry(std::string name, std::string content) {
  ZipEntryPlan entry = stored_entry(std::move(name), std::move(content));
  entry.method = 8;
  return entry;
}

ZipPlan zip_of(std::vector<ZipEntryPlan> entries) {
  ZipPlan plan;
  plan.entries = std::move(entries);
  return plan;
}

ZipLayout build_zip_layout(const ZipPlan& plan) {
  ZipLayout layout;
  std::string& out = layout.bytes;
  out = plan.prefix;
  // Offsets as the records state them, which may not count the prefix.
  const uint64_t shift = plan.offsets_count_prefix ? 0 : plan.prefix.size();
  std::vector<EntryFacts> facts;
  for (const ZipEntryPlan& entry : plan.entries) {
    facts.push_back(facts_of(entry));
    if (entry.shares_local_header_of) {
      layout.local_header_offsets.push_back(layout.local_header_offsets.at(*entry.shares_local_header_of));
      layout.data_offsets.push_back(layout.data_offsets.at(*entry.shares_local_header_of));
      continue;
    }
    layout.local_header_offsets.push_back(out.size());
    out += local_header(entry, facts.back());
    layout.data_offsets.push_back(out.size());
    out += facts.back().data;
    if (entry.data_descriptor) out += data_descriptor(entry, facts.back());
  }
  layout.central_directory_offset = out.size();
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    layout.central_record_offsets.push_back(out.size());
    out += central_record(plan.entries[i], facts[i], layout.local_header_offsets[i] - shift);
  }
  layout.central_directory_size = out.size() - layout.central_directory_offset;
  const uint64_t entries = plan.entries.size();
  const uint64_t stated_directory_offset = layout.central_directory_offset - shift;
  if (plan.zip64) {
    layout.zip64_end_record_offset = out.size();
    layout.zip64_locator_offset = out.size() + 56;
    out += zip64_end_records(entries, layout.central_directory_size, stated_directory_offset, out.size() - shift);
  }
  layout.end_record_offset = out.size();
  const uint16_t comment_size = plan.comment_size.value_or(plan.comment.size());
  if (plan.zip64) {
    out += bare_end_record(zip64_marker_16, zip64_marker_32, zip64_marker_32, comment_size);
  } else {
    out += bare_end_record(entries, layout.central_directory_size, stated_directory_offset, comment_size);
  }
  out += plan.comment + plan.suffix;
  return layout;
}

std::string build_zip(const ZipPlan& plan) {
  return build_zip_layout(plan).bytes;
}

std::string bare_end_record(uint16_t entries, uint32_t directory_size, uint32_t directory_offset,
                            uint16_t comment_size) {
  std::string out;
  add_u32(out, end_record_signature);
  add_u16(out, 0);
  add_u16(out, 0);
  add_u16(out, entries);
  add_u16(out, entries);
  add_u32(out, directory_size);
  add_u32(out, directory_offset);
  add_u16(out, comment_size);
  return out;
}

std::string deflate_bytes(const std::string& raw) {
  const std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
      libdeflate_alloc_compressor(6), &libdeflate_free_compressor);
  if (!compressor) std::abort();
  std::string out(libdeflate_deflate_compress_bound(compressor.get(), raw.size()), '\0');
  const size_t size = libdeflate_deflate_compress(compressor.get(), raw.data(), raw.size(), out.data(), out.size());
  if (size == 0) std::abort();
  out.resize(size);
  return out;
}

void put_u16(std::string& bytes, uint64_t offset, uint16_t value) {
  for (int i = 0; i < 2; ++i) bytes.at(offset + i) = static_cast<char>(value >> (8 * i));
}
void put_u32(std::string& bytes, uint64_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<char>(value >> (8 * i));
}
void put_u64(std::string& bytes, uint64_t offset, uint64_t value) {
  for (int i = 0; i < 8; ++i) bytes.at(offset + i) = static_cast<char>(value >> (8 * i));
}
