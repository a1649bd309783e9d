// Summarising an image as its bytes stream past, in one pass.
#pragma once

#include <openssl/types.h>

#include <cstddef>
#include <cstdint>

#include "catalogue/audit_digests.h"
#include "catalogue/image_summary.h"
#include "catalogue/sum_plan.h"

// One image's summary under way. Only images the run mode admits get their
// sums and digest; any other is only counted, so it is only measured (and
// its CRC-32 taken when asked, for checking an archive entry). What to take
// is read from the plan once, as the image begins.
struct Summariser {
  ImageSummary summary;
  uint64_t done;  // bytes fed so far
  uint32_t sum_total;
  uint32_t segment_totals[4];
  uint16_t shift;
  bool takes_crc;
  bool digests;
  bool segment_sums;   // -m1's
  bool shift16;        // -m2's, kept in mode_sums[0]
  bool keeps_shift16;  // in summary.shift16 too, for the cache's row
  bool sha256;
  bool audits;      // audit digests are taken too (the plan's)
  EVP_MD_CTX* sha;  // reused from image to image
  AuditDigester audit;
};

// Whether OpenSSL offers SHA-256; ask once before the first summary, which
// takes it for granted.
bool is_sha256_available();

// Owns a summariser's digest context: one per thread. Running out of memory
// here, or in any digest call, goes to the new handler, as a failed new does.
struct SummariserHolder {
  Summariser summariser{};
  SummariserHolder();
  ~SummariserHolder();
  SummariserHolder(const SummariserHolder&) = delete;
  SummariserHolder& operator=(const SummariserHolder&) = delete;
};

// Starts an image of `size` bytes, summed as `plan` says. With takes_crc
// false the caller supplies the CRC-32 (an archive entry's, taken while
// checking it); with digests false (a size the run mode refuses) only the
// bytes are counted.
void begin_summary(Summariser& summariser, const SumPlan& plan, uint64_t size, bool takes_crc, bool digests);

void feed_summary(Summariser& summariser, const uint8_t* bytes, size_t size);

// The summary of the bytes fed; the caller has checked that they were all
// `size` bytes. With audits, summariser.audit.digests holds the audit
// digests.
const ImageSummary& finish_summary(Summariser& summariser);

// The whole summary of bytes in memory, for tests and small callers.
ImageSummary summarise_bytes(const SumPlan& plan, uint64_t size, const uint8_t* bytes);
