// Checking and converting the text of a ROM's fields.
#include "dat/rom_fields.h"

#include <cstring>

namespace {

int hex_value(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
  if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
  return -1;
}

struct DigestField {
  const char* label;
  std::string_view RomFields::*text;
  size_t byte_count;
  uint8_t bit;
};

// Text to quote in a message: the start of a value, printable bytes only.
void quote_value(std::string_view value, char* out, size_t out_size) {
  size_t used = 0;
  for (const char byte : value) {
    if (used + 4 >= out_size) {
      std::memcpy(out + used, "...", 3);
      used += 3;
      break;
    }
    const auto code = static_cast<unsigned char>(byte);
    out[used++] = code >= 0x20 && code < 0x7F ? byte : '?';
  }
  out[used] = '\0';
}

bool parse_status(std::string_view text, DatRomStatus& status) {
  struct Name {
    const char* text;
    DatRomStatus status;
  };
  static constexpr Name names[] = {{"good", DatRomStatus::Good},
                                   {"verified", DatRomStatus::Verified},
                                   {"baddump", DatRomStatus::BadDump},
                                   {"nodump", DatRomStatus::NoDump}};
  for (const Name& name : names) {
    if (text == name.text) {
      status = name.status;
      return true;
    }
  }
  return false;
}

bool take_digests(const RomFields& fields, DatRom& rom, uint64_t line, DatError& error) {
  const DigestField digests[] = {{"crc", &RomFields::crc, 4, dat_has_crc},
                                 {"sha1", &RomFields::sha1, dat_sha1_size, dat_has_sha1},
                                 {"sha256", &RomFields::sha256, dat_sha256_size, dat_has_sha256},
                                 {"md5", &RomFields::md5, dat_md5_size, dat_has_md5}};
  uint8_t crc_bytes[4] = {};
  uint8_t* const targets[] = {crc_bytes, rom.sha1, rom.sha256, rom.md5};
  for (size_t k = 0; k < sizeof digests / sizeof digests[0]; ++k) {
    const std::string_view text = fields.*digests[k].text;
    if (text.data() == nullptr) continue;
    if (!parse_hex_bytes(text, targets[k], digests[k].byte_count)) {
      char quoted[48];
      quote_value(text, quoted, sizeof quoted);
      set_dat_error(error, line, "%s \"%s\" is not %zu hex digits", digests[k].label, quoted,
                    digests[k].byte_count * 2);
      return false;
    }
    rom.fields |= digests[k].bit;
  }
  rom.crc = uint32_t{crc_bytes[0]} << 24 | uint32_t{crc_bytes[1]} << 16 | uint32_t{crc_bytes[2]} << 8 | crc_bytes[3];
  return true;
}

}  // namespace

bool parse_hex_bytes(std::string_view text, uint8_t* out, size_t byte_count) {
  if (text.size() != byte_count * 2) return false;
  for (size_t k = 0; k < byte_count; ++k) {
    const int high = hex_value(text[2 * k]);
    const int low = hex_value(text[2 * k + 1]);
    if (high < 0 || low < 0) return false;
    out[k] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

DecimalSize parse_decimal_size(std::string_view text, uint64_t& out) {
  constexpr uint64_t largest = uint64_t{1} << 62;
  if (text.empty()) return DecimalSize::NotANumber;
  uint64_t value = 0;
  bool too_large = false;
  for (const char digit : text) {
    if (digit < '0' || digit > '9') return DecimalSize::NotANumber;
    const auto digit_value = static_cast<uint64_t>(digit - '0');
    // Compared before multiplying, so that no value can wrap into range.
    too_large = too_large || value > (largest - digit_value) / 10;
    if (!too_large) value = value * 10 + digit_value;
  }
  if (too_large) return DecimalSize::OutOfRange;
  out = value;
  return DecimalSize::Parsed;
}

bool add_rom_fields(DatFile& dat, const RomFields& fields, uint64_t line, DatError& error) {
  if (fields.name.empty()) {
    set_dat_error(error, line, "rom without a name");
    return false;
  }
  // A NUL would end the name early in every listing and written DAT.
  const bool name_holds_nul = fields.name.find('\0') != std::string_view::npos;
  if (name_holds_nul || fields.merge.find('\0') != std::string_view::npos) {
    set_dat_error(error, line, "rom %s holds a NUL byte", name_holds_nul ? "name" : "merge");
    return false;
  }
  DatRom rom{};
  if (fields.size.data() != nullptr) {
    const DecimalSize parsed = parse_decimal_size(fields.size, rom.size);
    if (parsed != DecimalSize::Parsed) {
      char quoted[48];
      quote_value(fields.size, quoted, sizeof quoted);
      const char* const fault = parsed == DecimalSize::OutOfRange ? "is out of range" : "is not a number";
      set_dat_error(error, line, "size \"%s\" %s", quoted, fault);
      return false;
    }
    rom.fields |= dat_has_size;
  }
  if (!take_digests(fields, rom, line, error)) return false;
  if (fields.status.data() != nullptr && parse_status(fields.status, rom.status)) rom.fields |= dat_has_status;
  if (rom.status != DatRomStatus::NoDump && !(rom.fields & dat_has_size)) {
    set_dat_error(error, line, "rom without a size");
    return false;
  }
  if (!add_dat_text(dat, fields.name.data(), fields.name.size(), rom.name) ||
      !add_dat_text(dat, fields.merge.data(), fields.merge.size(), rom.merge) || !add_dat_rom(dat, rom)) {
    set_dat_error(error, line, "out of memory");
    return false;
  }
  return true;
}

bool add_disk_fields(DatFile& dat, const RomFields& fields, uint64_t line, DatError& error) {
  if (fields.name.empty() || fields.name.find('\0') != std::string_view::npos) {
    set_dat_error(error, line, fields.name.empty() ? "disk without a name" : "disk name holds a NUL byte");
    return false;
  }
  DatDisk disk{};
  if (fields.sha1.data() != nullptr) {
    if (!parse_hex_bytes(fields.sha1, disk.sha1, dat_sha1_size)) {
      char quoted[48];
      quote_value(fields.sha1, quoted, sizeof quoted);
      set_dat_error(error, line, "sha1 \"%s\" is not 40 hex digits", quoted);
      return false;
    }
    disk.fields |= dat_has_sha1;
  }
  if (fields.status.data() != nullptr && parse_status(fields.status, disk.status)) disk.fields |= dat_has_status;
  if (!add_dat_text(dat, fields.name.data(), fields.name.size(), disk.name) ||
      !add_dat_text(dat, fields.merge.data(), fields.merge.size(), disk.merge) || !add_dat_disk(dat, disk)) {
    set_dat_error(error, line, "out of memory");
    return false;
  }
  return true;
}
