// The SHA-1 a CHD (compressed hunks of data: MAME's disk images) gives in
// its header, which a DAT's disk names; only the header is read.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int chd_sha1_size = 20;

// The longest header read, version 5's.
inline constexpr size_t chd_header_size_max = 124;

// From an image's first `size` bytes: true with the SHA-1 of the whole
// disk in `sha1` when they start a CHD header of version 3, 4 or 5 whose
// stated length is that version's and lies within them.
bool read_chd_sha1(const uint8_t* bytes, size_t size, uint8_t* sha1);
