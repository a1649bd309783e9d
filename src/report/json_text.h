// JSON strings from names of any bytes.
#pragma once

#include <cstdint>
#include <string>

// Appends `text` as a JSON string with its quotes: valid UTF-8 as it is,
// '"', '\\' and control bytes escaped, each byte that is not part of valid
// UTF-8 as U+FFFD. Returns whether `text` was valid UTF-8.
bool append_json_string(std::string& out, const char* text);

// Appends `"key":` and the string; when it is not valid UTF-8, also
// `,"key_hex":` with its bytes in lower-case hex, so that they can be had back.
void append_json_name(std::string& out, const char* key, const char* text);

// `,"key":` and the value: `digits` lower-case hex digits in quotes, a
// number, true or false.
void append_json_hex(std::string& out, const char* key, uint32_t value, int digits);
void append_json_number(std::string& out, const char* key, uint64_t value);
void append_json_bool(std::string& out, const char* key, bool value);

// The bytes as lower-case hex in quotes; with a key, after `,"key":`.
void append_json_hex_value(std::string& out, const uint8_t* bytes, size_t size);
void append_json_hex_bytes(std::string& out, const char* key, const uint8_t* bytes, size_t size);

// Ends the line and writes it to standard output.
void write_json_line(std::string& line);
