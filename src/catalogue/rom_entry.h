// The catalogue's records and the door into it: admission by run mode.
#pragma once

#include <cstdint>

enum class RomStatus : int32_t {
  Unchecked = 0,  // every record at admission
  Unique = 1,
  Duplicate = 2,
};

// One admitted image. The record owns `name` and `data`; nothing in the
// catalogue is released before the process ends.
struct RomEntry {
  char* name;      // display name, NUL-terminated, any bytes
  uint8_t* data;   // `size` bytes; a valid block even when size is 0
  uint64_t size;
  uint32_t crc;    // CRC-32 of data, computed once at admission
  RomStatus status;
  RomEntry* next;  // the next older record
};

extern RomEntry* g_rom_list;  // newest first
extern int32_t g_rom_count;
extern int32_t g_skipped;     // images refused by the -m1/-m2 size filter

// Admits one image by g_mode's size filter, copying the name and the bytes,
// or counts it as skipped. The caller keeps its buffers. Does nothing in Pzc.
void add_rom(const char* name, uint64_t size, const uint8_t* bytes);

// Whether g_mode's size filter admits an image of `size` bytes.
bool is_admitted_size(uint64_t size);

// As add_rom for an image of an admitted size whose bytes the walker wrote
// into a block from allocate_image: the record takes the block over. `crc`
// is the CRC-32 of the bytes, which the walker took as it wrote them.
void adopt_rom(const char* name, uint64_t size, uint8_t* image, uint32_t crc);

// Releases every record and image and zeroes the counts. Only for tests and tools that
// build more than one catalogue in a process; a run never calls it.
void clear_catalogue();
