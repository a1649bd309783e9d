// Unpacking Zstandard frames (zip method 93) with libzstd.
#pragma once

#include "zip/zip_stream.h"

// True when the input holds one or more whole frames and nothing else. A
// frame may not ask for a window over 128 MiB.
bool zstd_unpack(ZipEntryInput& input, const ZipOutput& output);
