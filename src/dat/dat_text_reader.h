// Reading clrmamepro's text DATs as a stream of pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "dat/dat_error.h"
#include "dat/dat_file.h"

struct DatTextReader;

struct DatTextReaderDeleter {
  void operator()(DatTextReader* reader) const;
};
using DatTextReaderOwner = std::unique_ptr<DatTextReader, DatTextReaderDeleter>;

// A reader that fills `dat` (begun with begin_dat); null when out of memory.
DatTextReaderOwner begin_dat_text(DatFile& dat, DatError& error);

// The next piece of the file; `last` for the final one. False once the DAT
// is known bad, with the reason in `error`.
bool feed_dat_text(DatTextReader& reader, const uint8_t* bytes, size_t size, bool last);
