// Fuzz target: walks the input as an archive file through the archive
// walker, nested archives and the expansion budget included, in the mode its
// last byte picks (its low two bits: 0 all, 1 -m1, 2 -m2, 3 -pzc), and
// catalogues what it finds. Jobs run on this thread: no workers are started.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "catalogue/rom_entry.h"
#include "catalogue/run_mode.h"
#include "walk/archive_walker.h"
#include "walk/image_jobs.h"
#include "zip/zip_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  g_mode = static_cast<RunMode>(data[size - 1] & 3);
  {
    const auto archive = std::make_shared<OpenArchive>();
    if (zip_open_memory(archive->archive, data, size)) scan_archive("fuzz.zip", archive);
    finish_image_jobs();
  }
  clear_catalogue();
  return 0;
}
