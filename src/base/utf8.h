// UTF-8 checked byte by byte, for the writers of JSON and XML: overlong
// forms, surrogates and code points past U+10FFFF are invalid, as are cut
// sequences.
#pragma once

// The length of the valid UTF-8 sequence at `p` (1 to 4), or 0; a NUL
// inside a sequence cuts it.
int utf8_sequence_length(const unsigned char* p);
