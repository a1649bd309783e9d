// The rest of the least work of summarising an image once it is read and its
// CRC-32 taken: its 16-bit byte sum and its SHA-256, through one OpenSSL
// context reused from image to image. The floors add it with --digest.
#pragma once

#include <openssl/types.h>

#include <cstddef>
#include <cstdint>

struct FloorDigest {
  EVP_MD* sha256 = nullptr;  // fetched once: a lookup per image costs more than a small image
  EVP_MD_CTX* context = nullptr;
  uint32_t sum = 0;     // of the image under way; only the low 16 bits count
  uint64_t folded = 0;  // every image's sum and digest folded together, for printing

  FloorDigest();  // stops the run with status 1 when OpenSSL cannot give SHA-256
  ~FloorDigest();
  FloorDigest(const FloorDigest&) = delete;
  FloorDigest& operator=(const FloorDigest&) = delete;
};

void begin_image(FloorDigest& digest);
void add_to_image(FloorDigest& digest, const uint8_t* bytes, size_t size);
void end_image(FloorDigest& digest);
