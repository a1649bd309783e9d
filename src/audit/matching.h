// Matching catalogued images against the ROMs of the DATs loaded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "audit/audit_image.h"
#include "audit/in_place.h"
#include "base/grow_array.h"
#include "dat/dat_file.h"

// One image that matches one ROM.
struct AuditMatch {
  uint32_t image;  // index in the listing order
  uint32_t rom;
  uint32_t dat;
  bool in_place;
};

struct AuditResult {
  GrowArray<AuditMatch> matches;    // by DAT, then ROM, then image
  GrowArray<size_t> dat_rom_base;   // per DAT: its first ROM's slot in first_match
  GrowArray<uint32_t> first_match;  // per ROM slot, and one past the last: its first match
  GrowArray<uint8_t> image_known;   // per image: 1 when it matches any ROM or disk
  // The same for disks, matched by a CHD's header; `rom` is the disk.
  GrowArray<AuditMatch> disk_matches;
  GrowArray<size_t> dat_disk_base;
  GrowArray<uint32_t> first_disk_match;
};

// Matches every image against every required ROM of the DATs: equal size
// and CRC-32, and each digest that both the ROM and the image have equal;
// either form of an image with a copier header may match. CHDs are matched
// against the disks. False when out of memory.
bool audit_images(const DatFile* dats, size_t dat_count, const AuditImage* images, size_t image_count,
                  AuditResult& result);

// Whether the image sits where set `set_index` keeps `name`: in the set,
// or in a set up its cloneof and romof chain (there also as `merge`, when
// not empty).
bool is_in_place_as(const DatFile& dat, uint32_t set_index, const char* name, const char* merge,
                    const ImagePlace& place);

// The matches of one ROM, in listing order.
struct RomMatches {
  const AuditMatch* first;
  uint32_t count;
  bool in_place;  // some image matching it sits in its set
};
RomMatches rom_matches(const AuditResult& result, uint32_t dat, uint32_t rom);

enum class SetState : uint8_t { Complete, Partial, Missing };

struct SetVerdict {
  uint32_t required;  // ROMs and disks the set needs (is_required_rom, is_required_disk)
  uint32_t have;      // of those, found anywhere
  bool all_in_place;  // every found one has an image in its set
  SetState state;     // Complete also for a set that needs nothing
};
SetVerdict judge_set(const DatFile& dat, const AuditResult& result, uint32_t dat_index, uint32_t set_index);

// A set as the audit reports it. A DAT may repeat a set's name for
// alternative dumps: they are one set, reported at the first, and judged
// by the alternative that fares best (every ROM in place, else every ROM
// found, else the most found; the earliest on a tie).
struct ReportedSet {
  uint32_t set;  // the alternative judged, whose ROMs the report gives
  SetVerdict verdict;
};

// False when `set_index` is not reported on its own: a later alternative
// of an earlier set, or a machine with neither ROMs nor disks (a device).
bool judge_reported_set(const DatFile& dat, const AuditResult& result, uint32_t dat_index, uint32_t set_index,
                        ReportedSet& reported);

// Whether some required ROM of the set is not where it belongs: absent, or
// found only outside the set. The exit status's test of a set.
bool lacks_rom_in_place(const SetVerdict& verdict);

// Whether any set of the DATs lacks a ROM in place.
bool any_rom_out_of_place(const DatFile* dats, size_t dat_count, const AuditResult& result);
