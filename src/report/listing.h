// The listing: one line per record in sorted order, then the summary.
#pragma once

#include <cstdint>

#include "catalogue/rom_entry.h"
#include "catalogue/run_mode.h"
#include "catalogue/sums.h"

// Writes the -m1 segment sums or the -m2 shift checksum kept in mode_sums
// to standard output, each column followed by a space; nothing in mode All
// or for an -m1 size without segments.
void print_mode_sums(RunMode mode, uint64_t size, const uint16_t mode_sums[max_segments]);

// Writes a "CRC collision!" report of two records to standard output, for
// mark_duplicates.
void print_collision(const RomEntry& earlier, const RomEntry& later);

// Writes the listing of the catalogue in sorted order, with the sums of
// `mode`, to standard output. Call after mark_duplicates, never in mode Pzc.
void print_report(const Catalogue& catalogue, RunMode mode);
