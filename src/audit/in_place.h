// Whether an image sits where a DAT's set would keep its ROM, read from
// where the image lies (its file and the archive entries down to it), never
// from its display name split again.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "base/provenance.h"

// An image's place as the rule reads it: the display name, and where in it
// one level ends and the entry of the next begins (a '?' that is part of a
// name is no such boundary).
struct ImagePlace {
  std::string name;
  std::vector<size_t> boundaries;  // positions of the '?' between levels, ascending
};

ImagePlace place_of(const Provenance& origin);

// True when the image is the entry ROM of an archive named SET plus an
// archive suffix, or the file ROM in a folder named SET, where SET is the
// whole name of that archive or folder or its end after a '/' or a level.
// A ROM may hold '/' (a folder in the set), never a level. Names are
// compared as they are (a '\' in the ROM's name also as '/'), and also in
// the form a DAT written by --dir2dat gives them back (bytes that are not
// clean UTF-8 as %XX).
bool is_in_set(const ImagePlace& place, const char* set_name, const char* rom_name);

// The name of the folder `folder` (a path as given): its last part, or, when
// the path does not say it ("", ".", ".."), the last part of what it
// resolves to.
std::string folder_name(std::string_view folder);
