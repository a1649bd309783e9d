// Unpacking with liblzma: zip's LZMA (method 14) and XZ (method 95).
#pragma once

#include <cstdint>

#include "zip/zip_stream.h"

// Zip's LZMA: a 4-byte header (version, properties size), the 5 bytes of
// LZMA properties, then the raw stream, which ends after `uncompressed_size`
// bytes, where an end marker may follow (UINT64_MAX: at its end marker).
// True when the stream decoded to its end.
bool zip_lzma_unpack(uint64_t uncompressed_size, ZipEntryInput& input, const ZipOutput& output);

// One .xz stream, decoded with at most 512 MiB of memory; bytes after it
// are ignored.
bool xz_unpack(ZipEntryInput& input, const ZipOutput& output);
