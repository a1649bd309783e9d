// What an audit needs of an image beyond the listing's summary: SHA-1, MD5
// when asked, and the size, CRC-32 and SHA-1 of the block after a copier
// header. Taken in the same pass as the summary, piece by piece.
#pragma once

#include <openssl/types.h>

#include <cstddef>
#include <cstdint>

#include "base/header_rules.h"

inline constexpr int sha1_size = 20;
inline constexpr int md5_size = 16;

enum DigestTaken : uint8_t {
  taken_sha1 = 1,
  taken_md5 = 2,
  taken_headerless = 4,  // a header rule applied: `headerless` holds the block's sums
  taken_chd = 8,         // the image is a CHD: `chd_sha1` holds its header's SHA-1
};

struct HeaderlessSummary {
  uint64_t size;
  uint32_t crc;
  uint8_t sha1[sha1_size];
};

struct AuditDigests {
  uint8_t taken;  // DigestTaken bits
  uint8_t sha1[sha1_size];
  uint8_t md5[md5_size];
  HeaderlessSummary headerless;
  uint8_t chd_sha1[sha1_size];
};

// Which digests every image costs; the driver decides it before the walk.
// Without an audit, only the listing's SHA-256.
struct DigestPlan {
  bool sha256 = true;  // the listing's digest
  bool sha1 = false;   // with md5 and header_rules: what makes audit digests
  bool md5 = false;
  const HeaderRules* header_rules = nullptr;  // null: no header-less summary
  bool chd = false;                           // a DAT has disks: look for a CHD header
};

// Whether images get AuditDigests at all.
inline bool plans_audit_digests(const DigestPlan& plan) {
  return plan.sha1 || plan.md5 || plan.header_rules != nullptr || plan.chd;
}

// One image's audit digests under way; contexts and the header window are
// made once and reused from image to image (one per thread).
struct AuditDigester {
  EVP_MD_CTX* sha1;
  EVP_MD_CTX* md5;
  EVP_MD_CTX* headerless_sha1;
  uint8_t* head;  // header_rule_window bytes: an image's first bytes, until the rules decide
  size_t head_size;
  size_t head_wanted;  // min(image size, header_rule_window)
  bool decided;
  HeaderSkip skip;
  uint64_t image_size;
  uint64_t done;
  const HeaderRules* header_rules;  // the plan's, for this image
  bool chd;
  AuditDigests digests;
};

// Starts an image of `size` bytes by `plan`. False when a digest cannot be
// started or memory for the header window cannot be had.
bool begin_audit_digests(AuditDigester& digester, const DigestPlan& plan, uint64_t size);

// False when a digest fails.
bool feed_audit_digests(AuditDigester& digester, const uint8_t* bytes, size_t size);

// The digests of the bytes fed (all `size` of them); false when a digest
// fails.
bool finish_audit_digests(AuditDigester& digester);

// Releases the contexts and the window; the digester is then all zero.
void free_audit_digester(AuditDigester& digester);
