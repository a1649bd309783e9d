// The audit's digests. The header rules look at an image's first bytes, so
// those are kept back (up to header_rule_window of them) until the rules
// have decided; then the kept bytes, and every later piece, feed the
// header-less sums for the part that falls inside the block the rule chose.
#include "catalogue/audit_digests.h"

#include <libdeflate.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>

#include "catalogue/chd_header.h"

static_assert(header_rule_window >= chd_header_size_max, "the head kept holds a CHD header");

namespace {

// Fetched once: looking an algorithm up for every image costs more than
// digesting a small one.
const EVP_MD* sha1_algorithm() {
  static EVP_MD* const algorithm = EVP_MD_fetch(nullptr, "SHA1", nullptr);
  return algorithm;
}

const EVP_MD* md5_algorithm() {
  static EVP_MD* const algorithm = EVP_MD_fetch(nullptr, "MD5", nullptr);
  return algorithm;
}

bool start(EVP_MD_CTX*& context, const EVP_MD* algorithm) {
  if (algorithm == nullptr) return false;
  if (context == nullptr) context = EVP_MD_CTX_new();
  return context != nullptr && EVP_DigestInit_ex(context, algorithm, nullptr) == 1;
}

bool feed_headerless(AuditDigester& digester, const uint8_t* bytes, uint64_t offset, size_t size) {
  const HeaderSkip& skip = digester.skip;
  const uint64_t first = offset > skip.start ? offset : skip.start;
  const uint64_t end = offset + size < skip.end ? offset + size : skip.end;
  if (first >= end) return true;
  const uint8_t* inside = bytes + (first - offset);
  const auto inside_size = static_cast<size_t>(end - first);
  HeaderlessSummary& headerless = digester.digests.headerless;
  headerless.crc = libdeflate_crc32(headerless.crc, inside, inside_size);
  return EVP_DigestUpdate(digester.headerless_sha1, inside, inside_size) == 1;
}

// The first bytes are in: the CHD header, then the header rules.
bool decide(AuditDigester& digester) {
  digester.decided = true;
  if (digester.chd && read_chd_sha1(digester.head, digester.head_size, digester.digests.chd_sha1)) {
    digester.digests.taken |= taken_chd;
  }
  if (digester.header_rules == nullptr) return true;
  digester.skip = decide_header_skip(*digester.header_rules, digester.head, digester.head_size, digester.image_size);
  if (!digester.skip.applies) return true;
  if (!start(digester.headerless_sha1, sha1_algorithm())) return false;
  digester.digests.taken |= taken_headerless;
  digester.digests.headerless.size = digester.skip.end - digester.skip.start;
  return feed_headerless(digester, digester.head, 0, digester.head_size);
}

// Keeps back the first bytes; true with `used` set to how many were kept.
bool keep_head(AuditDigester& digester, const uint8_t* bytes, size_t size, size_t& used) {
  used = digester.head_wanted - digester.head_size < size ? digester.head_wanted - digester.head_size : size;
  std::memcpy(digester.head + digester.head_size, bytes, used);
  digester.head_size += used;
  if (digester.head_size < digester.head_wanted) return true;
  return decide(digester);
}

}  // namespace

bool begin_audit_digests(AuditDigester& digester, const DigestPlan& plan, uint64_t size) {
  digester.digests = AuditDigests{};
  digester.done = 0;
  digester.image_size = size;
  digester.head_size = 0;
  digester.header_rules = plan.header_rules;
  digester.chd = plan.chd;
  digester.decided = plan.header_rules == nullptr && !plan.chd;
  digester.skip = HeaderSkip{};
  digester.skip.end = size;
  digester.head_wanted = size < header_rule_window ? static_cast<size_t>(size) : header_rule_window;
  if (plan.sha1) {
    if (!start(digester.sha1, sha1_algorithm())) return false;
    digester.digests.taken |= taken_sha1;
  }
  if (plan.md5) {
    if (!start(digester.md5, md5_algorithm())) return false;
    digester.digests.taken |= taken_md5;
  }
  if (!digester.decided && digester.head == nullptr) {
    digester.head = static_cast<uint8_t*>(std::malloc(header_rule_window));
    if (digester.head == nullptr) return false;
  }
  return true;
}

bool feed_audit_digests(AuditDigester& digester, const uint8_t* bytes, size_t size) {
  const uint8_t taken = digester.digests.taken;
  if ((taken & taken_sha1) && EVP_DigestUpdate(digester.sha1, bytes, size) != 1) return false;
  if ((taken & taken_md5) && EVP_DigestUpdate(digester.md5, bytes, size) != 1) return false;
  const uint64_t offset = digester.done;
  digester.done += size;
  if (!digester.decided) {
    size_t used = 0;
    if (!keep_head(digester, bytes, size, used)) return false;
    if (!digester.decided) return true;
    bytes += used;
    size -= used;
    return !(digester.digests.taken & taken_headerless) || feed_headerless(digester, bytes, offset + used, size);
  }
  return !(taken & taken_headerless) || feed_headerless(digester, bytes, offset, size);
}

bool finish_audit_digests(AuditDigester& digester) {
  unsigned int digest_size = 0;
  AuditDigests& digests = digester.digests;
  if ((digests.taken & taken_sha1) && EVP_DigestFinal_ex(digester.sha1, digests.sha1, &digest_size) != 1) return false;
  if ((digests.taken & taken_md5) && EVP_DigestFinal_ex(digester.md5, digests.md5, &digest_size) != 1) return false;
  if (!digester.decided && !decide(digester)) return false;
  if (digests.taken & taken_headerless) {
    return EVP_DigestFinal_ex(digester.headerless_sha1, digests.headerless.sha1, &digest_size) == 1;
  }
  return true;
}

void free_audit_digester(AuditDigester& digester) {
  EVP_MD_CTX_free(digester.sha1);
  EVP_MD_CTX_free(digester.md5);
  EVP_MD_CTX_free(digester.headerless_sha1);
  std::free(digester.head);
  digester = AuditDigester{};
}
