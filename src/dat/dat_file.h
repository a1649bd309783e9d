// A DAT held in memory: its sets and ROMs as compact records over one
// arena of names.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/grow_array.h"

inline constexpr int dat_sha1_size = 20;
inline constexpr int dat_sha256_size = 32;
inline constexpr int dat_md5_size = 16;

// Which of a ROM's fields the DAT gave.
enum DatRomField : uint8_t {
  dat_has_size = 1,
  dat_has_crc = 2,
  dat_has_sha1 = 4,
  dat_has_sha256 = 8,
  dat_has_md5 = 16,
  dat_has_status = 32,  // a status was written out, even "good"
};

enum class DatRomStatus : uint8_t { Good = 0, Verified = 1, BadDump = 2, NoDump = 3 };

// Offsets into the arena; 0 is the empty string, which stands for "none".
using DatText = uint32_t;

// About 100 bytes a ROM, names apart.
struct DatRom {
  uint64_t size;
  DatText name;
  DatText merge;
  uint32_t set;  // index of its set
  uint32_t crc;
  uint8_t sha1[dat_sha1_size];
  uint8_t sha256[dat_sha256_size];
  uint8_t md5[dat_md5_size];
  uint8_t fields;  // DatRomField bits
  DatRomStatus status;
};

// A disk image (a CHD) the set needs, known by the SHA-1 its header gives.
struct DatDisk {
  DatText name;  // without ".chd"
  DatText merge;
  uint32_t set;
  uint8_t sha1[dat_sha1_size];
  uint8_t fields;  // dat_has_sha1, dat_has_status
  DatRomStatus status;
};

struct DatSet {
  DatText name;
  DatText description;
  DatText cloneof;
  DatText romof;
  DatText id;         // No-Intro's numeric id, kept until the load ends
  DatText cloneofid;  // No-Intro's parent id, turned into cloneof at the end
  uint32_t first_rom;
  uint32_t rom_count;
  uint32_t first_disk;
  uint32_t disk_count;
};

enum class DatKind : uint8_t { None = 0, Logiqx, MameList, ClrMamePro };

struct DatFile {
  GrowArray<char> arena;  // every name, each NUL-terminated; starts with a NUL
  GrowArray<DatSet> sets;
  GrowArray<DatRom> roms;
  GrowArray<DatDisk> disks;
  GrowArray<uint32_t> sets_by_name;  // set indices in name order, by finish_dat
  DatText name;                      // from the header; "" when it gave none
  DatText detector;                  // the header rule file the DAT asks for, or ""
  uint32_t disk_count;
  DatKind kind;
};

// A ROM is required unless it was never dumped or nothing identifies it.
inline bool is_required_rom(const DatRom& rom) {
  constexpr uint8_t identifying = dat_has_crc | dat_has_sha1 | dat_has_sha256 | dat_has_md5;
  return rom.status != DatRomStatus::NoDump && (rom.fields & identifying) != 0;
}

// A disk is required unless it was never dumped or gives no SHA-1 to find
// it by.
inline bool is_required_disk(const DatDisk& disk) {
  return disk.status != DatRomStatus::NoDump && (disk.fields & dat_has_sha1) != 0;
}

inline const char* dat_text(const DatFile& dat, DatText text) {
  return dat.arena.items + text;
}

// Starts an empty DAT (the arena's leading NUL); false when out of memory.
bool begin_dat(DatFile& dat);

// Copies `size` bytes and a NUL into the arena; `out` is their offset.
// False when out of memory or past 4 GiB of names.
bool add_dat_text(DatFile& dat, const char* text, size_t size, DatText& out);
bool add_dat_text(DatFile& dat, const char* text, DatText& out);

// The set of each ROM added next; false when out of memory.
bool add_dat_set(DatFile& dat, const DatSet& set);

// Adds a ROM to the last set; false when out of memory or there is no set.
bool add_dat_rom(DatFile& dat, DatRom rom);

// Adds a disk to the last set; false when out of memory or there is no set.
bool add_dat_disk(DatFile& dat, DatDisk disk);

// Ends the load: No-Intro parent ids become cloneof names. False when out
// of memory.
bool finish_dat(DatFile& dat);

void free_dat(DatFile& dat);

// The index of the set named `name`, or -1. Needs finish_dat.
int64_t find_dat_set(const DatFile& dat, const char* name);

// The sets named `name`, as positions in sets_by_name, in DAT order; empty
// when there is none. Needs finish_dat.
struct DatSetRange {
  const uint32_t* first;
  const uint32_t* last;
};
DatSetRange find_dat_sets_named(const DatFile& dat, const char* name);

// Whether two loaded DATs hold the same header, sets and ROMs: what the
// same bytes, read twice, give.
bool is_same_dat(const DatFile& a, const DatFile& b);
