// A byte order mark at the very start decides the encoding: UTF-8, or
// UTF-16 in either byte order, which is turned into UTF-8 before a reader
// sees it, so that both readers only ever meet UTF-8 (or, without a mark,
// what the XML declaration names). The dialect is decided at the first
// byte after the mark that is not white space: "<" opens XML, anything else
// is clrmamepro text.
#include "dat/dat_loading.h"

#include <cstring>
#include <memory>
#include <new>

#include "dat/dat_source.h"
#include "dat/dat_text_reader.h"
#include "dat/dat_xml_reader.h"
#include "dat/utf16_decoder.h"

namespace {

enum class Encoding : uint8_t { Undecided, AsDeclared, Utf8, Utf16 };

// UTF-8 made from UTF-16 is passed on in pieces of this size.
constexpr size_t utf8_piece_size = size_t{64} << 10;

struct DialectReader {
  DatFile* dat = nullptr;
  DatError* error = nullptr;
  DatXmlReaderOwner xml;
  DatTextReaderOwner text;
  uint64_t newlines_before = 0;  // white space before the first word, for the text reader's lines
  Encoding encoding = Encoding::Undecided;
  uint8_t lead[3] = {};  // the first bytes, until they tell whether a mark is there
  size_t lead_size = 0;
  Utf16Decoder utf16{};
  std::unique_ptr<uint8_t[]> utf8_piece;  // for UTF-16 only
};

constexpr uint8_t utf8_mark[] = {0xEF, 0xBB, 0xBF};

bool is_white_space(uint8_t byte) {
  return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n';
}

bool begin_dialect(DialectReader& reader, bool is_xml) {
  if (is_xml) {
    reader.xml = begin_dat_xml(*reader.dat, *reader.error, reader.encoding != Encoding::AsDeclared);
    return reader.xml != nullptr;
  }
  reader.text = begin_dat_text(*reader.dat, *reader.error);
  if (reader.text == nullptr) return false;
  static const uint8_t newline = '\n';
  for (uint64_t k = 0; k < reader.newlines_before; ++k) feed_dat_text(*reader.text, &newline, 1, false);
  return true;
}

bool pass_on(DialectReader& reader, const uint8_t* bytes, size_t size, bool last) {
  if (reader.xml != nullptr) return feed_dat_xml(*reader.xml, bytes, size, last);
  return feed_dat_text(*reader.text, bytes, size, last);
}

// Skips the white space before the first word, then picks the reader.
bool take_text(DialectReader& reader, const uint8_t* bytes, size_t size, bool last) {
  if (reader.xml != nullptr || reader.text != nullptr) return pass_on(reader, bytes, size, last);
  size_t skipped = 0;
  while (skipped < size && is_white_space(bytes[skipped])) {
    if (bytes[skipped] == '\n') ++reader.newlines_before;
    ++skipped;
  }
  if (skipped == size) {
    if (!last) return true;
    set_dat_error(*reader.error, 0, "empty file");
    return false;
  }
  if (!begin_dialect(reader, bytes[skipped] == '<')) return false;
  return pass_on(reader, bytes + skipped, size - skipped, last);
}

bool take_utf16(DialectReader& reader, const uint8_t* bytes, size_t size, bool last) {
  const uint8_t* const end = bytes + size;
  while (bytes != end) {
    size_t made = 0;
    if (!decode_utf16(reader.utf16, bytes, end, reader.utf8_piece.get(), utf8_piece_size, made)) {
      set_dat_error(*reader.error, reader.utf16.line, "UTF-16 text holds an unpaired surrogate");
      return false;
    }
    if (made != 0 && !take_text(reader, reader.utf8_piece.get(), made, false)) return false;
  }
  if (!last) return true;
  if (reader.utf16.has_odd_byte) {
    set_dat_error(*reader.error, reader.utf16.line, "UTF-16 text has an odd number of bytes");
    return false;
  }
  if (reader.utf16.high_surrogate != 0) {
    set_dat_error(*reader.error, reader.utf16.line, "UTF-16 text holds an unpaired surrogate");
    return false;
  }
  return take_text(reader, nullptr, 0, true);
}

bool take_encoded(DialectReader& reader, const uint8_t* bytes, size_t size, bool last) {
  if (reader.encoding == Encoding::Utf16) return take_utf16(reader, bytes, size, last);
  return take_text(reader, bytes, size, last);
}

// The encoding the lead bytes name, and how many of them the mark takes. A
// file too short for a whole UTF-8 mark that holds the start of one is
// taken as nothing but a mark.
size_t decide_encoding(DialectReader& reader) {
  const uint8_t* const lead = reader.lead;
  if (reader.lead_size >= 2 && (lead[0] == 0xFF || lead[0] == 0xFE) && lead[1] == (lead[0] ^ 0x01)) {
    reader.encoding = Encoding::Utf16;
    reader.utf16 = Utf16Decoder{lead[0] == 0xFE, false, 0, 0, 1};
    return 2;
  }
  if (reader.lead_size > 0 && std::memcmp(lead, utf8_mark, reader.lead_size) == 0) {
    reader.encoding = Encoding::Utf8;
    return reader.lead_size;
  }
  reader.encoding = Encoding::AsDeclared;
  return 0;
}

// Holds back the first bytes until the mark, if any, is known.
bool take_piece(void* context, const uint8_t* bytes, size_t size, bool last) {
  DialectReader& reader = *static_cast<DialectReader*>(context);
  if (reader.encoding == Encoding::Undecided) {
    const size_t room = sizeof reader.lead - reader.lead_size;
    const size_t taken = size < room ? size : room;
    if (taken != 0) std::memcpy(reader.lead + reader.lead_size, bytes, taken);
    reader.lead_size += taken;
    bytes += taken;
    size -= taken;
    if (reader.lead_size < sizeof reader.lead && !last) return true;
    const size_t mark_size = decide_encoding(reader);
    if (reader.encoding == Encoding::Utf16) {
      reader.utf8_piece.reset(new (std::nothrow) uint8_t[utf8_piece_size]);
      if (reader.utf8_piece == nullptr) {
        set_dat_error(*reader.error, 0, "out of memory");
        return false;
      }
    }
    if (!take_encoded(reader, reader.lead + mark_size, reader.lead_size - mark_size, false)) return false;
  }
  return take_encoded(reader, bytes, size, last);
}

// Reads through `pump`, which is given the sink that picks the reader.
template <typename Pump>
bool load_with(Pump pump, DatFile& dat, DatError& error) {
  if (!begin_dat(dat)) {
    set_dat_error(error, 0, "out of memory");
    return false;
  }
  DialectReader reader;
  reader.dat = &dat;
  reader.error = &error;
  if (!pump(DatSink{&reader, take_piece})) return false;
  if (finish_dat(dat)) return true;
  set_dat_error(error, 0, "out of memory");
  return false;
}

}  // namespace

bool load_dat_file(const char* path, DatFile& dat, DatError& error) {
  return load_with([&](const DatSink& sink) { return pump_dat_file(path, sink, error); }, dat, error);
}

bool load_dat_memory(const uint8_t* bytes, size_t size, DatFile& dat, DatError& error) {
  return load_with([&](const DatSink& sink) { return pump_dat_memory(bytes, size, sink, error); }, dat, error);
}
