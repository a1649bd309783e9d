// Names go out as they are when they are clean UTF-8; otherwise every
// control byte and every byte from 0x80 is written as %XX, as the listing
// writes names, so the XML stays well-formed and the name stays readable.
#include "dat/dat_writer.h"

#include <cinttypes>
#include <cstdint>
#include <string>

#include "base/file_replacement.h"
#include "base/utf8.h"

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

// XML also refuses U+FFFE and U+FFFF (EF BF BE, EF BF BF).
bool is_xml_noncharacter(const unsigned char* text) {
  return text[0] == 0xEF && text[1] == 0xBF && (text[2] == 0xBE || text[2] == 0xBF);
}

// A byte the listing's %XX form stands for, in a name that is `clean`.
bool is_escaped_byte(unsigned char byte, bool clean) {
  return byte < 0x20 || byte == 0x7F || (byte >= 0x80 && !clean);
}

void append_percent_form(std::string& out, unsigned char byte) {
  out += '%';
  out += "0123456789ABCDEF"[byte >> 4];
  out += "0123456789ABCDEF"[byte & 0xF];
}

void write_markup_escaped(std::FILE* out, const char* text) {
  const bool clean = is_clean_utf8(text);
  for (const char* pos = text; *pos != '\0'; ++pos) {
    const auto byte = static_cast<unsigned char>(*pos);
    if (byte == '&') {
      std::fputs("&amp;", out);
    } else if (byte == '<') {
      std::fputs("&lt;", out);
    } else if (byte == '>') {
      std::fputs("&gt;", out);
    } else if (byte == '"') {
      std::fputs("&quot;", out);
    } else if (is_escaped_byte(byte, clean)) {
      std::fprintf(out, "%%%c%c", "0123456789ABCDEF"[byte >> 4], "0123456789ABCDEF"[byte & 0xF]);
    } else {
      std::fputc(byte, out);
    }
  }
}

void write_hex(std::FILE* out, const char* label, const uint8_t* bytes, int size) {
  std::fprintf(out, " %s=\"", label);
  for (int k = 0; k < size; ++k) {
    std::fputc(hex_digits[bytes[k] >> 4], out);
    std::fputc(hex_digits[bytes[k] & 0xF], out);
  }
  std::fputc('"', out);
}

void write_attribute(std::FILE* out, const char* label, const char* text) {
  std::fprintf(out, " %s=\"", label);
  write_markup_escaped(out, text);
  std::fputc('"', out);
}

const char* status_name(DatRomStatus status) {
  switch (status) {
    case DatRomStatus::Good:
      return "good";
    case DatRomStatus::Verified:
      return "verified";
    case DatRomStatus::BadDump:
      return "baddump";
    case DatRomStatus::NoDump:
      return "nodump";
  }
  return "good";
}

void write_rom(std::FILE* out, const DatFile& dat, const DatRom& rom) {
  std::fputs("\t\t<rom", out);
  write_attribute(out, "name", dat_text(dat, rom.name));
  if (rom.fields & dat_has_size) std::fprintf(out, " size=\"%" PRIu64 "\"", rom.size);
  if (rom.fields & dat_has_crc) std::fprintf(out, " crc=\"%08" PRIx32 "\"", rom.crc);
  if (rom.fields & dat_has_md5) write_hex(out, "md5", rom.md5, dat_md5_size);
  if (rom.fields & dat_has_sha1) write_hex(out, "sha1", rom.sha1, dat_sha1_size);
  if (rom.fields & dat_has_sha256) write_hex(out, "sha256", rom.sha256, dat_sha256_size);
  if (rom.merge != 0) write_attribute(out, "merge", dat_text(dat, rom.merge));
  if (rom.fields & dat_has_status) write_attribute(out, "status", status_name(rom.status));
  std::fputs("/>\n", out);
}

void write_set(std::FILE* out, const DatFile& dat, const DatSet& set) {
  std::fputs("\t<game", out);
  write_attribute(out, "name", dat_text(dat, set.name));
  if (set.cloneof != 0) write_attribute(out, "cloneof", dat_text(dat, set.cloneof));
  if (set.romof != 0) write_attribute(out, "romof", dat_text(dat, set.romof));
  std::fputs(">\n\t\t<description>", out);
  write_markup_escaped(out, dat_text(dat, set.description != 0 ? set.description : set.name));
  std::fputs("</description>\n", out);
  for (uint32_t k = 0; k < set.rom_count; ++k) write_rom(out, dat, dat.roms[set.first_rom + k]);
  std::fputs("\t</game>\n", out);
}

}  // namespace

bool is_clean_utf8(const char* text) {
  const auto* pos = reinterpret_cast<const unsigned char*>(text);
  while (*pos != 0) {
    if (*pos < 0x20 || *pos == 0x7F) return false;
    const int size = utf8_sequence_length(pos);
    if (size == 0 || (size == 3 && is_xml_noncharacter(pos))) return false;
    pos += size;
  }
  return true;
}

bool write_dat(std::FILE* out, const DatFile& dat, const char* header_name) {
  std::fputs(
      "<?xml version=\"1.0\"?>\n"
      "<!DOCTYPE datafile PUBLIC \"-//Logiqx//DTD ROM Management Datafile//EN\" "
      "\"http://www.logiqx.com/Dats/datafile.dtd\">\n"
      "<datafile>\n\t<header>\n\t\t<name>",
      out);
  write_markup_escaped(out, header_name);
  std::fputs("</name>\n\t\t<description>", out);
  write_markup_escaped(out, header_name);
  std::fputs("</description>\n\t\t<author>imgchk</author>\n\t</header>\n", out);
  for (const DatSet& set : dat.sets) {
    if (set.rom_count != 0) write_set(out, dat, set);
  }
  std::fputs("</datafile>\n", out);
  return std::ferror(out) == 0;
}

namespace {

struct DatToWrite {
  const DatFile* dat;
  const char* header_name;
};

bool write_dat_to(std::FILE* out, const void* context) {
  const auto* to_write = static_cast<const DatToWrite*>(context);
  return write_dat(out, *to_write->dat, to_write->header_name);
}

}  // namespace

bool write_dat_file(const char* path, const DatFile& dat, const char* header_name) {
  const DatToWrite to_write{&dat, header_name};
  return replace_file_atomically(path, write_dat_to, &to_write);
}

std::string dat_form_of_name(std::string_view name) {
  const std::string text(name);
  const bool clean = is_clean_utf8(text.c_str());
  std::string form;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (is_escaped_byte(byte, clean)) {
      append_percent_form(form, byte);
    } else {
      form += c;
    }
  }
  return form;
}
