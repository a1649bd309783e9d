// The DAT of what a run catalogued: one set per archive or directory that
// holds images.
#pragma once

#include <cstddef>
#include <cstdint>

#include "audit/audit_image.h"
#include "dat/dat_file.h"

// Where an image was found: its record and the length of the path given on
// the command line that its name starts with.
struct CataloguedImage {
  const AuditImage* image;
  size_t given_size;
};

// The set and ROM names of an image. An archive entry ("...X.zip?ENTRY")
// belongs to the set of its archive, named without the archive suffix;
// any other image to the set of its directory. The set is named relative to
// the path given, or by that path's last part when the image lies directly
// in it (or the path is the archive itself). A file given alone is a set
// named after the file without its suffix. `set` and `rom` point into the
// image name or `given`, with their sizes.
struct SetAndRom {
  const char* set;
  size_t set_size;
  const char* rom;
};
SetAndRom split_set_and_rom(const char* image_name, size_t given_size);

// Fills `dat` (released first) with one set per container, sets in name
// order, ROMs in name order, each with its size, CRC-32 and the digests
// taken (MD5 only when `with_md5`). False when out of memory.
bool build_dir2dat(const CataloguedImage* images, size_t count, bool with_md5, DatFile& dat);
