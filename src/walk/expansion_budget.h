// How much may be unpacked from one archive file, at all nesting levels
// together, whatever its formats.
#pragma once

#include <cstdint>

// Deflate cannot pass 1,032:1, and archives inside archives barely
// compress, so only a crafted archive (copies of copies of highly
// compressed entries, or a 7z of a gigabyte of zeros) comes near it.
struct ExpansionBudget {
  uint64_t left;
  bool exhausted;  // an entry would have passed it: the file's walk is over
};

// Empty and tiny entries still cost a walk; thousands of them count.
inline constexpr uint64_t least_entry_charge = 4096;

// 1,032 times the archive file's size plus 64 MiB.
ExpansionBudget expansion_budget_for(uint64_t archive_size);

// Takes max(size, least_entry_charge) out of the budget; false, with the
// budget exhausted, when that would pass it.
bool charge_entry(ExpansionBudget& budget, uint64_t size);

// Takes `size` more bytes (of an entry whose size shows only as it is
// read) out of the budget, with no least charge.
bool charge_bytes(ExpansionBudget& budget, uint64_t size);
