// Unpacking one entry: streamed piece by piece to a sink, or into a new
// malloc'd block (a nested archive).
//
// Every size in the records is a claim. Before anything is allocated the
// claims must be possible (stored sizes equal, deflate at most 1032:1, no
// bytes out of nothing) and the entry's data must end before the next
// structure of the archive, so that entries sharing compressed data (the
// overlapping zip bomb) are refused. While unpacking, the output may not
// pass the recorded size; after it, its length and CRC-32 must match the
// central record.
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "zip/zip_entry.h"
#include "zip/zip_extract.h"
#include "zip/zip_failure.h"
#include "zip/zip_format.h"
#include "zip/zip_methods.h"
#include "zip/zip_reader.h"
#include "zip/zip_source.h"
#include "zip/zip_stream.h"

namespace {

constexpr uint64_t max_deflate_ratio = 1032;  // a 258-byte match costs at least 2 bits
// A 65,538-byte match costs at least 18 bits: a length code, its 16 extra
// bits and a distance code.
constexpr uint64_t max_deflate64_ratio = 65538 * 8 / 18;
constexpr uint64_t deflate_slack = 4096;

bool within_ratio(const ZipEntryStat& stat, uint64_t ratio) {
  if (stat.compressed_size > (UINT64_MAX - deflate_slack) / ratio) return true;
  return stat.uncompressed_size <= ratio * stat.compressed_size + deflate_slack;
}

bool has_possible_sizes(const ZipEntryStat& stat) {
  // Nothing to read would leave the block undefined.
  if (stat.compressed_size == 0) return stat.uncompressed_size == 0;
  if (stat.method == method_stored) return stat.compressed_size == stat.uncompressed_size;
  if (stat.method == method_deflate) return within_ratio(stat, max_deflate_ratio);
  if (stat.method == method_deflate64) return within_ratio(stat, max_deflate64_ratio);
  // The other methods can rightly pass any ratio: streaming bounds their
  // memory, and the walker's expansion budget their output.
  return true;
}

bool is_unpacked_method(uint16_t method) {
  return method == method_stored || method == method_deflate || zip_method_is_streamed(method);
}

bool is_before(const ZipLocalHeaderRef& ref, uint64_t offset) {
  return ref.offset < offset;
}
bool is_after(uint64_t offset, const ZipLocalHeaderRef& ref) {
  return offset < ref.offset;
}

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
  for (const uint64_t start : {reader.central_directory_offset, reader.end_records_offset, reader.end_record_offset}) {
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
  const uint64_t header_size = local_header_size + load_u16(header + zip_field::local_name_size) +
                               load_u16(header + zip_field::local_extra_size);
  if (!is_range_inside(stat.local_header_offset, header_size, limit)) return false;
  data_offset = stat.local_header_offset + header_size;
  return is_range_inside(data_offset, stat.compressed_size, limit);
}

// Counts and checks what leaves the decoder, and takes the CRC-32 on the
// way, while the bytes are still in the cache.
struct CheckedOutput {
  const ZipOutput* target;
  uint64_t expected;
  uint64_t written;
  uint32_t crc;
};

bool write_checked(void* context, const uint8_t* bytes, size_t size) {
  CheckedOutput& checked = *static_cast<CheckedOutput*>(context);
  if (size > checked.expected - checked.written) return false;  // more than the records say
  checked.crc = libdeflate_crc32(checked.crc, bytes, size);
  checked.written += size;
  return zip_write_output(*checked.target, bytes, size);
}

bool write_in_pieces(const ZipOutput& output, const uint8_t* bytes, uint64_t size) {
  for (uint64_t done = 0; done < size; done += zip_piece_size) {
    const uint64_t piece = size - done < zip_piece_size ? size - done : zip_piece_size;
    if (!zip_write_output(output, bytes + done, static_cast<size_t>(piece))) return false;
  }
  return true;
}

uint8_t* scratch_part(uint8_t*& part, uint64_t size) {
  if (part == nullptr) part = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
  return part;
}

bool stream_stored(ZipEntryInput& input, const ZipOutput& output) {
  for (;;) {
    const uint8_t* piece = nullptr;
    size_t size = 0;
    if (!zip_next_input(input, piece, size)) return false;
    if (size == 0) return true;
    if (!zip_write_output(output, piece, size)) return false;
  }
}

// ISA-L's inflater keeps its state between pieces, so an entry of any size
// passes through two fixed buffers.
bool stream_deflate(ZipEntryInput& input, ZipScratch& scratch, const ZipOutput& output) {
  if (scratch.inflater == nullptr) {
    scratch.inflater = static_cast<inflate_state*>(std::malloc(sizeof(inflate_state)));
    if (scratch.inflater == nullptr) return false;
  }
  inflate_state& state = *scratch.inflater;
  isal_inflate_init(&state);
  state.crc_flag = ISAL_DEFLATE;
  for (;;) {
    if (state.avail_in == 0) {
      const uint8_t* piece = nullptr;
      size_t size = 0;
      if (!zip_next_input(input, piece, size) || size == 0) return false;  // the stream did not end
      state.next_in = const_cast<uint8_t*>(piece);                         // ISA-L only reads it
      state.avail_in = static_cast<uint32_t>(size);
    }
    state.next_out = output.buffer;
    state.avail_out = static_cast<uint32_t>(zip_piece_size);
    const uint32_t had_in = state.avail_in;
    if (isal_inflate(&state) < 0) return false;
    const size_t produced = zip_piece_size - state.avail_out;
    if (!zip_write_output(output, output.buffer, produced)) return false;
    if (state.block_state == ISAL_BLOCK_FINISH) return true;
    if (produced == 0 && state.avail_in == had_in) return false;  // stuck
  }
}

// The compressed data whole: in place from memory, else read into scratch.
const uint8_t* whole_input(const ZipReader& reader, const ZipExtraction& entry, ZipScratch& scratch) {
  if (reader.source_kind == ZipSourceKind::Memory) {
    MallocBlock unused;
    return zip_view_at(reader, entry.data_offset, entry.compressed_size, unused);
  }
  uint8_t* buffer = scratch_part(scratch.whole_input, zip_whole_entry_limit);
  if (buffer == nullptr || !zip_read_at(reader, entry.data_offset, buffer, entry.compressed_size)) return nullptr;
  return buffer;
}

bool fits_whole(const ZipReader& reader, const ZipExtraction& entry) {
  return entry.uncompressed_size <= zip_whole_entry_limit &&
         (entry.compressed_size <= zip_whole_entry_limit || reader.source_kind == ZipSourceKind::Memory);
}

// libdeflate inflates an entry that fits in one call into `out` (scratch,
// or the caller's block when it has one for the whole entry).
bool inflate_whole(const ZipReader& reader, const ZipExtraction& entry, ZipScratch& scratch, uint8_t* out) {
  if (scratch.decompressor == nullptr) scratch.decompressor = libdeflate_alloc_decompressor();
  if (scratch.decompressor == nullptr) return false;
  const uint8_t* in = whole_input(reader, entry, scratch);
  if (in == nullptr) return false;
  // Without an actual-size pointer, libdeflate succeeds only when the output
  // is exactly out_size bytes.
  return libdeflate_deflate_decompress(scratch.decompressor, in, static_cast<size_t>(entry.compressed_size), out,
                                       static_cast<size_t>(entry.uncompressed_size), nullptr) == LIBDEFLATE_SUCCESS;
}

// Unpacks into `checked`; `block`, when given, has room for the whole entry.
bool unpack_entry(const ZipReader& reader, const ZipExtraction& entry, ZipScratch& scratch, CheckedOutput& checked,
                  uint8_t* block) {
  if (entry.uncompressed_size == 0 && entry.compressed_size == 0) return true;
  const ZipOutput output{scratch.output, &checked, write_checked};
  if (entry.method == method_deflate && fits_whole(reader, entry)) {
    uint8_t* out = block != nullptr ? block : scratch_part(scratch.whole_output, zip_whole_entry_limit);
    if (out != nullptr) {
      return inflate_whole(reader, entry, scratch, out) && write_in_pieces(output, out, entry.uncompressed_size);
    }
  }
  if (scratch_part(scratch.input, zip_piece_size) == nullptr ||
      scratch_part(scratch.output, zip_piece_size) == nullptr) {
    return false;
  }
  ZipEntryInput input{&reader, entry.data_offset, entry.compressed_size, scratch.input};
  const ZipOutput streamed{scratch.output, &checked, write_checked};
  if (entry.method == method_stored) return stream_stored(input, streamed);
  if (entry.method == method_deflate) return stream_deflate(input, scratch, streamed);
  return zip_unpack_method(entry.method, entry.flags, entry.uncompressed_size, input, streamed);
}

ZipFailure unpack_and_check(const ZipReader& reader, const ZipExtraction& entry, ZipScratch& scratch,
                            const ZipOutput& output, uint8_t* block) {
  CheckedOutput checked{&output, entry.uncompressed_size, 0, 0};
  if (!unpack_entry(reader, entry, scratch, checked, block) || checked.written != entry.uncompressed_size) {
    return ZipFailure::DamagedData;
  }
  return checked.crc == entry.crc32 ? ZipFailure::None : ZipFailure::BadCrc;
}

ZipFailure check_extraction(const ZipReader& reader, uint32_t index, ZipExtraction& extraction) {
  ZipEntryStat stat{};
  if (!zip_stat_entry(reader, index, stat)) return ZipFailure::DamagedArchive;
  if ((stat.flags & refused_flags) != 0) return ZipFailure::Encrypted;
  if (!is_unpacked_method(stat.method)) return ZipFailure::UnsupportedMethod;
  if (!has_possible_sizes(stat) || stat.uncompressed_size >= SIZE_MAX) return ZipFailure::DamagedArchive;
  uint64_t data_offset = 0;
  if (!locate_entry_data(reader, index, stat, data_offset)) return ZipFailure::DamagedArchive;
  extraction =
      ZipExtraction{data_offset, stat.compressed_size, stat.uncompressed_size, stat.crc32, stat.method, stat.flags};
  return ZipFailure::None;
}

// A block that grows with what is unpacked into it, up to the recorded size
// (and a byte, so that an empty entry has a block too).
struct GrowingBlock {
  MallocBlock bytes;
  uint64_t capacity;
  uint64_t size;
  uint64_t limit;
};

// Only stored and deflate entries have a bounded ratio to their compressed
// size; any other claim may far pass what its data unpack to, so its block
// starts small and grows as bytes arrive.
uint64_t first_block_capacity(const ZipExtraction& entry) {
  constexpr uint64_t first_capacity = uint64_t{1} << 20;
  const uint64_t whole = entry.uncompressed_size + 1;
  const bool bounded = entry.method == method_stored || entry.method == method_deflate;
  return bounded || whole < first_capacity ? whole : first_capacity;
}

bool append_to_block(void* context, const uint8_t* bytes, size_t size) {
  GrowingBlock& block = *static_cast<GrowingBlock*>(context);
  uint8_t* const end = block.bytes.get() + block.size;
  if (bytes != end) {  // else inflated in place
    if (size > block.capacity - block.size) {
      uint64_t capacity = std::max(block.capacity * 2, block.size + size);
      capacity = std::min(capacity, block.limit);
      auto* grown = static_cast<uint8_t*>(std::realloc(block.bytes.get(), static_cast<size_t>(capacity)));
      if (grown == nullptr) return false;
      static_cast<void>(block.bytes.release());
      block.bytes.reset(grown);
      block.capacity = capacity;
    }
    std::memcpy(block.bytes.get() + block.size, bytes, size);
  }
  block.size += size;
  return true;
}

}  // namespace

bool zip_prepare_extraction(const ZipReader& reader, uint32_t index, ZipExtraction& extraction, ZipFailure* failure) {
  const ZipFailure found = check_extraction(reader, index, extraction);
  set_zip_failure(failure, found);
  return found == ZipFailure::None;
}

bool zip_unpack_entry(const ZipReader& reader, const ZipExtraction& extraction, ZipScratch& scratch,
                      const ZipOutput& output, ZipFailure* failure) {
  const ZipFailure found = unpack_and_check(reader, extraction, scratch, output, nullptr);
  set_zip_failure(failure, found);
  return found == ZipFailure::None;
}

uint8_t* zip_extract_prepared_entry(const ZipReader& reader, const ZipExtraction& extraction, uint64_t& size,
                                    ZipFailure* failure) {
  size = 0;
  GrowingBlock block{nullptr, first_block_capacity(extraction), 0, extraction.uncompressed_size + 1};
  block.bytes.reset(static_cast<uint8_t*>(std::malloc(static_cast<size_t>(block.capacity))));
  if (!block.bytes) {
    set_zip_failure(failure, ZipFailure::OutOfMemory);
    return nullptr;
  }
  ZipScratch scratch{};
  const ZipOutput into_block{nullptr, &block, append_to_block};
  // A block of the whole size is inflated into in place.
  uint8_t* const whole = block.capacity == block.limit ? block.bytes.get() : nullptr;
  const ZipFailure found = unpack_and_check(reader, extraction, scratch, into_block, whole);
  zip_free_scratch(scratch);
  set_zip_failure(failure, found);
  if (found != ZipFailure::None) return nullptr;
  size = extraction.uncompressed_size;
  return block.bytes.release();
}

uint8_t* zip_extract_entry(const ZipReader& reader, uint32_t index, uint64_t& size) {
  size = 0;
  ZipExtraction extraction{};
  if (!zip_prepare_extraction(reader, index, extraction)) return nullptr;
  return zip_extract_prepared_entry(reader, extraction, size);
}

void zip_free_scratch(ZipScratch& scratch) {
  std::free(scratch.input);
  std::free(scratch.output);
  std::free(scratch.whole_input);
  std::free(scratch.whole_output);
  std::free(scratch.inflater);
  if (scratch.decompressor != nullptr) libdeflate_free_decompressor(scratch.decompressor);
  scratch = ZipScratch{};
}

void zip_free(void* block) {
  std::free(block);
}
