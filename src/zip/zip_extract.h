// Unpacking an entry of a zip archive: the checks made first, then its
// bytes streamed or held whole.
#pragma once

#include <cstdint>

#include "zip/zip_failure.h"
#include "zip/zip_reader.h"

struct libdeflate_decompressor;
struct inflate_state;
struct ZipOutput;

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
