// The dialect is decided at the first byte that is neither white space nor
// a byte order mark: "<" opens XML, anything else is clrmamepro text.
#include "dat/dat_loading.h"

#include "dat/dat_source.h"
#include "dat/dat_text_reader.h"
#include "dat/dat_xml_reader.h"

namespace {

struct DialectReader {
  DatFile* dat;
  DatError* error;
  DatXmlReaderOwner xml;
  DatTextReaderOwner text;
  uint64_t newlines_before;  // white space before the first word, for the text reader's lines
  size_t bom_bytes_seen;
};

constexpr uint8_t byte_order_mark[] = {0xEF, 0xBB, 0xBF};

bool is_white_space(uint8_t byte) {
  return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n';
}

bool begin_dialect(DialectReader& reader, bool is_xml) {
  if (is_xml) {
    reader.xml = begin_dat_xml(*reader.dat, *reader.error);
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

// Skips what comes before the first word, then picks the reader.
bool take_piece(void* context, const uint8_t* bytes, size_t size, bool last) {
  DialectReader& reader = *static_cast<DialectReader*>(context);
  if (reader.xml != nullptr || reader.text != nullptr) return pass_on(reader, bytes, size, last);
  size_t skipped = 0;
  while (skipped < size) {
    const uint8_t byte = bytes[skipped];
    if (reader.bom_bytes_seen < sizeof byte_order_mark && byte == byte_order_mark[reader.bom_bytes_seen] &&
        reader.bom_bytes_seen == skipped) {
      ++reader.bom_bytes_seen;
    } else if (is_white_space(byte)) {
      reader.bom_bytes_seen = sizeof byte_order_mark;
      if (byte == '\n') ++reader.newlines_before;
    } else {
      break;
    }
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

bool finish_load(bool read, DatFile& dat, DatError& error) {
  if (!read) return false;
  if (finish_dat(dat)) return true;
  set_dat_error(error, 0, "out of memory");
  return false;
}

}  // namespace

bool load_dat_file(const char* path, DatFile& dat, DatError& error) {
  if (!begin_dat(dat)) {
    set_dat_error(error, 0, "out of memory");
    return false;
  }
  DialectReader reader{&dat, &error, nullptr, nullptr, 0, 0};
  return finish_load(pump_dat_file(path, DatSink{&reader, take_piece}, error), dat, error);
}

bool load_dat_memory(const uint8_t* bytes, size_t size, DatFile& dat, DatError& error) {
  if (!begin_dat(dat)) {
    set_dat_error(error, 0, "out of memory");
    return false;
  }
  DialectReader reader{&dat, &error, nullptr, nullptr, 0, 0};
  return finish_load(pump_dat_memory(bytes, size, DatSink{&reader, take_piece}, error), dat, error);
}
