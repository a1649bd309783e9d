// Reading Logiqx datafiles (No-Intro's flavours included) and MAME's
// -listxml output as a stream of pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "dat/dat_error.h"
#include "dat/dat_file.h"

struct DatXmlReader;

struct DatXmlReaderDeleter {
  void operator()(DatXmlReader* reader) const;
};
using DatXmlReaderOwner = std::unique_ptr<DatXmlReader, DatXmlReaderDeleter>;

// A reader that fills `dat` (begun with begin_dat); null when out of memory,
// with the reason in `error`. Both must outlive the reader. With
// `utf8_by_mark` the bytes are read as UTF-8 whatever the XML declaration
// names (a byte order mark decided the encoding).
DatXmlReaderOwner begin_dat_xml(DatFile& dat, DatError& error, bool utf8_by_mark);

// The next piece of the file; `last` for the final one (which may be
// empty). False once the DAT is known bad, with the reason in `error`.
bool feed_dat_xml(DatXmlReader& reader, const uint8_t* bytes, size_t size, bool last);
