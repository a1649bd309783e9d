// JSON strings from names of any bytes.
#pragma once

#include <string>

// Appends `text` as a JSON string with its quotes: valid UTF-8 as it is,
// '"', '\\' and control bytes escaped, each byte that is not part of valid
// UTF-8 as U+FFFD. Returns whether `text` was valid UTF-8.
bool append_json_string(std::string& out, const char* text);

// Appends `"key":` and the string; when it is not valid UTF-8, also
// `,"key_hex":` with its bytes in lower-case hex, so that they can be had back.
void append_json_name(std::string& out, const char* key, const char* text);
