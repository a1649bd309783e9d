// Test images: random and text-like bytes, and images with a CRC-32 of our
// choosing, for collisions and CRC order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// `size` bytes from a seeded generator: incompressible, and the same each run.
std::string random_bytes(size_t size, unsigned seed);

// `size` bytes of numbered text lines: compressible.
std::string text_bytes(size_t size);

// The CRC-32 of the bytes, as zip and the catalogue compute it.
uint32_t crc32_of(const std::string& bytes);

// Overwrites the last four bytes of `image` (at least four long) so that its
// CRC-32 becomes `wanted_crc`. CRC-32 is linear, so four free bytes reach
// any value.
void force_crc(std::string& image, uint32_t wanted_crc);

// A copy of `bytes` whose last four bytes give it the CRC-32 `crc`.
std::string with_crc(std::string bytes, uint32_t crc);

// One Zstandard frame of `bytes`, with its checksum, from libzstd.
std::string zstd_frame(const std::string& bytes);

// One gzip member of `bytes` (header, deflate data, CRC-32 and length),
// from zlib.
std::string gzip_member(const std::string& bytes);
