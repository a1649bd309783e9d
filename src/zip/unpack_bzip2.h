// Unpacking a bzip2 stream (zip method 12) with libbz2.
#pragma once

#include "zip/zip_stream.h"

// True when one whole bzip2 stream decoded; bytes after it are ignored.
bool bzip2_unpack(ZipEntryInput& input, const ZipOutput& output);
