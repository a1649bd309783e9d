// The ROMs of a set whose images lie in one archive read in order (a 7z's
// solid block, a tar.gz): reaching an entry there means unpacking every
// entry before it, so reading each image on its own would unpack the
// archive's start once per ROM. Such an archive is read once, in order, each
// image wanted from it streamed into an unnamed scratch file (a spool) in
// the output folder; the ROMs are then poured from their spools in the
// order the writer wants, through the same checks as from the image.
#pragma once

#include <vector>

#include "driver/image_sources.h"

// The spools of one set, closed (and so gone) with it.
struct SpoolFiles {
  std::vector<int> fds;

  SpoolFiles() = default;
  ~SpoolFiles();
  SpoolFiles(const SpoolFiles&) = delete;
  SpoolFiles& operator=(const SpoolFiles&) = delete;
};

// Spools the first candidate of each ROM that shares its archive with
// another ROM's, and points the ROM's state at it. An image that cannot be
// read so is left to be read on its own. False with the errno when a spool
// cannot be made or written (a full disk).
bool spool_solid_sources(int folder_fd, ImageSourceState* states, size_t count, SpoolFiles& spools, int& error_number);
