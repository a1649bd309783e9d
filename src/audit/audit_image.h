// What the audit knows of a catalogued image: its place and sums, in the
// listing's order. Every pointer points into the caller's records, which
// outlive the audit.
#pragma once

#include <cstdint>

#include "base/provenance.h"
#include "catalogue/audit_digests.h"

// The image's bytes as the audit compares them; a digest not taken is null.
struct AuditForm {
  uint64_t size;
  uint32_t crc;
  const uint8_t* sha1;
  const uint8_t* sha256;
  const uint8_t* md5;
};

struct AuditImage {
  const Provenance* origin;  // where it lies; its display name is made from it for output
  AuditForm whole;
  const HeaderlessSummary* headerless;  // the block after a copier header, or null
  const uint8_t* chd_sha1 = nullptr;    // a CHD's header SHA-1, or null
};
