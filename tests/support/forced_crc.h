// Test images with a CRC-32 of our choosing, for collisions and CRC order.
#pragma once

#include <cstdint>
#include <string>

// Overwrites the last four bytes of `image` (at least four long) so that its
// CRC-32 becomes `wanted_crc`. CRC-32 is linear, so four free bytes reach
// any value.
void force_crc(std::string& image, uint32_t wanted_crc);

// The CRC-32 of the bytes, as the catalogue computes it.
uint32_t crc_of(const std::string& image);
