// A zip archive whose entries jobs may still be reading: it is closed when
// the walker and the last job are done with it. A nested archive owns the
// block it reads in place.
#pragma once

#include "base/malloc_block.h"
#include "zip/zip_archive.h"

struct OpenArchive {
  ZipArchive archive{};
  MallocBlock block;
  OpenArchive() = default;
  ~OpenArchive();
  OpenArchive(const OpenArchive&) = delete;
  OpenArchive& operator=(const OpenArchive&) = delete;
};
