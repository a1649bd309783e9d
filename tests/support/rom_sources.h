// ROMs for the rebuild's tests: bytes held in a string, poured in pieces of
// a chosen size, and optionally changed between being summed and poured.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "rebuild/rebuild_rom.h"

struct TestRom {
  std::string name;
  std::string bytes;          // what the ROM's size and CRC-32 are taken from
  std::string poured;         // what the source pours; `bytes` when empty and !pours_other
  bool pours_other = false;   // pour `poured`, even when empty
  bool source_fails = false;  // the source cannot be read
  size_t piece_size = 4093;   // odd on purpose: zlib must not care how input is cut
  mutable int pour_count = 0;
};

// The records for the ROMs, pointing into `roms`, which must outlive them.
// `with_sha1` gives each its SHA-1.
std::vector<RebuildRom> rebuild_roms_of(const std::vector<TestRom>& roms, bool with_sha1 = true);

// Every regular file below `folder`, each a TestRom named by its path from there.
std::vector<TestRom> test_roms_in_folder(const std::string& folder);

// The names in `folder` (not below) that start with the temporary prefix.
std::vector<std::string> leftover_names(const std::string& folder);
