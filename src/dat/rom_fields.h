// A ROM as a reader found it, as text, and its checked conversion into the
// compact record.
#pragma once

#include <cstdint>
#include <string_view>

#include "dat/dat_error.h"
#include "dat/dat_file.h"

// Each field as the DAT wrote it; a null data() means the DAT did not give it.
struct RomFields {
  std::string_view name;
  std::string_view size;
  std::string_view crc;
  std::string_view md5;
  std::string_view sha1;
  std::string_view sha256;
  std::string_view status;
  std::string_view merge;
};

// Checks the fields (a name; a decimal size; CRC-32 of 8 hex digits, SHA-1
// of 40, SHA-256 of 64, MD5 of 32) and adds the ROM to the DAT's last set.
// False with the reason in `error` (at `line`).
bool add_rom_fields(DatFile& dat, const RomFields& fields, uint64_t line, DatError& error);

// Checks a disk's fields (a name; SHA-1 of 40 hex digits when given; the
// others are not read) and adds the disk to the DAT's last set. False with
// the reason in `error` (at `line`).
bool add_disk_fields(DatFile& dat, const RomFields& fields, uint64_t line, DatError& error);

// Parses `digits` hex digits into bytes; false for any other length or a
// byte that is not a hex digit.
bool parse_hex_bytes(std::string_view text, uint8_t* out, size_t byte_count);

enum class DecimalSize : uint8_t { Parsed, NotANumber, OutOfRange };

// A decimal size up to 2^62. Signs, spaces and hex are not numbers; digits
// worth more are out of range, told before they could wrap.
DecimalSize parse_decimal_size(std::string_view text, uint64_t& out);
