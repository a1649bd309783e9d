// What the audit knows of a catalogued image: its name and sums, in the
// listing's order. The records belong to the caller.
#pragma once

#include <cstdint>

#include "dat/dat_file.h"

enum AuditDigest : uint8_t {
  audit_has_sha1 = 1,
  audit_has_sha256 = 2,
  audit_has_md5 = 4,
};

// The image's bytes, or the block after its copier header.
struct AuditForm {
  uint64_t size;
  uint32_t crc;
  uint8_t digests;  // AuditDigest bits: which digests were taken
  uint8_t sha1[dat_sha1_size];
  uint8_t sha256[dat_sha256_size];
  uint8_t md5[dat_md5_size];
};

struct AuditImage {
  const char* name;  // display name, as the listing writes it before escaping
  AuditForm whole;
  AuditForm headerless;  // only when has_headerless
  bool has_headerless;
};
