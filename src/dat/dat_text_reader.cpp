// clrmamepro's text DATs: words separated by white space, double-quoted
// strings as one word, "(" and ")" as words of their own opening and closing
// blocks. A block is `word ( key value ... )`; the blocks read are the
// header (`clrmamepro` or `emulator`) and the sets (`game`, `machine`,
// `resource`) with their `rom` and `disk` blocks. Any other block, and any
// value that is itself a block, is skipped whole.
//
// The tokenizer keeps only the word under way, so a piece may end anywhere.
#include "dat/dat_text_reader.h"

#include <new>
#include <string>
#include <string_view>

#include "dat/rom_fields.h"

namespace {

constexpr size_t max_word_size = size_t{64} << 10;
constexpr int max_skipped_depth = 64;

enum class Block : uint8_t { Top, Header, Set, Rom, Disk, Skipped };

// What the next word is: a block's name at the top, a key inside a block, or
// the value of the key before it.
enum class Expect : uint8_t { Word, OpenParen, Value };

// Keys that stand alone inside a rom block.
bool is_bare_rom_flag(std::string_view key) {
  return key == "baddump" || key == "nodump";
}

struct RomText {
  std::string name, size, crc, md5, sha1, sha256, status, merge;
  bool has_size, has_crc, has_md5, has_sha1, has_sha256, has_status;
};

}  // namespace

struct DatTextReader {
  DatFile* dat;
  DatError* error;
  uint64_t line = 1;
  uint64_t word_line = 1;  // where the word under way started
  std::string word;
  bool in_word = false;
  bool in_quotes = false;
  bool word_quoted = false;
  Block block = Block::Top;
  Block opening = Block::Top;  // the block a name announced, before its "("
  Expect expect = Expect::Word;
  std::string key;        // the key whose value comes next
  int skipped_depth = 0;  // open blocks inside a skipped one
  Block skipped_from = Block::Top;
  bool set_named = false;
  RomText rom;
};

namespace {

bool fail(DatTextReader& reader, const char* reason) {
  set_dat_error(*reader.error, reader.word_line, "%s", reason);
  return false;
}

// Keeps a header or set value. A NUL would end it early in every listing
// and written DAT, so it is refused.
bool keep(DatTextReader& reader, std::string_view text, DatText& out) {
  if (text.find('\0') != std::string_view::npos) {
    const char* const owner = reader.block == Block::Set ? "set" : "header";
    set_dat_error(*reader.error, reader.word_line, "%s %.20s holds a NUL byte", owner, reader.key.c_str());
    return false;
  }
  if (add_dat_text(*reader.dat, text.data(), text.size(), out)) return true;
  return fail(reader, "out of memory");
}

DatSet& current_set(DatTextReader& reader) {
  return reader.dat->sets[reader.dat->sets.count - 1];
}

Block block_named(DatTextReader& reader, std::string_view name) {
  if (reader.block == Block::Top) {
    if (name == "clrmamepro" || name == "emulator") return Block::Header;
    if (name == "game" || name == "machine" || name == "resource") return Block::Set;
    return Block::Skipped;
  }
  if (reader.block == Block::Set && name == "rom") return Block::Rom;
  if (reader.block == Block::Set && name == "disk") return Block::Disk;
  return Block::Skipped;
}

bool open_block(DatTextReader& reader) {
  reader.expect = Expect::Word;
  if (reader.opening == Block::Skipped) {
    reader.skipped_from = reader.block;
    reader.skipped_depth = 1;
    reader.block = Block::Skipped;
    return true;
  }
  reader.block = reader.opening;
  if (reader.block == Block::Set) {
    reader.set_named = false;
    if (!add_dat_set(*reader.dat, DatSet{})) return fail(reader, "out of memory");
  } else if (reader.block == Block::Rom) {
    reader.rom = RomText{};
  } else if (reader.block == Block::Disk) {
    ++reader.dat->disk_count;
    reader.rom = RomText{};
  }
  if (reader.dat->kind == DatKind::None) reader.dat->kind = DatKind::ClrMamePro;
  return true;
}

RomFields rom_fields_of(const RomText& text) {
  RomFields fields;
  fields.name = text.name;
  if (text.has_size) fields.size = text.size;
  if (text.has_crc) fields.crc = text.crc;
  if (text.has_md5) fields.md5 = text.md5;
  if (text.has_sha1) fields.sha1 = text.sha1;
  if (text.has_sha256) fields.sha256 = text.sha256;
  if (text.has_status) fields.status = text.status;
  if (!text.merge.empty()) fields.merge = text.merge;
  return fields;
}

bool close_rom(DatTextReader& reader) {
  return add_rom_fields(*reader.dat, rom_fields_of(reader.rom), reader.word_line, *reader.error);
}

bool close_block(DatTextReader& reader) {
  switch (reader.block) {
    case Block::Top:
      return fail(reader, "\")\" without a block to close");
    case Block::Skipped:
      if (--reader.skipped_depth == 0) reader.block = reader.skipped_from;
      return true;
    case Block::Rom:
      reader.block = Block::Set;
      return close_rom(reader);
    case Block::Disk:
      reader.block = Block::Set;
      return add_disk_fields(*reader.dat, rom_fields_of(reader.rom), reader.word_line, *reader.error);
    case Block::Set:
      reader.block = Block::Top;
      if (!reader.set_named) return fail(reader, "set without a name");
      return true;
    case Block::Header:
      reader.block = Block::Top;
      return true;
  }
  return true;
}

void take_rom_value(RomText& rom, std::string_view key, const std::string& value) {
  struct Slot {
    const char* key;
    std::string RomText::*text;
    bool RomText::*given;
  };
  static const Slot slots[] = {
      {"size", &RomText::size, &RomText::has_size},       {"crc", &RomText::crc, &RomText::has_crc},
      {"crc32", &RomText::crc, &RomText::has_crc},        {"md5", &RomText::md5, &RomText::has_md5},
      {"sha1", &RomText::sha1, &RomText::has_sha1},       {"sha256", &RomText::sha256, &RomText::has_sha256},
      {"status", &RomText::status, &RomText::has_status}, {"flags", &RomText::status, &RomText::has_status},
  };
  if (key == "name") rom.name = value;
  if (key == "merge") rom.merge = value;
  for (const Slot& slot : slots) {
    if (key != slot.key) continue;
    rom.*slot.text = value;
    rom.*slot.given = true;
  }
}

bool take_value(DatTextReader& reader, const std::string& value) {
  const std::string_view key = reader.key;
  switch (reader.block) {
    case Block::Header:
      if (key == "name") return keep(reader, value, reader.dat->name);
      if (key == "header") return keep(reader, value, reader.dat->detector);
      return true;
    case Block::Set:
      if (key == "name") {
        reader.set_named = !value.empty();
        return keep(reader, value, current_set(reader).name);
      }
      if (key == "description") return keep(reader, value, current_set(reader).description);
      if (key == "cloneof") return keep(reader, value, current_set(reader).cloneof);
      if (key == "romof") return keep(reader, value, current_set(reader).romof);
      return true;
    case Block::Rom:
    case Block::Disk:
      take_rom_value(reader.rom, key, value);
      return true;
    default:
      return true;
  }
}

bool take_word(DatTextReader& reader, const std::string& word, bool quoted) {
  const bool open = !quoted && word == "(";
  const bool close = !quoted && word == ")";
  if (reader.block == Block::Skipped) {
    if (open && ++reader.skipped_depth > max_skipped_depth) return fail(reader, "blocks nested too deep");
    return close ? close_block(reader) : true;
  }
  switch (reader.expect) {
    case Expect::OpenParen:
      if (!open) return fail(reader, "\"(\" expected");
      return open_block(reader);
    case Expect::Value:
      reader.expect = Expect::Word;
      if (close) return fail(reader, "value expected before \")\"");
      if (open) {
        reader.opening = Block::Skipped;
        return open_block(reader);
      }
      return take_value(reader, word);
    case Expect::Word:
      break;
  }
  if (close) return close_block(reader);
  if (open) return fail(reader, "unexpected \"(\"");
  if (reader.block == Block::Top || ((word == "rom" || word == "disk") && reader.block == Block::Set)) {
    reader.opening = block_named(reader, word);
    reader.expect = Expect::OpenParen;
    return true;
  }
  if ((reader.block == Block::Rom || reader.block == Block::Disk) && is_bare_rom_flag(word)) {
    reader.rom.status = word;
    reader.rom.has_status = true;
    return true;
  }
  reader.key = word;
  reader.expect = Expect::Value;
  return true;
}

bool end_word(DatTextReader& reader) {
  reader.in_word = false;
  const bool ok = take_word(reader, reader.word, reader.word_quoted);
  reader.word.clear();
  return ok;
}

bool add_to_word(DatTextReader& reader, char byte) {
  if (reader.word.size() >= max_word_size) return fail(reader, "word too long");
  reader.word.push_back(byte);
  return true;
}

bool take_byte(DatTextReader& reader, char byte) {
  if (reader.in_quotes) {
    if (byte == '"') {
      reader.in_quotes = false;
      return end_word(reader);
    }
    if (byte == '\n') return fail(reader, "quoted string not closed on its line");
    return add_to_word(reader, byte);
  }
  const bool space = byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n' || byte == '\f' || byte == '\v';
  if (space) return reader.in_word ? end_word(reader) : true;
  if (byte == '"' && !reader.in_word) {
    reader.in_quotes = reader.in_word = reader.word_quoted = true;
    reader.word_line = reader.line;
    return true;
  }
  if (!reader.in_word) {
    reader.in_word = true;
    reader.word_quoted = false;
    reader.word_line = reader.line;
  }
  return add_to_word(reader, byte);
}

bool finish_text(DatTextReader& reader) {
  if (reader.in_quotes) return fail(reader, "quoted string not closed");
  if (reader.in_word && !end_word(reader)) return false;
  reader.word_line = reader.line;
  if (reader.block != Block::Top || reader.expect != Expect::Word) return fail(reader, "block not closed at the end");
  if (reader.dat->kind == DatKind::None) return fail(reader, "not a DAT");
  return true;
}

}  // namespace

void DatTextReaderDeleter::operator()(DatTextReader* reader) const {
  delete reader;
}

DatTextReaderOwner begin_dat_text(DatFile& dat, DatError& error) {
  DatTextReaderOwner reader(new (std::nothrow) DatTextReader{});
  if (reader == nullptr) {
    set_dat_error(error, 0, "out of memory");
    return nullptr;
  }
  reader->dat = &dat;
  reader->error = &error;
  return reader;
}

bool feed_dat_text(DatTextReader& reader, const uint8_t* bytes, size_t size, bool last) {
  for (size_t i = 0; i < size; ++i) {
    const char byte = static_cast<char>(bytes[i]);
    if (!take_byte(reader, byte)) return false;
    if (byte == '\n') ++reader.line;
  }
  return !last || finish_text(reader);
}
