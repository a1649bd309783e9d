// Where a DAT's bytes come from: a file or a block of memory, plain, gzip or
// a zip archive (its first entry named *.dat or *.xml), told by their first
// bytes. The bytes go to a sink piece by piece, so that no DAT is ever
// held whole.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dat/dat_error.h"

// Takes the next piece; `last` marks the final call (its piece may be
// empty). Returns false to stop, with the reason in the error it was given.
struct DatSink {
  void* context;
  bool (*take)(void* context, const uint8_t* bytes, size_t size, bool last);
};

// False when the file cannot be opened or read, its container is damaged, or
// the sink stopped; the reason is in `error`.
bool pump_dat_file(const char* path, const DatSink& sink, DatError& error);

// The same for bytes in memory.
bool pump_dat_memory(const uint8_t* bytes, size_t size, const DatSink& sink, DatError& error);
