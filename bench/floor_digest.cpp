// The byte sum and SHA-256 the floors take with --digest.
#include "floor_digest.h"

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "floor: SHA-256: %s\n", what);
  std::exit(1);
}

}  // namespace

FloorDigest::FloorDigest() : sha256(EVP_MD_fetch(nullptr, "SHA256", nullptr)), context(EVP_MD_CTX_new()) {
  if (sha256 == nullptr || context == nullptr) fail("not available");
}

FloorDigest::~FloorDigest() {
  EVP_MD_CTX_free(context);
  EVP_MD_free(sha256);
}

void begin_image(FloorDigest& digest) {
  digest.sum = 0;
  if (EVP_DigestInit_ex(digest.context, digest.sha256, nullptr) != 1) fail("cannot start");
}

void add_to_image(FloorDigest& digest, const uint8_t* bytes, size_t size) {
  uint32_t sum = digest.sum;  // a local, so the loop vectorises
  for (size_t i = 0; i < size; ++i) sum += bytes[i];
  digest.sum = sum;
  if (EVP_DigestUpdate(digest.context, bytes, size) != 1) fail("cannot update");
}

void end_image(FloorDigest& digest) {
  uint8_t sha[EVP_MAX_MD_SIZE];
  unsigned int sha_size = 0;
  if (EVP_DigestFinal_ex(digest.context, sha, &sha_size) != 1 || sha_size < sizeof(uint64_t)) fail("cannot finish");
  uint64_t head = 0;
  std::memcpy(&head, sha, sizeof head);
  digest.folded ^= head + uint16_t(digest.sum);
}
