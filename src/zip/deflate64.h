// Unpacking deflate64 (zip method 9): deflate with a 64 KiB window, matches
// up to 65538 bytes long and two more distance codes. No library offers it.
#pragma once

#include "zip/zip_stream.h"

// Decodes one deflate64 stream up to its final block; bytes after it are
// ignored. False for malformed or truncated data, a failed read, memory
// running out (it takes about 400 KiB) or a sink that refused bytes.
bool deflate64_unpack(ZipEntryInput& input, const ZipOutput& output);
