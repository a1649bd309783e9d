// The catalogue's records and the door into it: admission by run mode.
#pragma once

#include <cstdint>
#include <memory>

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

// The records live in the catalogue's own store, which keeps them in place
// as it grows; g_rom_list links them, newest first.
extern RomEntry* g_rom_list;
extern int32_t g_rom_count;
extern int32_t g_skipped;  // images refused by the -m1/-m2 size filter

// Whether the size filter of `mode` admits an image of `size` bytes.
bool is_admitted_size(RunMode mode, uint64_t size);

// Admits one image with its provenance when `admitted` (what
// is_admitted_size said of its size, asked once per image), or counts it as
// skipped. A run in Pzc catalogues nothing and does not install it. An
// admitted image's summary must be complete (see summariser.h).
// `audit`, when given, is copied into the record.
void add_summarised_rom(const Provenance& origin, const ImageSummary& summary, bool admitted,
                        const AuditDigests* audit = nullptr);

// The same for bytes in memory, summarised here by `plan`, of an image
// known by its name alone. Does nothing in Pzc.
void add_rom(const SumPlan& plan, const char* name, uint64_t size, const uint8_t* bytes);

// Releases every record and zeroes the counts. Only for tests and tools that
// build more than one catalogue in a process; a run never calls it.
void clear_catalogue();
