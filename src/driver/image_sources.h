// A ROM's bytes for the rebuild, from the images that matched it this run,
// each opened again from where the walk found it. An image matched in its
// header-less form gives only the block after its copier header.
#pragma once

#include <cstdint>

#include "base/header_rules.h"
#include "base/provenance.h"
#include "rebuild/rebuild_rom.h"

struct ImageCandidate {
  const Provenance* origin;
  uint64_t whole_size;  // the image's size with any header
  bool without_header;  // matched in its header-less form
};

// What a ROM is poured from: its candidates in turn, the next one taken
// when one cannot be opened again before any byte of it was poured.
struct ImageSourceState {
  const ImageCandidate* candidates;
  uint32_t candidate_count;
  uint32_t used;  // the candidate last poured from
  const HeaderRules* rules;
  const char* set_name;  // for the test seam below
  int spool_fd;          // the first candidate's bytes read already (see solid_sources.h), or -1
  uint64_t spool_size;
};

RomSource image_rom_source(ImageSourceState& state);

// Test seam: called once a piece of a ROM of the set has been poured (a
// test may stop the run there, a file half written).
extern void (*g_after_rebuild_piece)(const char* set_name);
