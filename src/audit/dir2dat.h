// The DAT of what a run catalogued: one set per archive or folder that
// holds images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "audit/audit_image.h"
#include "dat/dat_file.h"

// Where an image was found: its record, the length of the path given on the
// command line that its file's path starts with, and when the walk found it.
struct CataloguedImage {
  const AuditImage* image;
  size_t given_size;
  int32_t walk_order;
};

// The set and ROM names an image would have, read from where it lies. An
// archive entry belongs to the set of the innermost archive holding it,
// named without the archive suffix: an archive file by its path below the
// path given (or its last part when it is the path given), a nested one by
// its stored name. Any other image belongs to the set of its folder, named
// by its path below the path given, or by the folder's own name when the
// image lies directly in the path given or is that path. `container` tells
// one archive or folder from another.
struct SetAndRom {
  std::string set;
  std::string rom;
  std::string container;
};
SetAndRom set_and_rom_of(const Provenance& origin, size_t given_size);

// Fills `dat` (released first) with one set per container, sets in name
// order, ROMs in name order, each with its size, CRC-32 and SHA-1 (SHA-256
// too when `with_sha256`, MD5 when `with_md5`). Two containers never share a set: the
// one the walk reached first keeps the name, and a later one takes more of
// its path ("zip/a/x" and "7z/a/x" for a/x.zip and a/x.7z under the paths
// zip and 7z), or when its whole path is taken ("a/x.zip" and "a/x.7z"),
// is named "NAME (2)", then "NAME (3)", and so on. False when out of memory.
bool build_dir2dat(const CataloguedImage* images, size_t count, bool with_sha256, bool with_md5, DatFile& dat);
