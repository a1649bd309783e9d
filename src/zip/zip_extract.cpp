// Extracting one entry by index into a new malloc'd block.
//
// Every size in the records is a claim. Before anything is allocated the
// claims must be possible (stored sizes equal, deflate at most 1032:1, no
// bytes out of nothing) and the entry's data must end before the next
// structure of the archive, so that entries sharing compressed data (the
// overlapping zip bomb) are refused. After inflating, the output length and
// the CRC-32 must match the central record.
#include <libdeflate.h>

#include <algorithm>
#include <cstdlib>

#include "zip/zip_format.h"
#include "zip/zip_reader.h"
#include "zip/zip_source.h"

namespace {

constexpr uint16_t refused_flags = 0x0001 | 0x0020 | 0x0040;  // encrypted, patch data, strong encryption
constexpr uint64_t max_deflate_ratio = 1032;  // a 258-byte match costs at least 2 bits
constexpr uint64_t deflate_slack = 4096;
constexpr uint64_t largest_kept_read_buffer = 1ull << 20;

bool has_possible_sizes(const ZipEntryStat& stat) {
  // Nothing to read would leave the block undefined.
  if (stat.compressed_size == 0) return stat.uncompressed_size == 0;
  if (stat.method == method_stored) return stat.compressed_size == stat.uncompressed_size;
  if (stat.compressed_size > (UINT64_MAX - deflate_slack) / max_deflate_ratio) return true;
  return stat.uncompressed_size <= max_deflate_ratio * stat.compressed_size + deflate_slack;
}

bool is_before(const ZipLocalHeaderRef& ref, uint64_t offset) { return ref.offset < offset; }
bool is_after(uint64_t offset, const ZipLocalHeaderRef& ref) { return offset < ref.offset; }

// Where this entry's local header, name, extra field and data must end: the
// nearest structure that starts after its local header. False when an entry
// of lower index shares the local header.
bool find_data_limit(const ZipReader& reader, uint32_t index, uint64_t local_header_offset, uint64_t& limit) {
  const ZipLocalHeaderRef* begin = reader.local_headers;
  const ZipLocalHeaderRef* end = begin + reader.local_header_count;
  const ZipLocalHeaderRef* first = std::lower_bound(begin, end, local_header_offset, is_before);
  if (first == end || first->offset != local_header_offset || first->index != index) return false;
  limit = reader.archive_size;
  const ZipLocalHeaderRef* next = std::upper_bound(first, end, local_header_offset, is_after);
  if (next != end) limit = next->offset;
  for (const uint64_t start :
       {reader.central_directory_offset, reader.end_records_offset, reader.end_record_offset}) {
    if (start > local_header_offset && start < limit) limit = start;
  }
  return true;
}

// The offset of the entry's data, once its local header checks out and the
// data fit before the limit.
bool locate_entry_data(const ZipReader& reader, uint32_t index, const ZipEntryStat& stat, uint64_t& data_offset) {
  uint64_t limit = 0;
  if (!find_data_limit(reader, index, stat.local_header_offset, limit)) return false;
  uint8_t header[local_header_size];
  if (!is_range_inside(stat.local_header_offset, local_header_size, limit) ||
      !zip_read_at(reader, stat.local_header_offset, header, local_header_size) ||
      load_u32(header) != local_header_signature) {
    return false;
  }
  // The local header's own name and extra lengths, which may differ from
  // the central record's, place the data.
  const uint64_t header_size = local_header_size + load_u16(header + 26) + load_u16(header + 28);
  if (!is_range_inside(stat.local_header_offset, header_size, limit)) return false;
  data_offset = stat.local_header_offset + header_size;
  return is_range_inside(data_offset, stat.compressed_size, limit);
}

bool inflate_into(ZipReader& reader, const uint8_t* in, uint64_t in_size, uint8_t* out, uint64_t out_size) {
  if (reader.decompressor == nullptr) reader.decompressor = libdeflate_alloc_decompressor();
  if (reader.decompressor == nullptr) return false;
  // Without an actual-size pointer, libdeflate succeeds only when the output
  // is exactly out_size bytes.
  return libdeflate_deflate_decompress(reader.decompressor, in, static_cast<size_t>(in_size), out,
                                       static_cast<size_t>(out_size), nullptr) == LIBDEFLATE_SUCCESS;
}

// The compressed data of an entry: in place for a memory archive; for a file,
// read into a buffer the reader keeps for the next entry, so that a large
// archive does not fault in fresh memory for every entry.
const uint8_t* read_entry_data(ZipReader& reader, uint64_t offset, uint64_t size) {
  if (reader.source_kind == ZipSourceKind::Memory) {
    MallocBlock unused;
    return zip_view_at(reader, offset, size, unused);
  }
  if (reader.read_buffer_size < size) {
    std::free(reader.read_buffer);
    reader.read_buffer = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
    reader.read_buffer_size = reader.read_buffer != nullptr ? size : 0;
    if (reader.read_buffer == nullptr) return nullptr;
  }
  return zip_read_at(reader, offset, reader.read_buffer, size) ? reader.read_buffer : nullptr;
}

// The buffer is worth keeping for the many small entries of an archive; a
// rare large one would only add to the memory the run holds.
void release_large_read_buffer(ZipReader& reader) {
  if (reader.read_buffer_size <= largest_kept_read_buffer) return;
  std::free(reader.read_buffer);
  reader.read_buffer = nullptr;
  reader.read_buffer_size = 0;
}

// Fills `out` with the entry's bytes: one read of the stored or compressed
// data for a file, none for a memory archive.
bool unpack_entry(ZipReader& reader, const ZipExtraction& entry, uint8_t* out) {
  if (entry.uncompressed_size == 0 && entry.compressed_size == 0) return true;
  if (entry.method == method_stored && reader.source_kind == ZipSourceKind::File) {
    return zip_read_at(reader, entry.data_offset, out, entry.compressed_size);
  }
  const uint8_t* data = read_entry_data(reader, entry.data_offset, entry.compressed_size);
  if (data == nullptr) return false;
  if (entry.method == method_stored) {
    std::copy(data, data + entry.compressed_size, out);
    return true;
  }
  return inflate_into(reader, data, entry.compressed_size, out, entry.uncompressed_size);
}

}  // namespace

bool zip_prepare_extraction(const ZipReader& reader, uint32_t index, ZipExtraction& extraction) {
  ZipEntryStat stat{};
  if (!zip_stat_entry(reader, index, stat)) return false;
  if ((stat.flags & refused_flags) != 0) return false;
  if (stat.method != method_stored && stat.method != method_deflate) return false;
  if (!has_possible_sizes(stat) || stat.uncompressed_size >= SIZE_MAX) return false;
  uint64_t data_offset = 0;
  if (!locate_entry_data(reader, index, stat, data_offset)) return false;
  extraction = ZipExtraction{data_offset, stat.compressed_size, stat.uncompressed_size, stat.crc32, stat.method};
  return true;
}

bool zip_unpack_entry(ZipReader& reader, const ZipExtraction& extraction, uint8_t* out) {
  const bool unpacked = unpack_entry(reader, extraction, out);
  release_large_read_buffer(reader);
  return unpacked && libdeflate_crc32(0, out, static_cast<size_t>(extraction.uncompressed_size)) == extraction.crc32;
}

uint8_t* zip_extract_entry(ZipReader& reader, uint32_t index, uint64_t& size) {
  size = 0;
  ZipExtraction extraction{};
  if (!zip_prepare_extraction(reader, index, extraction)) return nullptr;
  // malloc(0) may give null; an empty entry still gets a real block.
  MallocBlock block(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(extraction.uncompressed_size) + 1)));
  if (!block || !zip_unpack_entry(reader, extraction, block.get())) return nullptr;
  size = extraction.uncompressed_size;
  return block.release();
}

void zip_free(void* block) { std::free(block); }
