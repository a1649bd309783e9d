// The catalogue's records and the door into it: admission by run mode.
#pragma once

#include <cstdint>

#include "catalogue/image_summary.h"

enum class RomStatus : int32_t {
  Unchecked = 0,  // every record at admission
  Unique = 1,
  Duplicate = 2,
};

// One admitted image: its name and what its bytes summed to. The bytes
// themselves are gone once read; the SHA-256 digest stands for them. The
// record owns `name`; nothing in the catalogue is released before the
// process ends.
struct RomEntry {
  char* name;  // display name, NUL-terminated, any bytes
  ImageSummary summary;
  RomStatus status;
  int32_t order;   // admission order: 0 for the first record
  RomEntry* next;  // the next older record
};

extern RomEntry* g_rom_list;  // newest first
extern int32_t g_rom_count;
extern int32_t g_skipped;  // images refused by the -m1/-m2 size filter

// Whether g_mode's size filter admits an image of `size` bytes.
bool is_admitted_size(uint64_t size);

// Admits one image with a copy of its name when `admitted` (what
// is_admitted_size said of its size, asked once per image), or counts it as
// skipped. Does nothing in Pzc. An admitted image's summary must be
// complete (see summariser.h).
void add_summarised_rom(const char* name, const ImageSummary& summary, bool admitted);

// The same for bytes in memory, summarised here.
void add_rom(const char* name, uint64_t size, const uint8_t* bytes);

// Releases every record and zeroes the counts. Only for tests and tools that
// build more than one catalogue in a process; a run never calls it.
void clear_catalogue();
