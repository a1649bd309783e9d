// The catalogue's records and the door into it: admission by run mode.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "base/provenance.h"
#include "catalogue/audit_digests.h"
#include "catalogue/image_summary.h"
#include "catalogue/run_mode.h"
#include "catalogue/sum_plan.h"

enum class RomStatus : int32_t {
  Unchecked = 0,  // every record at admission
  Unique = 1,
  Duplicate = 2,
};

// One admitted image: where it was found and what its bytes summed to. The
// bytes themselves are gone once read; the SHA-256 digest stands for them.
// Nothing in the catalogue is released before the process ends.
struct RomEntry {
  Provenance origin;  // its display name is made from it, for output
  ImageSummary summary;
  RomStatus status;
  std::unique_ptr<AuditDigests> audit;  // only when the run takes audit digests
  int32_t order;                        // admission order: 0 for the first record
  RomEntry* next;                       // the next older record
};

// A run's catalogue, which the driver owns: the records, kept in place as
// the store grows and linked newest first, and what the size filter
// refused. Nothing in it is released while it lives.
struct Catalogue {
  std::deque<RomEntry> records;   // a deque: growing never moves a record, so the links stay good
  RomEntry* newest = nullptr;     // the newest record; `next` leads to the older ones
  int32_t count = 0;              // records admitted
  int32_t skipped = 0;            // images refused by the -m1/-m2 size filter
  std::vector<RomEntry*> sorted;  // `count` records in sorted order; empty until build_sorted_index
};

// Whether the size filter of `mode` admits an image of `size` bytes.
bool is_admitted_size(RunMode mode, uint64_t size);

// Admits one image with its provenance when `admitted` (what
// is_admitted_size said of its size, asked once per image), or counts it as
// skipped. A run in Pzc catalogues nothing and does not install it. An
// admitted image's summary must be complete (see summariser.h).
// `audit`, when given, is copied into the record.
void add_summarised_rom(Catalogue& catalogue, const Provenance& origin, const ImageSummary& summary, bool admitted,
                        const AuditDigests* audit = nullptr);

// The same for bytes in memory, summarised here by `plan`, of an image
// known by its name alone. Does nothing in Pzc.
void add_rom(Catalogue& catalogue, const SumPlan& plan, const char* name, uint64_t size, const uint8_t* bytes);
