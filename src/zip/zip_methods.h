// The compression methods other than stored and deflate: which ones can be
// unpacked, and unpacking an entry through the right decoder as a stream.
#pragma once

#include <cstdint>

#include "zip/zip_format.h"
#include "zip/zip_stream.h"

// True for the methods zip_unpack_method can unpack: deflate64, bzip2, LZMA,
// Zstandard and XZ. Stored (0) and deflate (8) are the caller's.
bool zip_method_is_streamed(uint16_t method);

// Streams the entry's compressed data through the method's decoder into
// `output`. True when the data decoded without error up to the end of the
// compressed stream; false for an unknown method, malformed or truncated
// data, a failed read, memory running out, or a sink that refused bytes.
// Bytes after the end of the stream are ignored. `flags` and
// `uncompressed_size` are the entry's: LZMA stops after that many bytes.
bool zip_unpack_method(uint16_t method, uint16_t flags, uint64_t uncompressed_size, ZipEntryInput& input,
                       const ZipOutput& output);
