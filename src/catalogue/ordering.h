// Sorting the catalogue by CRC and name, and marking duplicates.
#pragma once

#include <vector>

#include "catalogue/rom_entry.h"

// Fills the catalogue's `sorted` from its records and sorts it with
// compare_roms.
void build_sorted_index(Catalogue& catalogue);

// qsort comparison of two slots of a catalogue's `sorted`: by CRC as unsigned 32-bit, then by
// the names compared as unsigned bytes (strcmp's result as it comes), then
// by admission order, so that the order is total.
int compare_roms(const void* a, const void* b);

// Whether `record`, after `head` in sorted order, is in the group `head`
// begins: the same CRC-32 and size. The listing's groups and duplicates go
// by this rule.
bool joins_group(const RomEntry& head, const RomEntry& record);

// Two records of one CRC-32 and size whose bytes differ, the earlier in
// sorted order first.
using CollisionReport = void (*)(const RomEntry& earlier, const RomEntry& later);

// Gives every record Unique or Duplicate and hands each collision to
// `report`, when given, in sorted order; after build_sorted_index.
void mark_duplicates(Catalogue& catalogue, CollisionReport report = nullptr);
