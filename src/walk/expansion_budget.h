// How much may be unpacked from one archive file, whatever its formats, in
// two parts. What nesting multiplies (nested archives' blocks, which are
// held whole, and the images inside them) shares one part across all
// levels: deflate cannot pass 1,032:1 and archives inside archives barely
// compress, so only a crafted archive (copies of copies of highly
// compressed entries, or a 7z of a gigabyte of zeros) comes near it. Images
// streamed from the archive file itself only cost time, and a blank image
// packs far tighter than 1,032:1 by bzip2, LZMA, XZ or Zstandard: they have
// their own, larger part.
#pragma once

#include <cstdint>

struct ExpansionBudget {
  uint64_t nested_left;
  uint64_t own_images_left;
  bool exhausted;  // an entry would have passed it: the file's walk is over
};

// Empty and tiny entries still cost a walk; thousands of them count.
inline constexpr uint64_t least_entry_charge = 4096;

// 1,032 times the archive file's size, plus 64 MiB for what nesting
// multiplies and 16 GiB for the file's own images.
ExpansionBudget expansion_budget_for(uint64_t archive_size);

// The part an image at nesting `level` (1: in the archive file itself)
// draws on; nested archives always draw on `nested_left`.
uint64_t& image_budget_part(ExpansionBudget& budget, int level);

// Takes max(size, least_entry_charge) out of `part`; false, with the budget
// exhausted, when that would pass it.
bool charge_entry(ExpansionBudget& budget, uint64_t& part, uint64_t size);

// Takes `size` more bytes (of an entry whose size shows only as it is
// read) out of `part`, with no least charge.
bool charge_bytes(ExpansionBudget& budget, uint64_t& part, uint64_t size);

// Charges a nested archive refused for depth what it could unpack to if it
// were opened, since what it holds is never seen. Otherwise refusing would
// be free, and a fan-out of archives past the depth limit would fill
// standard error before the budget ends it.
bool charge_unopened_archive(ExpansionBudget& budget, uint64_t size);
