// UTF-8 checked byte by byte, for the writers of JSON and XML: overlong
// forms, surrogates and code points past U+10FFFF are invalid, as are cut
// sequences.
#pragma once

#include <cstddef>
#include <cstdint>

// The length of the valid UTF-8 sequence at `p` (1 to 4), or 0; a NUL
// inside a sequence cuts it, and so does the end of the `available` bytes.
int utf8_sequence_length(const unsigned char* p, size_t available = SIZE_MAX);
