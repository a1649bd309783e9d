// Read-only access to the entries of one zip archive, from a file or memory.
//
// A ZipReader is a plain record: all zero means "not open". It reads the
// archive only through zip_read_at, and nothing here throws or writes
// messages: failures come back as false or null.
#pragma once

#include <cstdint>
#include <type_traits>

#include "zip/zip_failure.h"

struct libdeflate_decompressor;
struct inflate_state;
struct ZipOutput;

// What the walkers learn of one entry from the central directory.
struct ZipEntryStat {
  const char* name;    // the whole name, NUL-terminated; valid until zip_close
  uint32_t name_size;  // bytes stored (the name may hold a NUL before that)
  uint64_t compressed_size;
  uint64_t uncompressed_size;
  uint64_t local_header_offset;  // where it is: the recorded one moved by offset_shift
  uint32_t crc32;
  uint32_t external_attributes;
  uint16_t method;
  uint16_t flags;
};

// Where the archive's bytes come from; zero is "none", so that a cleared
// reader never looks as if it held descriptor 0.
enum class ZipSourceKind : uint8_t { None = 0, File = 1, Memory = 2 };

// One entry's central record (offset in the central directory) and its name
// (offset in the names block).
struct ZipIndexEntry {
  uint64_t record_offset;
  uint64_t name_offset;
};

// A local header offset and the entry whose central record points at it;
// kept sorted by offset, then index, to find where each entry's data must end.
struct ZipLocalHeaderRef {
  uint64_t offset;
  uint32_t index;
};

struct ZipReader {
  ZipSourceKind source_kind;
  int fd;                 // File: the open descriptor
  const uint8_t* memory;  // Memory: the caller's block, read in place
  uint64_t archive_size;

  // The central directory: in place for a memory archive, else the block
  // read at open (central_directory_copy, which the reader owns).
  const uint8_t* central_directory;
  uint8_t* central_directory_copy;
  uint64_t central_directory_offset;
  uint64_t central_directory_size;
  uint64_t end_records_offset;  // the zip64 end record's, or else the end record's
  uint64_t end_record_offset;
  // Added to each recorded local header offset: bytes were added to (or cut
  // from) the front of the archive after its offsets were written.
  int64_t offset_shift;

  uint32_t entry_count;
  uint32_t local_header_count;       // entries whose record gave a local header offset
  ZipIndexEntry* entries;            // entry_count of them (malloc)
  char* names;                       // every name, each NUL-terminated (malloc)
  ZipLocalHeaderRef* local_headers;  // sorted (malloc)
};
static_assert(std::is_trivially_copyable_v<ZipReader> && std::is_standard_layout_v<ZipReader>,
              "owners clear a reader by setting its bytes to zero");
static_assert(static_cast<int>(ZipSourceKind::None) == 0, "all zero must mean closed");

// Reads `size` bytes at `offset` of the archive; false on a short read.
bool zip_read_at(const ZipReader& reader, uint64_t offset, void* out, uint64_t size);

uint32_t zip_entry_count(const ZipReader& reader);

// False for an index out of range or an entry whose records are malformed.
bool zip_stat_entry(const ZipReader& reader, uint32_t index, ZipEntryStat& stat);

// True when the name ends in "/" or the DOS directory attribute is set.
bool zip_entry_is_directory(const ZipReader& reader, uint32_t index);

// An entry that passed every check that can be made before memory is given
// to its bytes: flags, method, sizes, local header, where its data end.
struct ZipExtraction {
  uint64_t data_offset;
  uint64_t compressed_size;
  uint64_t uncompressed_size;  // the bytes zip_unpack_entry writes
  uint32_t crc32;
  uint16_t method;
  uint16_t flags;
};

// False when the entry cannot be extracted, before anything is allocated;
// *failure (when given) says why.
bool zip_prepare_extraction(const ZipReader& reader, uint32_t index, ZipExtraction& extraction,
                            ZipFailure* failure = nullptr);

// Memory one thread reuses from entry to entry while unpacking; all zero
// is empty. Each part is made when first needed (malloc); a part that
// cannot be made fails the entry, or sends it down the streaming path.
struct ZipScratch {
  uint8_t* input;        // zip_piece_size: compressed pieces read from a file
  uint8_t* output;       // zip_piece_size: unpacked pieces
  uint8_t* whole_input;  // zip_whole_entry_limit: an entry inflated in one call
  uint8_t* whole_output;
  libdeflate_decompressor* decompressor;
  inflate_state* inflater;  // for entries too large to inflate in one call
};

// Deflate entries up to this size, compressed and unpacked, are inflated in
// one call (faster); larger ones stream.
inline constexpr uint64_t zip_whole_entry_limit = uint64_t{8} << 20;

void zip_free_scratch(ZipScratch& scratch);

// Streams the entry's uncompressed_size bytes into `output`, taking their
// CRC-32 on the way, and checks their length and CRC-32 against the
// records; false on any failure (why in *failure, when given), after which
// `output` has had some bytes. The reader is only read: threads may unpack
// entries of one reader at once.
bool zip_unpack_entry(const ZipReader& reader, const ZipExtraction& extraction, ZipScratch& scratch,
                      const ZipOutput& output, ZipFailure* failure = nullptr);

// The entry's bytes in a new block from malloc, released with zip_free (that
// is, free), and their count in `size`; null (size 0) on any failure, also
// when the block cannot be had. An empty entry gives a non-null block of 0
// bytes.
uint8_t* zip_extract_entry(const ZipReader& reader, uint32_t index, uint64_t& size);

// The same for an entry that already passed zip_prepare_extraction; why it
// failed in *failure, when given.
uint8_t* zip_extract_prepared_entry(const ZipReader& reader, const ZipExtraction& extraction, uint64_t& size,
                                    ZipFailure* failure = nullptr);

// Releases a block from zip_extract_entry; the same as free.
void zip_free(void* block);

// Releases the reader's state and closes its file; the reader is then all
// zero. Closing an all-zero reader does nothing.
void zip_close(ZipReader& reader);
