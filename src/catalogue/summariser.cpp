// One pass over an image's bytes: CRC-32, byte sum, the mode's sums and the
// SHA-256 digest (or, when auditing, the audit digests), each piece while it
// is still in the cache.
#include "catalogue/summariser.h"

#include <libdeflate.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "catalogue/sums.h"

namespace {

// Fetched once: looking the algorithm up again for every image costs more
// than digesting a small one.
const EVP_MD* sha256_algorithm() {
  static EVP_MD* const algorithm = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  return algorithm;
}

// With the algorithm there (is_sha256_available), a digest call fails only
// when OpenSSL cannot allocate: the same as a failed new, so the same
// decision, the program's new handler, which ends the run.
[[noreturn]] void digest_failed() {
  if (const std::new_handler handler = std::get_new_handler()) handler();
  std::abort();
}

void check_digest_call(int result) {
  if (result != 1) digest_failed();
}

void check_digest_step(bool done) {
  if (!done) digest_failed();
}

}  // namespace

bool is_sha256_available() {
  return sha256_algorithm() != nullptr;
}

SummariserHolder::SummariserHolder() {
  summariser.sha = EVP_MD_CTX_new();
  if (summariser.sha == nullptr) digest_failed();
}

SummariserHolder::~SummariserHolder() {
  EVP_MD_CTX_free(summariser.sha);
  free_audit_digester(summariser.audit);
}

void begin_summary(Summariser& summariser, const SumPlan& plan, uint64_t size, bool takes_crc, bool digests) {
  EVP_MD_CTX* const sha = summariser.sha;
  const AuditDigester audit = summariser.audit;  // its contexts and window are reused
  summariser = Summariser{};
  summariser.sha = sha;
  summariser.audit = audit;
  summariser.summary.size = size;
  summariser.takes_crc = takes_crc;
  summariser.digests = digests || plan.takes_every_sum;
  // The mode's own sums only: a cache row that lacks another mode's is
  // read again by a run in that mode.
  summariser.segment_sums = plan.mode == RunMode::M1;
  summariser.shift16 = plan.mode == RunMode::M2 && (!plan.takes_every_sum || size == m2_image_size);
  summariser.keeps_shift16 = plan.takes_every_sum;
  // An audit marks no duplicates: SHA-256 only when the plan asks for it.
  summariser.sha256 = plan.digests.sha256;
  summariser.audits = summariser.digests && plans_audit_digests(plan.digests);
  if (summariser.audits) check_digest_step(begin_audit_digests(summariser.audit, plan.digests, size));
  if (summariser.digests && summariser.sha256) {
    check_digest_call(EVP_DigestInit_ex(sha, sha256_algorithm(), nullptr));
  }
}

void feed_summary(Summariser& summariser, const uint8_t* bytes, size_t size) {
  if (summariser.takes_crc) summariser.summary.crc = libdeflate_crc32(summariser.summary.crc, bytes, size);
  if (summariser.digests) {
    summariser.sum_total = add_to_sum(summariser.sum_total, size, bytes);
    if (summariser.segment_sums) {
      add_to_segment_sums(summariser.summary.size, summariser.done, bytes, size, summariser.segment_totals);
    }
    if (summariser.shift16) summariser.shift = continue_shift16(summariser.shift, size, bytes);
    if (summariser.sha256) check_digest_call(EVP_DigestUpdate(summariser.sha, bytes, size));
    if (summariser.audits) check_digest_step(feed_audit_digests(summariser.audit, bytes, size));
  }
  summariser.done += size;
}

const ImageSummary& finish_summary(Summariser& summariser) {
  ImageSummary& summary = summariser.summary;
  if (!summariser.digests) return summary;
  summary.sum = static_cast<uint16_t>(summariser.sum_total);
  // A 2 KiB image has no segments, so -m2 shows its checksum in their place.
  if (summariser.shift16) {
    summary.mode_sums[0] = summariser.shift;
  } else {
    for (int k = 0; k < 4; ++k) summary.mode_sums[k] = static_cast<uint16_t>(summariser.segment_totals[k]);
  }
  if (summariser.keeps_shift16 && summary.size == m2_image_size) summary.shift16 = summariser.shift;
  unsigned int digest_size = 0;
  if (summariser.sha256) check_digest_call(EVP_DigestFinal_ex(summariser.sha, summary.sha256, &digest_size));
  if (summariser.audits) check_digest_step(finish_audit_digests(summariser.audit));
  return summary;
}

ImageSummary summarise_bytes(const SumPlan& plan, uint64_t size, const uint8_t* bytes) {
  SummariserHolder holder;
  begin_summary(holder.summariser, plan, size, true, true);
  feed_summary(holder.summariser, bytes, static_cast<size_t>(size));
  return finish_summary(holder.summariser);
}
