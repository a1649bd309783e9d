// RAR blocks. RAR 4: every block starts with the low 16 bits of the CRC-32
// of the block from its type byte on, then type, flags and size; a file
// block's flag 0x8000 says a 4-byte data size follows. RAR 5: every header
// starts with the CRC-32 of what follows it, then its size as a variable
// length integer (7 bits a byte, low first, top bit "more"), then type,
// flags and the type's fields.
#include "support/rar_builder.h"

#include <cstdint>

#include "support/test_bytes.h"

namespace {

void put_u16(std::string& out, uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void put_u32(std::string& out, uint32_t value) {
  put_u16(out, value & 0xFFFF);
  put_u16(out, value >> 16);
}

void put_vint(std::string& out, uint64_t value) {
  while (value >= 0x80) {
    out += static_cast<char>((value & 0x7F) | 0x80);
    value >>= 7;
  }
  out += static_cast<char>(value);
}

// RAR 4: CRC, then the block from its type on (its size field included).
std::string rar4_block(uint8_t type, uint16_t flags, const std::string& fields) {
  std::string body;
  body += static_cast<char>(type);
  put_u16(body, flags);
  put_u16(body, static_cast<uint32_t>(2 + body.size() + 2 + fields.size()));
  body += fields;
  std::string block;
  put_u16(block, crc32_of(body) & 0xFFFF);
  return block + body;
}

// RAR 5: CRC-32 of (size, header), size, header.
std::string rar5_header(const std::string& header) {
  std::string sized;
  put_vint(sized, header.size());
  sized += header;
  std::string block;
  put_u32(block, crc32_of(sized));
  return block + sized;
}

constexpr uint32_t dos_time_2020 = (40u << 25) | (1u << 21) | (1u << 16);  // 2020-01-01 00:00
constexpr uint32_t unix_regular_file = 0100644;

}  // namespace

std::string rar4_stored(const RarFiles& files) {
  std::string out = std::string("Rar!\x1A\x07\x00", 7);
  out += rar4_block(0x73, 0, std::string(6, '\0'));  // archive header: two reserved fields
  for (const auto& [name, content] : files) {
    std::string fields;
    put_u32(fields, static_cast<uint32_t>(content.size()));  // packed size
    put_u32(fields, static_cast<uint32_t>(content.size()));  // unpacked size
    fields += '\x03';                                        // host: Unix
    put_u32(fields, crc32_of(content));
    put_u32(fields, dos_time_2020);
    fields += static_cast<char>(20);  // version needed: 2.0
    fields += '\x30';                 // method: store
    put_u16(fields, static_cast<uint32_t>(name.size()));
    put_u32(fields, unix_regular_file);
    fields += name;
    out += rar4_block(0x74, 0x8000, fields) + content;
  }
  return out + rar4_block(0x7B, 0x4000, "");
}

std::string rar5_stored(const RarFiles& files) {
  std::string out = std::string("Rar!\x1A\x07\x01\x00", 8);
  out += rar5_header(std::string("\x01\x00\x00", 3));  // main header: type, flags, archive flags
  for (const auto& [name, content] : files) {
    std::string header;
    put_vint(header, 2);               // file header
    put_vint(header, 0x0002);          // a data area follows
    put_vint(header, content.size());  // its size
    put_vint(header, 0x0004);          // file flags: CRC-32 present
    put_vint(header, content.size());  // unpacked size
    put_vint(header, unix_regular_file);
    put_u32(header, crc32_of(content));
    put_vint(header, 0);  // compression: version 0, method 0 (store)
    put_vint(header, 1);  // host: Unix
    put_vint(header, name.size());
    header += name;
    out += rar5_header(header) + content;
  }
  return out + rar5_header(std::string("\x05\x00\x00", 3));  // end of archive
}
